# Fails when the binary interface of the plug-in's shared library differs in any way from the
# baseline abi/libconnector_information.abi (see cmake/Abi.cmake): a function, variable or type
# reachable from the exported API added, removed or changed, a virtual table reordered or grown.
# Run with: cmake -DABIDIFF=<abidiff> -DBASELINE=<abi file> -DLIBRARY=<library> -P CheckAbi.cmake
if(NOT ABIDIFF)
  message(FATAL_ERROR
    "abidiff not found (Debian package abigail-tools): run scripts/install-deps.sh")
endif()
if(NOT EXISTS "${BASELINE}")
  message(FATAL_ERROR "No baseline ${BASELINE}: cmake --build --preset release --target abi-baseline")
endif()

execute_process(COMMAND ${ABIDIFF} --no-show-locs ${BASELINE} ${LIBRARY}
                RESULT_VARIABLE result OUTPUT_VARIABLE report ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR
    "The binary interface of ${LIBRARY} is not the one in ${BASELINE} "
    "(abidiff exit status ${result}):\n${report}${error}\n"
    "If the change is intended, regenerate the baseline with\n"
    "  cmake --build --preset release --target abi-baseline\n"
    "and say in CHANGELOG.md what changed and whether the soname must move.")
endif()
message(STATUS "The binary interface of ${LIBRARY} is the one in ${BASELINE}")
