# Installation, in three components that are also the Debian packages (cmake/Packaging.cmake):
#
#   runtime      the plug-in's shared library (libconnector_information.so.2)
#   development  its headers under include/connector/information/v1/, the unversioned .so link,
#                the CMake package QuorixConnectorInformation and the pkg-config file
#                quorix-connector-information.pc
#   standin      the framework and host engine stand-ins in a directory of their own
#                (lib/quorix-standin/, reached by RUNPATH), the declarations they implement under
#                include/quorix-standin/, the CMake package QuorixHostStandIn, connector-host in
#                bin/ with its man page and systemd user unit, and the example session and table
#
# A host build says
#   find_package(QuorixConnectorInformation REQUIRED)
#   target_link_libraries(app PRIVATE QuorixConnectorInformation::connector_information)
# The library links against QuorixHost::connector_framework and QuorixHost::quorix_host: a host
# build that defines these targets for its own libraries gets those; otherwise the package loads
# the stand-ins.
include(CMakePackageConfigHelpers)

# The plug-in finds the stand-ins it was built against in their own directory, beside it; the
# installed connector-host finds both.
set_target_properties(connector_information PROPERTIES INSTALL_RPATH "$ORIGIN/quorix-standin")
set_target_properties(connector_framework quorix_host PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(connector-host PROPERTIES
  INSTALL_RPATH "$ORIGIN/../${QCI_STANDIN_LIBDIR};$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

# ---- the stand-in host -----------------------------------------------------------------------
install(TARGETS connector_framework quorix_host connector-host
        EXPORT QuorixHostStandInTargets COMPONENT standin
        LIBRARY DESTINATION ${QCI_STANDIN_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY connector/framework DESTINATION ${QCI_STANDIN_INCLUDEDIR}/connector
        COMPONENT standin FILES_MATCHING PATTERN "*.hpp")
install(DIRECTORY host DESTINATION ${QCI_STANDIN_INCLUDEDIR} COMPONENT standin
        FILES_MATCHING PATTERN "*.hpp")

# ---- the plug-in -----------------------------------------------------------------------------
install(TARGETS connector_information connector_information_headers
        EXPORT QuorixConnectorInformationTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development)
install(DIRECTORY connector/information/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development FILES_MATCHING PATTERN "*.hpp")

# pkg-config, for builds without CMake: the plug-in's headers and library, and the stand-ins'
# (whose directory the plug-in's RUNPATH names).
configure_file(cmake/quorix-connector-information.pc.in
               ${CMAKE_CURRENT_BINARY_DIR}/quorix-connector-information.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quorix-connector-information.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

function(qci_install_package name namespace component)
  set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/${name})
  install(EXPORT ${name}Targets NAMESPACE ${namespace} DESTINATION ${package_dir}
          COMPONENT ${component})
  configure_package_config_file(cmake/${name}Config.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/${name}Config.cmake INSTALL_DESTINATION ${package_dir})
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}Config.cmake
                ${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake
          DESTINATION ${package_dir} COMPONENT ${component})
endfunction()

qci_install_package(QuorixHostStandIn QuorixHost:: standin)
qci_install_package(QuorixConnectorInformation QuorixConnectorInformation:: development)
