# Fails unless every dynamic symbol the plug-in's shared library defines belongs to its API:
# connector::information::v1 itself, or the type information and virtual tables of its classes.
# A Boost, POCO, framework or host symbol defined here would clash with the host's own copy.
# Run with: cmake -DLIBRARY=<path> -DNM=<nm> -P CheckExports.cmake
execute_process(COMMAND ${NM} -D --defined-only --demangle ${LIBRARY}
                RESULT_VARIABLE result OUTPUT_VARIABLE listing ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${error}")
endif()

set(api "connector::information::v1::")
set(allowed "^(${api}|(typeinfo|typeinfo name|vtable|VTT|construction vtable) for ${api})")
string(REPLACE "\n" ";" lines "${listing}")
set(count 0)
set(foreign "")
foreach(line IN LISTS lines)
  # "<address> <kind> <name>"; the name may hold spaces.
  if(NOT line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.*)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  math(EXPR count "${count} + 1")
  if(NOT name MATCHES "${allowed}")
    string(APPEND foreign "\n  ${name}")
  endif()
endforeach()

if(count EQUAL 0)
  message(FATAL_ERROR "${LIBRARY} defines no dynamic symbol at all")
endif()
if(foreign)
  message(FATAL_ERROR "${LIBRARY} exports symbols outside its API:${foreign}")
endif()
message(STATUS "${count} exported symbols, all of ${api}")
