# Included by the test scripts that run Windows programs under wine.
# In: WINDOWS_DIR, the mingw32 preset's build folder. Out: SEP_SKIP_REASON
# (empty when wine runs 32-bit programs here) and sep_wine(), which runs a
# Windows program with the build's own wine prefix (WINDOWS_DIR/wineprefix),
# WINEDEBUG=-all, no display and no Mono or Gecko installer, so that no dialog
# opens. A fresh prefix is made on first use (about ten seconds).
set(SEP_SKIP_REASON "")
set(SEP_WINE_ENV
  "WINEPREFIX=${WINDOWS_DIR}/wineprefix" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml=" "DISPLAY=")

# sep_wine(OUT_VAR RC_VAR program args... [TIMEOUT seconds]): stdout and
# stderr together. The
# output goes through a file: the wineserver that the first call starts
# would hold a pipe open (and the call waiting) for seconds after the
# program ends.
function(sep_wine out_var rc_var)
  cmake_parse_arguments(PARSE_ARGV 2 wine "" "TIMEOUT" "")
  set(limit "")
  if(wine_TIMEOUT)
    set(limit TIMEOUT ${wine_TIMEOUT})
  endif()
  string(RANDOM LENGTH 12 tag)
  set(capture "${WINDOWS_DIR}/wine-output-${tag}.txt")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${SEP_WINE_ENV} ${SEP_WINE} ${wine_UNPARSED_ARGUMENTS}
    OUTPUT_FILE "${capture}" ERROR_FILE "${capture}" RESULT_VARIABLE rc ${limit})
  file(READ "${capture}" output)
  file(REMOVE "${capture}")
  # wine's own notes on making the prefix are not the program's output
  string(REGEX REPLACE "wine: (created the configuration directory|configuration in)[^\n]*\n" "" output "${output}")
  set(${out_var} "${output}" PARENT_SCOPE)
  set(${rc_var} "${rc}" PARENT_SCOPE)
endfunction()

# Where binfmt_misc hands i386 programs to qemu-i386 (a kernel without 32-bit
# support; scripts/setup.sh registers it there), wine's own 32-bit loader
# runs under the emulator too and never finishes starting its prefix.
set(SEP_QEMU_I386 "")
if(EXISTS /proc/sys/fs/binfmt_misc/qemu-i386)
  file(READ /proc/sys/fs/binfmt_misc/qemu-i386 binfmt_entry)
  if(binfmt_entry MATCHES "^enabled")
    set(SEP_QEMU_I386 1)
  endif()
endif()

# A wine that cannot start may wait for ever; the probe gets this long.
set(SEP_WINE_PROBE_SECONDS 120)

find_program(SEP_WINE wine)
if(NOT SEP_WINE)
  set(SEP_SKIP_REASON "wine is not installed (scripts/setup.sh installs wine and wine32:i386)")
elseif(NOT EXISTS "${WINDOWS_DIR}/bin/wine_probe.exe")
  set(SEP_SKIP_REASON "the Windows build is missing: cmake --preset mingw32 && cmake --build --preset mingw32")
elseif(SEP_QEMU_I386)
  set(SEP_SKIP_REASON
    "wine cannot run 32-bit Windows programs on this machine: its i386 programs run through qemu-i386 (binfmt_misc), and wine does not start under it")
else()
  sep_wine(probe_output probe_rc "${WINDOWS_DIR}/bin/wine_probe.exe" TIMEOUT ${SEP_WINE_PROBE_SECONDS})
  if(NOT probe_rc EQUAL 0)
    # what a probe that timed out left running
    execute_process(COMMAND ${CMAKE_COMMAND} -E env ${SEP_WINE_ENV} wineserver -k
      OUTPUT_QUIET ERROR_QUIET TIMEOUT 30)
  endif()
  if(NOT probe_rc EQUAL 0 OR NOT probe_output MATCHES "wine runs 32-bit Windows programs")
    string(STRIP "${probe_output}" probe_output)
    set(SEP_SKIP_REASON
      "wine cannot run 32-bit Windows programs on this machine (a kernel without 32-bit support cannot; exit ${probe_rc}: ${probe_output})")
  endif()
endif()
