# Doxygen's MAN_LINKS writes a page that points to its family's page for every documented name,
# record fields included: Name.3, Count.3, Timeout.3 would claim names far too general for
# /usr/share/man/man3. Keeps the links of the exported functions (EXPORTS, one name a line) and
# of the names with the library's prefixes (constants, records); the family, record and header
# pages themselves stay. The guide's pages (docs/*.md, md_*.3) are for the HTML site and go too:
# their names say nothing in man(3).
# Usage: cmake -DMAN3=dir -DEXPORTS=lib/exports.txt -P keep_man_links.cmake
cmake_minimum_required(VERSION 3.25)
get_filename_component(MAN3 "${MAN3}" ABSOLUTE)
file(STRINGS ${EXPORTS} exports)
file(GLOB guide_pages ${MAN3}/md_*.3)
if(guide_pages)
  file(REMOVE ${guide_pages})
endif()
file(GLOB pages RELATIVE ${MAN3} ${MAN3}/*.3)
foreach(page IN LISTS pages)
  file(READ ${MAN3}/${page} head LIMIT 8)
  if(NOT head MATCHES "^\\.so ")
    continue()  # a page of its own
  endif()
  string(REGEX REPLACE "\\.3$" "" name ${page})
  if(NOT name IN_LIST exports AND NOT name MATCHES "^(ZEB|XCPU|Tavi)")
    file(REMOVE ${MAN3}/${page})
  endif()
endforeach()
