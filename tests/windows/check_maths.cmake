# cmake -DSOURCE_DIR=... -DLINUX_DIR=... -DWINDOWS_DIR=... -DNM=nm -DWINDOWS_NM=...
#       -DLINUX_PLUGINS=a|b -DWINDOWS_PLUGINS=a|b -P check_maths.cmake
# Both platforms compute sine, cosine and powers of two with the same code:
# each build compiles portable_math/PortableMath.cpp of this source tree,
# each plug-in holds that code, and none takes a maths function whose result
# could differ (sin, cos, sincos, tan, exp, exp2, pow, log ...) from its C
# runtime, neither imported nor linked in. Prints "SKIPPED:" without the
# Windows build.
string(REPLACE "|" ";" LINUX_PLUGINS "${LINUX_PLUGINS}")
string(REPLACE "|" ";" WINDOWS_PLUGINS "${WINDOWS_PLUGINS}")
set(maths_source "${SOURCE_DIR}/portable_math/PortableMath.cpp")
set(runtime_maths "sin|cos|sincos|tan|exp|exp2|expm1|pow|log|log2|log10|log1p|sinh|cosh|tanh|atan|atan2")

foreach(windows_file IN LISTS WINDOWS_PLUGINS)
  if(NOT EXISTS "${windows_file}" OR NOT EXISTS "${WINDOWS_DIR}/compile_commands.json")
    message("SKIPPED: the Windows build is missing: build the mingw32 preset first (cmake --preset mingw32 && cmake --build --preset mingw32)")
    return()
  endif()
endforeach()

foreach(dir IN ITEMS "${LINUX_DIR}" "${WINDOWS_DIR}")
  file(READ "${dir}/compile_commands.json" commands)
  string(FIND "${commands}" "\"file\": \"${maths_source}\"" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${dir} does not compile ${maths_source}")
  endif()
  message(STATUS "${dir} compiles ${maths_source}")
endforeach()

function(check_symbols tool file options pattern what)
  execute_process(COMMAND ${tool} ${options} ${file} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${tool} failed on ${file}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${listing}")
  foreach(line IN LISTS lines)
    if(line MATCHES " ${pattern}(@[A-Z_0-9.]+)?$")
      message(FATAL_ERROR "${file} takes a maths function from its runtime (${what}): ${line}")
    endif()
  endforeach()
  if(NOT listing MATCHES "portable_math")
    message(FATAL_ERROR "${file} holds no code of portable_math")
  endif()
endfunction()

foreach(file IN LISTS LINUX_PLUGINS)
  # hidden local symbols (the shared code) and the undefined ones (imports)
  check_symbols("${NM}" "${file}" "" "U (${runtime_maths})f?l?" "imported")
  message(STATUS "${file}: portable_math linked in, no runtime maths imported")
endforeach()
foreach(file IN LISTS WINDOWS_PLUGINS)
  check_symbols("${WINDOWS_NM}" "${file}" "" "[A-Za-z] _+(imp__)?(${runtime_maths})[fl]?" "linked or imported")
  message(STATUS "${file}: portable_math linked in, no runtime maths linked or imported")
endforeach()
