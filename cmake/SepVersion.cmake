# The project's version for the code (SepVersion.h, in the include path of
# whoever links sep_version) and, on Windows, a version resource per file.
configure_file(${PROJECT_SOURCE_DIR}/cmake/Version.h.in ${PROJECT_BINARY_DIR}/generated/SepVersion.h @ONLY)
add_library(sep_version INTERFACE)
target_include_directories(sep_version INTERFACE ${PROJECT_BINARY_DIR}/generated)

if(WIN32)
  enable_language(RC)
endif()

# sep_version_resource(TARGET FILE_NAME DESCRIPTION): on Windows, the file's
# properties show DESCRIPTION, the product, the version and the copyright.
# A resource adds no import and no export.
function(sep_version_resource target file_name description)
  if(NOT WIN32)
    return()
  endif()
  set(SEP_RC_FILE_NAME "${file_name}")
  set(SEP_RC_DESCRIPTION "${description}")
  get_filename_component(SEP_RC_NAME "${file_name}" NAME_WE)
  if(file_name MATCHES "\\.exe$")
    set(SEP_RC_FILE_TYPE VFT_APP)
  else()
    set(SEP_RC_FILE_TYPE VFT_DLL)
  endif()
  set(rc "${PROJECT_BINARY_DIR}/generated/${SEP_RC_NAME}-version.rc")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()
