# Copies the debug information of one binary to DIR/.build-id/NN/REST.debug, the path GDB finds
# by the binary's GNU build-id once DIR is installed as /usr/lib/debug; DIR is emptied first, so
# that it never holds the debug information of an earlier build. The binary itself is left as it
# is (the packages strip their copies).
#   cmake -DFILE=<binary> -DDIR=<dir> -DREADELF=<readelf> -DOBJCOPY=<objcopy> -P SplitDebug.cmake
execute_process(COMMAND ${READELF} -n ${FILE} OUTPUT_VARIABLE notes RESULT_VARIABLE failed)
string(REGEX MATCH "Build ID: ([0-9a-f]+)" found "${notes}")
if(failed OR NOT found)
  message(FATAL_ERROR "${FILE} has no GNU build-id: link with --build-id")
endif()
set(id ${CMAKE_MATCH_1})
string(SUBSTRING ${id} 0 2 head)
string(SUBSTRING ${id} 2 -1 rest)
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR}/.build-id/${head})
execute_process(COMMAND ${OBJCOPY} --only-keep-debug --compress-debug-sections ${FILE}
                        ${DIR}/.build-id/${head}/${rest}.debug RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objcopy could not copy the debug information of ${FILE}")
endif()
