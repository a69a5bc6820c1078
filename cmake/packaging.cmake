# What a project that depends on the library finds after `cmake --install`: a versioned shared
# library, a CMake package (find_package(zeb32_3 CONFIG) gives zeb::zeb32_3), a pkg-config file,
# the Python binding and the Wireshark dissector; and a Debian package made by CPack
# (`cpack -G DEB` in the build folder) with stripped programs, their symbols in a package beside
# it.
include(CMakePackageConfigHelpers)

if(NOT WIN32)
  # libzeb32_3.so.3 carries the ABI's version; a new major version is a new soname.
  set_target_properties(zeb32_3 PROPERTIES VERSION ${PROJECT_VERSION}.0
                                           SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

set(ZEB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zeb32_3)
install(EXPORT zeb32_3Targets NAMESPACE zeb:: DESTINATION ${ZEB_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zeb32_3Config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/zeb32_3Config.cmake INSTALL_DESTINATION ${ZEB_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/zeb32_3ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zeb32_3Config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/zeb32_3ConfigVersion.cmake
        DESTINATION ${ZEB_CMAKE_DIR})

# pkg-config: paths relative to the prefix, so that a staged tree works wherever it lands.
file(RELATIVE_PATH ZEB_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/zeb32_3.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zeb32_3.pc
               @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zeb32_3.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(NOT WIN32)
  # The Python binding, where Debian's interpreter looks for packages; it finds the library on
  # the system's library path.
  set(ZEB_INSTALL_PYTHONDIR lib/python3/dist-packages CACHE STRING
      "Where the Python binding is installed, relative to the prefix")
  install(DIRECTORY ${ZEB_SOURCE_DIR}/python/zeb DESTINATION ${ZEB_INSTALL_PYTHONDIR}
          FILES_MATCHING PATTERN "*.py" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)

  # The dissector, in Wireshark's global folder of Lua plugins (`tshark -G folders`), which every
  # user's Wireshark loads at start.
  if(CMAKE_LIBRARY_ARCHITECTURE)
    set(zeb_wireshark_dir lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
  else()
    set(zeb_wireshark_dir lib/wireshark/plugins)
  endif()
  set(ZEB_INSTALL_WIRESHARKDIR ${zeb_wireshark_dir} CACHE STRING
      "Where the Wireshark dissector is installed, relative to the prefix")
  install(FILES ${ZEB_SOURCE_DIR}/tools/wireshark/zeb.lua DESTINATION ${ZEB_INSTALL_WIRESHARKDIR})
endif()

set(CPACK_PACKAGE_NAME zeb)
set(CPACK_PACKAGE_VENDOR "zeb maintainers")
set(CPACK_PACKAGE_CONTACT "zeb maintainers <maintainers@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Host library and tools for Ethernet-attached industrial I/O modules")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
The zeb32_3 library with its headers, CMake package and pkg-config file; the zeb
command-line tool, RackTap and the module simulator RackSim; zebgw, a gateway
from modules to MQTT (Sparkplug B or JSON) with its systemd unit; a Python binding;
a Wireshark dissector; the library's reference in HTML and as man(3) pages.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}.0)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3, tshark | wireshark")
# The programs and libraries go in stripped; their symbols go to zeb-dbgsym (a .ddeb beside
# the .deb), found by build ID under /usr/lib/debug.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# zebgw's configuration is the administrator's: an upgrade keeps their changes.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles "/etc/zebgw/zebgw.toml\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles)
include(CPack)
