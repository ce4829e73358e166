# Plug-in code: SSE2 math so that float stores round as written and all builds
# agree bit for bit, no exceptions, hidden symbols.
set(SEP_PLUGIN_COMPILE_OPTIONS -msse2 -mfpmath=sse -fno-exceptions -fvisibility=hidden -fvisibility-inlines-hidden)

# Marks a library as plug-in code (compiled into a .sep, or into a unit test
# of the module's own interface).
function(sep_plugin_code target)
  target_compile_options(${target} PRIVATE ${SEP_PLUGIN_COMPILE_OPTIONS})
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# sep_add_plugin(NAME CORE ENTRY_SOURCE): NAME.sep from the static library
# CORE and the source that defines the two exports. Only getModuleProperties
# and makeModule are exported; the C++ runtime is linked in statically so
# that the library stands alone and two plug-ins never bind to each other.
function(sep_add_plugin name core entry_source)
  add_library(${name} MODULE ${entry_source})
  sep_plugin_code(${name})
  target_link_libraries(${name} PRIVATE ${core})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX ".sep"
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/plugins"
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/plugins")
  if(WIN32)
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++
      "${PROJECT_SOURCE_DIR}/cmake/exports.def")
  else()
    target_link_options(${name} PRIVATE -static-libgcc -static-libstdc++ -Wl,--no-undefined
      "-Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/exports.map")
  endif()
endfunction()
