# Fails when a source of connector-host's core includes a header of a front end, Beast or Asio:
# the core serves one envelope whatever brought it, and the fuzzers and benchmarks link it alone.
# Usage: cmake -DSOURCE_DIR=<tools/connector-host> -P CheckLayout.cmake
file(GLOB core_sources ${SOURCE_DIR}/core/*.cpp ${SOURCE_DIR}/core/*.hpp)
set(found "")
foreach(source ${core_sources})
  file(STRINGS ${source} includes REGEX "^#include [<\"](boost/(asio|beast)|tools/connector-host/(http|[A-Za-z]+\\.hpp))")
  foreach(line ${includes})
    string(APPEND found "\n  ${source}: ${line}")
  endforeach()
endforeach()
if(NOT core_sources)
  message(FATAL_ERROR "no core sources under ${SOURCE_DIR}/core")
endif()
if(found)
  message(FATAL_ERROR "the core includes what is not its own:${found}")
endif()
