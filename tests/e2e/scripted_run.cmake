# A scripted run of the cross-built program under the emulator, or of the installed
# program without one: the entries piped to its standard input, then its exit, its
# standard error and its report checked. Under Wine the program's "c:\invar.txt" is
# drive_c/invar.txt in the prefix; without an emulator it is invar.txt in WORK.
#   cmake [-DEMULATOR=...] -DPROGRAM=... -DENTRIES="1;0;..." -DLINE_END=LF|CRLF
#         -DREPORT=<prefix>/drive_c/invar.txt -DWORK=<dir>
#         [-DGOLDEN=<file>]             the report equals this file byte for byte
#         [-DREPORT_START="line|..."]   the report begins with these lines
#         [-DSTDOUT=closed]             standard output closed: the report is unchanged
#                                       and no other file appears
#         [-DREPORT_BLOCKED=ON]         a directory in the report's place: the dialogue
#                                       still runs to its end, then one line on standard
#                                       error names the report, and the status is 1
#         -P scripted_run.cmake
set(end "\n")
if(LINE_END STREQUAL "CRLF")
  set(end "\r\n")
endif()
set(input "")
foreach(entry IN LISTS ENTRIES)
  string(APPEND input "${entry}${end}")
endforeach()
file(REMOVE_RECURSE "${WORK}" "${REPORT}")
file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/input.txt" "${input}")
if(REPORT_BLOCKED)
  file(MAKE_DIRECTORY "${REPORT}")
endif()

# No display: the run stays on the console, as a piped run does on Linux.
set(ENV{DISPLAY} "")
string(REPLACE " " ";" command "${EMULATOR}")
if(STDOUT STREQUAL "closed")
  set(command sh -c "exec \"$@\" >&-" sh ${command})
endif()
execute_process(COMMAND ${command} "${PROGRAM}"
                INPUT_FILE "${WORK}/input.txt" OUTPUT_VARIABLE output ERROR_VARIABLE errors
                RESULT_VARIABLE status TIMEOUT 60 WORKING_DIRECTORY "${WORK}")
if(REPORT_BLOCKED)
  file(REMOVE_RECURSE "${REPORT}")
  if(NOT status EQUAL 1 OR NOT errors MATCHES "^invar: c:\\\\invar\\.txt: [^\n]+\n$")
    message(FATAL_ERROR "expected status 1 and one line naming the report, got ${status}:\n${errors}")
  endif()
  foreach(line " uneigentlicher u - Wert !" " -Ende Geradenermittlung-")
    string(FIND "${output}" "${line}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "the transcript lacks \"${line}\":\n${output}")
    endif()
  endforeach()
  return()
endif()

if(NOT status EQUAL 0)
  message(FATAL_ERROR "exit status ${status}; standard error:\n${errors}")
endif()
if(NOT errors STREQUAL "")
  message(FATAL_ERROR "unexpected standard error:\n${errors}")
endif()
if(STDOUT STREQUAL "closed")
  file(GLOB left RELATIVE "${WORK}" "${WORK}/*")
  if(NOT left STREQUAL "input.txt")
    message(FATAL_ERROR "files besides the input: ${left}")
  endif()
else()
  string(FIND "${output}" " -Ende Geradenermittlung-" closing)
  if(closing EQUAL -1)
    message(FATAL_ERROR "the transcript on standard output lacks its closing line:\n${output}")
  endif()
endif()
if(NOT EXISTS "${REPORT}")
  message(FATAL_ERROR "no report at ${REPORT}")
endif()
if(GOLDEN)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${REPORT}" "${GOLDEN}" RESULT_VARIABLE differs)
  if(differs)
    file(COPY_FILE "${REPORT}" "${WORK}/invar.txt.actual")
    message(FATAL_ERROR "report differs from ${GOLDEN}; actual kept as ${WORK}/invar.txt.actual")
  endif()
endif()
if(REPORT_START)
  # Compared as hexadecimal: a report read as text loses its carriage returns.
  string(REPLACE "|" "\r\n" start "${REPORT_START}\r\n")
  string(HEX "${start}" start)
  string(LENGTH "${start}" length)
  math(EXPR length "${length} / 2")
  file(READ "${REPORT}" head LIMIT ${length} HEX)
  file(READ "${REPORT}" report)
  string(FIND "${report}" " -Ende Geradenermittlung-" closing)
  if(NOT head STREQUAL start OR closing EQUAL -1)
    message(FATAL_ERROR "the report does not begin with \"${REPORT_START}\" or lacks its closing line:\n${report}")
  endif()
endif()
