# Installs each package into a fresh prefix and builds and runs its consumer: first the stand-in
# host alone (its component only), then the plug-in (runtime and development) over it. Run with:
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... [-DCXX_FLAGS=...] [-DLINKER_FLAGS=...]
#         -P InstallAndConsume.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${out}\n${err}")
  endif()
  message(STATUS "${out}")
endfunction()

function(consume name)
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package/${name} -B ${WORK_DIR}/${name} -G Ninja
      -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
      "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/${name})
  run(${WORK_DIR}/${name}/${name})
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component standin)
if(EXISTS ${prefix}/include/connector/information)
  message(FATAL_ERROR "the stand-in component installed the plug-in's headers")
endif()
consume(standin-consumer)

foreach(component runtime development)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component ${component})
endforeach()
if(NOT EXISTS ${prefix}/include/connector/information/v1/InformationServiceProviderImpl.hpp OR
   EXISTS ${prefix}/include/connector/framework)
  message(FATAL_ERROR "the plug-in's headers are not installed as connector/information/v1/ "
                      "alone (the framework's declarations belong to the stand-ins)")
endif()
consume(plugin-consumer)

# The installed connector-host runs the installed plug-in from bin/, finding the libraries on its
# own (RUNPATH).
file(WRITE ${WORK_DIR}/session.jsonl
     "{\"id\": 1, \"type\": \"connector/v1/GetUserHomeDir\"}\n")
execute_process(COMMAND ${prefix}/bin/connector-host ${WORK_DIR}/session.jsonl
                RESULT_VARIABLE result OUTPUT_VARIABLE answer ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT answer MATCHES "\"type\":\"connector/v1/GetUserHomeDirResponse\"")
  message(FATAL_ERROR "the installed connector-host failed (${result}): ${answer}${err}")
endif()
