# A scripted run of the cross-built program under the emulator: the entries piped to
# its standard input, then its report compared byte for byte with the golden one.
# Under Wine the program's "c:\invar.txt" is drive_c/invar.txt in the prefix.
#   cmake -DEMULATOR=... -DPROGRAM=... -DENTRIES="1;0;..." -DLINE_END=LF|CRLF
#         -DREPORT=<prefix>/drive_c/invar.txt -DGOLDEN=<file> -DWORK=<dir> -P scripted_run.cmake
set(end "\n")
if(LINE_END STREQUAL "CRLF")
  set(end "\r\n")
endif()
set(input "")
foreach(entry IN LISTS ENTRIES)
  string(APPEND input "${entry}${end}")
endforeach()
file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/input.txt" "${input}")
file(REMOVE "${REPORT}")

# No display: the run stays on the console, as a piped run does on Linux.
set(ENV{DISPLAY} "")
string(REPLACE " " ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} "${PROGRAM}"
                INPUT_FILE "${WORK}/input.txt" OUTPUT_VARIABLE output ERROR_VARIABLE errors
                RESULT_VARIABLE status TIMEOUT 60 WORKING_DIRECTORY "${WORK}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "exit status ${status}; standard error:\n${errors}")
endif()
if(NOT errors STREQUAL "")
  message(FATAL_ERROR "unexpected standard error:\n${errors}")
endif()
string(FIND "${output}" " -Ende Geradenermittlung-" closing)
if(closing EQUAL -1)
  message(FATAL_ERROR "the transcript on standard output lacks its closing line:\n${output}")
endif()
if(NOT EXISTS "${REPORT}")
  message(FATAL_ERROR "no report at ${REPORT}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${REPORT}" "${GOLDEN}" RESULT_VARIABLE differs)
if(differs)
  file(COPY_FILE "${REPORT}" "${WORK}/invar.txt.actual")
  message(FATAL_ERROR "report differs from ${GOLDEN}; actual kept as ${WORK}/invar.txt.actual")
endif()
