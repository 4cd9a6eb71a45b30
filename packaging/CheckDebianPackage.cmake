# Builds the Debian package into a scratch folder and checks it (run by ctest):
# it holds the three programs, the desktop files, the manual pages (which
# render) and the bash completion; it carries the project's version; and
# lintian finds neither errors nor warnings in it.
#   cmake -DBUILD_DIR=... -DDPKG_DEB=... -DLINTIAN=... -DMAN=... -DVERSION=... -P CheckDebianPackage.cmake

# What the package installs must be built first; up to date this costs nothing.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target zelto zelto-sim zelto-presets manpages
                        debian_changelog
                RESULT_VARIABLE result OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "building the package's programs failed:\n${log}")
endif()

set(out ${BUILD_DIR}/packaging/deb-check)
file(REMOVE_RECURSE ${out})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G DEB -B ${out} --config ${BUILD_DIR}/CPackConfig.cmake
                RESULT_VARIABLE result OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${log}")
endif()
file(GLOB debs ${out}/*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one package in ${out}, found: ${debs}")
endif()

execute_process(COMMAND ${DPKG_DEB} --contents ${debs} OUTPUT_VARIABLE contents RESULT_VARIABLE result)
execute_process(COMMAND ${DPKG_DEB} --field ${debs} Depends OUTPUT_VARIABLE depends)
execute_process(COMMAND ${DPKG_DEB} --field ${debs} Version OUTPUT_VARIABLE version
                OUTPUT_STRIP_TRAILING_WHITESPACE)
set(manuals ./usr/share/man/man1/zelto.1.gz ./usr/share/man/man1/zelto-presets.1.gz
            ./usr/share/man/man1/zelto-sim.1.gz)
foreach(path ./usr/bin/zelto-presets ./usr/bin/zelto ./usr/bin/zelto-sim
        ./usr/share/applications/org.zelto.presets.desktop
        ./usr/share/icons/hicolor/scalable/apps/org.zelto.presets.svg
        ./usr/share/metainfo/org.zelto.presets.metainfo.xml
        ./usr/share/bash-completion/completions/zelto
        ./usr/share/doc/zelto-presets/copyright ./usr/share/doc/zelto-presets/changelog.gz
        ${manuals})
  string(FIND "${contents}" "${path}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${path} missing in the package:\n${contents}")
  endif()
endforeach()
if(NOT depends MATCHES "libqt6widgets6")
  message(FATAL_ERROR "the package does not depend on Qt Widgets: ${depends}")
endif()
if(NOT version STREQUAL VERSION)
  message(FATAL_ERROR "the package's version is ${version}, the project's ${VERSION}")
endif()

# The manual pages as the package installs them render, with their options.
set(tree ${out}/tree)
execute_process(COMMAND ${DPKG_DEB} --extract ${debs} ${tree} RESULT_VARIABLE result)
foreach(page ${manuals})
  execute_process(COMMAND ${MAN} --warnings -l ${tree}/${page}
                  OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT warnings STREQUAL "" OR NOT text MATCHES "SYNOPSIS|Usage"
     OR NOT text MATCHES "--help" OR NOT text MATCHES "${VERSION}")
    message(FATAL_ERROR "man -l ${page} (status ${result}):\n${warnings}\n${text}")
  endif()
endforeach()

# lintian: any error or warning fails; informational notes do not.
execute_process(COMMAND ${LINTIAN} --fail-on error,warning --allow-root ${debs}
                OUTPUT_VARIABLE report ERROR_VARIABLE report RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lintian (status ${result}):\n${report}")
endif()
file(REMOVE_RECURSE ${out})
