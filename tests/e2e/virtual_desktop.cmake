# The window tests of a cross-built test program inside Wine's virtual desktop, where
# display modes change as on Windows, so the full-screen switch runs too. Wine's
# explorer does not pass the program's exit status on, so the verdict comes from
# GoogleTest's XML report: every test passed and each one went to full screen.
# The desktop runs in a Wine prefix of its own whose server is ended afterwards:
# a virtual desktop stays on the display as long as its prefix's server, and would
# keep the keyboard from the windows of the tests that run after this one.
#   cmake -DPROGRAM=... -DFILTER=... -DWORK=<dir> -P virtual_desktop.cmake
file(MAKE_DIRECTORY "${WORK}")
set(xml "${WORK}/virtual_desktop.xml")
file(REMOVE "${xml}")
set(ENV{WINEPREFIX} "${WORK}/wineprefix")
set(ENV{WINEDEBUG} "-all")
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
if(NOT EXISTS "${WORK}/wineprefix/system.reg")
  execute_process(COMMAND wineboot --init OUTPUT_QUIET ERROR_QUIET TIMEOUT 120)
endif()
execute_process(COMMAND wine explorer /desktop=zvtest,1280x1024 "${PROGRAM}"
                        "--gtest_filter=${FILTER}" "--gtest_output=xml:virtual_desktop.xml"
                WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status TIMEOUT 300)
execute_process(COMMAND wineserver -k)
if(NOT status EQUAL 0 OR NOT EXISTS "${xml}")
  message(FATAL_ERROR "no test report from the virtual desktop (status ${status})")
endif()
file(READ "${xml}" report)
string(REGEX MATCH "<testsuites tests=\"([0-9]+)\" failures=\"([0-9]+)\" disabled=\"[0-9]+\" errors=\"([0-9]+)\"" totals "${report}")
set(tests "${CMAKE_MATCH_1}")
set(failures "${CMAKE_MATCH_2}")
set(errors "${CMAKE_MATCH_3}")
string(REGEX MATCHALL "name=\"full_screen\" value=\"seen\"" switched "${report}")
list(LENGTH switched switched)
message(STATUS "${tests} tests, ${failures} failures, ${errors} errors, ${switched} full-screen switches")
if(tests STREQUAL "" OR tests EQUAL 0 OR NOT failures EQUAL 0 OR NOT errors EQUAL 0 OR NOT switched EQUAL tests)
  message(FATAL_ERROR "the window tests in the virtual desktop did not all pass with a full-screen switch:\n${report}")
endif()
