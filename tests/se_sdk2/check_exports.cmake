# cmake -DNM=nm -DPLUGIN=file.sep -P check_exports.cmake
# Fails unless the dynamic symbol table defines exactly getModuleProperties
# and makeModule.
execute_process(COMMAND ${NM} -D --defined-only ${PLUGIN}
  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${PLUGIN}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
  list(APPEND names "${name}")
endforeach()
list(SORT names)
if(NOT names STREQUAL "getModuleProperties;makeModule")
  message(FATAL_ERROR "${PLUGIN} exports [${names}], expected exactly [getModuleProperties;makeModule]")
endif()
message(STATUS "${PLUGIN}: exports ${names}")
