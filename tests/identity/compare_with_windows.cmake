# cmake -DWINDOWS_DIR=... -DRUNNER=sep-scenarios -DLINUX_DUMP=... -DWINDOWS_DUMP=...
#       -P compare_with_windows.cmake
# Renders the scenarios with the Windows build under wine and compares the
# dump byte for byte with the Linux one. Prints "SKIPPED: reason" where wine
# cannot run here.
include(${CMAKE_CURRENT_LIST_DIR}/../windows/wine.cmake)
if(SEP_SKIP_REASON)
  file(REMOVE "${LINUX_DUMP}")
  message("SKIPPED: ${SEP_SKIP_REASON}")
  return()
endif()
file(REMOVE "${WINDOWS_DUMP}")
string(TIMESTAMP started "%s")
sep_wine(output rc "${WINDOWS_DIR}/bin/sep-scenarios.exe" render
  "${WINDOWS_DIR}/plugins/ulvo.sep" "${WINDOWS_DIR}/plugins/tessarn.sep" "${WINDOWS_DUMP}")
string(TIMESTAMP finished "%s")
math(EXPR seconds "${finished} - ${started}")
message("${output}")
message("Windows render under wine: ${seconds} s")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the Windows render failed (exit ${rc})")
endif()
execute_process(COMMAND "${RUNNER}" compare "${LINUX_DUMP}" "${WINDOWS_DUMP}"
  OUTPUT_VARIABLE compared ERROR_VARIABLE compared RESULT_VARIABLE rc)
message("${compared}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the Windows build does not compute what the Linux build computes (the dumps are kept: ${LINUX_DUMP}, ${WINDOWS_DUMP})")
endif()
# About 100 MB each; kept only when they differ.
file(REMOVE "${LINUX_DUMP}" "${WINDOWS_DUMP}")
