# Included by the test scripts that run Windows programs under wine.
# In: WINDOWS_DIR, the mingw32 preset's build folder. Out: SEP_SKIP_REASON
# (empty when wine runs 32-bit programs here) and sep_wine(), which runs a
# Windows program with the build's own wine prefix (WINDOWS_DIR/wineprefix),
# WINEDEBUG=-all, no display and no Mono or Gecko installer, so that no dialog
# opens. A fresh prefix is made on first use (about ten seconds).
set(SEP_SKIP_REASON "")
set(SEP_WINE_ENV
  "WINEPREFIX=${WINDOWS_DIR}/wineprefix" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml=" "DISPLAY=")

# sep_wine(OUT_VAR RC_VAR program args...): stdout and stderr together. The
# output goes through a file: the wineserver that the first call starts
# would hold a pipe open (and the call waiting) for seconds after the
# program ends.
function(sep_wine out_var rc_var)
  string(RANDOM LENGTH 12 tag)
  set(capture "${WINDOWS_DIR}/wine-output-${tag}.txt")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${SEP_WINE_ENV} ${SEP_WINE} ${ARGN}
    OUTPUT_FILE "${capture}" ERROR_FILE "${capture}" RESULT_VARIABLE rc)
  file(READ "${capture}" output)
  file(REMOVE "${capture}")
  # wine's own notes on making the prefix are not the program's output
  string(REGEX REPLACE "wine: (created the configuration directory|configuration in)[^\n]*\n" "" output "${output}")
  set(${out_var} "${output}" PARENT_SCOPE)
  set(${rc_var} "${rc}" PARENT_SCOPE)
endfunction()

find_program(SEP_WINE wine)
if(NOT SEP_WINE)
  set(SEP_SKIP_REASON "wine is not installed (scripts/setup.sh installs wine and wine32:i386)")
elseif(NOT EXISTS "${WINDOWS_DIR}/bin/wine_probe.exe")
  set(SEP_SKIP_REASON "the Windows build is missing: cmake --preset mingw32 && cmake --build --preset mingw32")
else()
  sep_wine(probe_output probe_rc "${WINDOWS_DIR}/bin/wine_probe.exe")
  if(NOT probe_rc EQUAL 0 OR NOT probe_output MATCHES "wine runs 32-bit Windows programs")
    string(STRIP "${probe_output}" probe_output)
    set(SEP_SKIP_REASON
      "wine cannot run 32-bit Windows programs on this machine (a kernel without 32-bit support cannot; exit ${probe_rc}: ${probe_output})")
  endif()
endif()
