# Builds the Debian package into a scratch folder and checks that it holds
# the three programs and the desktop files (run by ctest).
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
foreach(path ./usr/bin/zelto-presets ./usr/bin/zelto ./usr/bin/zelto-sim
        ./usr/share/applications/org.zelto.presets.desktop
        ./usr/share/icons/hicolor/scalable/apps/org.zelto.presets.svg
        ./usr/share/metainfo/org.zelto.presets.metainfo.xml)
  string(FIND "${contents}" "${path}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${path} missing in the package:\n${contents}")
  endif()
endforeach()
if(NOT depends MATCHES "libqt6widgets6")
  message(FATAL_ERROR "the package does not depend on Qt Widgets: ${depends}")
endif()
file(REMOVE_RECURSE ${out})
