# Writes the gzipped manual page of one program from its --help and --version
# (run at build time by the manpages target):
#   cmake -DHELP2MAN=... -DGZIP=... -DPROGRAM=<built program> -DNAME=<program name>
#         -DSUMMARY=<one line> -DOUTPUT=<name.1.gz> [-DCOMMANDS=<a;b;c>] [-DSEE_ALSO=<x;y>]
#         -P GenerateManPage.cmake
# COMMANDS: subcommands whose own --help becomes a COMMANDS section.
cmake_minimum_required(VERSION 3.25)

# roff text: backslashes and hyphens escaped, no line starting with a control character.
function(roff_escape text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# One subcommand's help (CLI11's layout: summary, usage, "Options:", then
# "Positionals:" and "Options:" with "  NAME   description" rows, a long NAME
# putting its description on the next line) as a subsection with one tagged
# paragraph per argument.
function(command_section command out)
  execute_process(COMMAND ${PROGRAM} ${command} --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NAME} ${command} --help failed (${result})")
  endif()
  string(REPLACE ";" "\\;" help "${help}")
  string(REPLACE "\n" ";" lines "${help}")
  list(GET lines 0 summary)
  roff_escape("${summary}" summary)
  set(text ".SS \"${NAME} ${command}\"\n${summary}\n")
  set(in_options FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^Usage: (.*)$")
      roff_escape("${CMAKE_MATCH_1}" usage)
      string(APPEND text ".PP\n\\fB${usage}\\fR\n")
    elseif(line STREQUAL "Options:" OR line STREQUAL "Positionals:")
      set(in_options TRUE)
    elseif(in_options AND line MATCHES "^  ([^ ].*[^ ])   +([^ ].*)$")
      roff_escape("${CMAKE_MATCH_1}" option)
      roff_escape("${CMAKE_MATCH_2}" description)
      string(APPEND text ".TP\n\\fB${option}\\fR\n${description}\n")
    elseif(in_options AND line MATCHES "^  ([^ ].*[^ ])$")
      roff_escape("${CMAKE_MATCH_1}" option)
      string(APPEND text ".TP\n\\fB${option}\\fR\n")
    elseif(in_options AND line MATCHES "^      +([^ ].*)$")
      roff_escape("${CMAKE_MATCH_1}" description)
      string(APPEND text "${description}\n")
    endif()
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

get_filename_component(work ${OUTPUT} DIRECTORY)
set(include ${work}/${NAME}.h2m)
set(sections "")
if(COMMANDS)
  string(APPEND sections "[COMMANDS]\nEach command takes the options listed with it.\n")
  foreach(command IN LISTS COMMANDS)
    command_section(${command} section)
    string(APPEND sections "${section}")
  endforeach()
endif()
if(SEE_ALSO)
  set(references "")
  foreach(page IN LISTS SEE_ALSO)
    string(REPLACE "-" "\\-" page "${page}")
    list(APPEND references "\\fB${page}\\fR(1)")
  endforeach()
  list(JOIN references ",\n" see_also)
  string(APPEND sections "[SEE ALSO]\n${see_also}\n")
endif()
file(WRITE ${include} "${sections}")

execute_process(COMMAND ${HELP2MAN} --no-info --name=${SUMMARY} --include=${include}
                        --output=${work}/${NAME}.1 ${PROGRAM}
                RESULT_VARIABLE result ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "help2man ${NAME} failed: ${error}")
endif()
execute_process(COMMAND ${GZIP} -9 -n -c ${work}/${NAME}.1 OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip ${NAME}.1 failed")
endif()
