# Reads pas/forwarders.txt, the one list of ZEB_PAS forwarders, into three lists of the same
# length, in ordinal order: ZEB_PAS_FUNCTIONS (library function), ZEB_PAS_COUNTS (arguments)
# and ZEB_PAS_EXPORTS (exported name). Also writes ${CMAKE_BINARY_DIR}/pas/zeb_pas_list.inc,
# one line per forwarder: ZEB_PAS_ENTRY(function, count, "export name").

# Writes a generated file, touching it only when its content changes.
function(zeb_write_if_changed path content)
  file(WRITE ${path}.tmp "${content}")
  configure_file(${path}.tmp ${path} COPYONLY)
endfunction()

set(ZEB_PAS_LIST_FILE ${CMAKE_CURRENT_LIST_DIR}/forwarders.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZEB_PAS_LIST_FILE})
file(STRINGS ${ZEB_PAS_LIST_FILE} zeb_pas_lines REGEX "^[A-Za-z]")
set(ZEB_PAS_FUNCTIONS "")
set(ZEB_PAS_COUNTS "")
set(ZEB_PAS_EXPORTS "")
set(zeb_pas_inc "// Made from pas/forwarders.txt by CMake.\n")
foreach(line IN LISTS zeb_pas_lines)
  if(NOT line MATCHES "^([A-Za-z0-9_]+) +([0-9]+)( +([^ ]+))? *$")
    message(FATAL_ERROR "pas/forwarders.txt: cannot read \"${line}\"")
  endif()
  set(fn ${CMAKE_MATCH_1})
  set(count ${CMAKE_MATCH_2})
  set(name PASCAL_${fn})
  if(CMAKE_MATCH_4)
    set(name ${CMAKE_MATCH_4})
  endif()
  list(APPEND ZEB_PAS_FUNCTIONS ${fn})
  list(APPEND ZEB_PAS_COUNTS ${count})
  list(APPEND ZEB_PAS_EXPORTS ${name})
  string(APPEND zeb_pas_inc "ZEB_PAS_ENTRY(${fn}, ${count}, \"${name}\")\n")
endforeach()
set(ZEB_PAS_LIST_INC_DIR ${CMAKE_BINARY_DIR}/pas)
zeb_write_if_changed(${ZEB_PAS_LIST_INC_DIR}/zeb_pas_list.inc "${zeb_pas_inc}")

