# Compares the names that a shared library exports (nm -D --defined-only) with a list, one
# name a line. Usage: cmake -DLIB=<library> -DEXPORTS=<list> [-DNM=<nm>] -P check_exports.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT LIB OR NOT EXPORTS)
  message(FATAL_ERROR "LIB and EXPORTS must be given")
endif()
if(NOT NM)
  set(NM nm)
endif()

execute_process(COMMAND ${NM} -D --defined-only ${LIB}
  OUTPUT_VARIABLE listing RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIB}: ${errors}")
endif()

# Each line: address, type letter, name (possibly with a @version suffix). Version names show
# as absolute symbols (A) and are not exports.
string(REPLACE "\n" ";" lines "${listing}")
set(exported "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* *[B-Za-z] ([^ @]+)")
    list(APPEND exported ${CMAKE_MATCH_1})
  endif()
endforeach()

file(STRINGS ${EXPORTS} expected REGEX "[^ \t]")
list(TRANSFORM expected STRIP)

list(REMOVE_DUPLICATES exported)
set(missing "")
foreach(name IN LISTS expected)
  if(NOT name IN_LIST exported)
    list(APPEND missing ${name})
  endif()
endforeach()
set(extra "")
foreach(name IN LISTS exported)
  if(NOT name IN_LIST expected)
    list(APPEND extra ${name})
  endif()
endforeach()

list(LENGTH expected expected_count)
list(LENGTH exported exported_count)
if(missing OR extra)
  list(JOIN missing " " missing_text)
  list(JOIN extra " " extra_text)
  message(FATAL_ERROR "${LIB} exports ${exported_count} names, the list has ${expected_count}.\n"
                      "Missing: ${missing_text}\nNot in the list: ${extra_text}")
endif()
message(STATUS "${exported_count} names exported, as listed")
