# Installation, as two CMake packages:
#
#   QuorixConnectorInformation (component "plugin"): the plug-in's shared library, its headers
#     under include/connector/information/v1/, and the framework and host declarations they
#     include. A host build says
#       find_package(QuorixConnectorInformation REQUIRED)
#       target_link_libraries(app PRIVATE QuorixConnectorInformation::connector_information)
#     The library links against QuorixHost::connector_framework and QuorixHost::quorix_host: a
#     host build that defines these targets for its own libraries gets those; otherwise the
#     package loads the stand-ins below.
#   QuorixHostStandIn (component "standin"): the framework and host engine stand-ins
#     (QuorixHost::connector_framework, QuorixHost::quorix_host) and connector-host in bin/, for
#     testing a plug-in without the real application.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Installed programs and libraries find the project's libraries beside them.
set_target_properties(connector_information connector_framework quorix_host PROPERTIES
  INSTALL_RPATH "$ORIGIN")
set_target_properties(connector-host PROPERTIES
  INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

# ---- the stand-in host -----------------------------------------------------------------------
set_target_properties(connector_framework PROPERTIES EXPORT_NAME connector_framework)
set_target_properties(quorix_host PROPERTIES EXPORT_NAME quorix_host)
install(TARGETS connector_framework quorix_host connector-host
        EXPORT QuorixHostStandInTargets COMPONENT standin
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# ---- the plug-in -----------------------------------------------------------------------------
install(TARGETS connector_information connector_information_headers connector_framework_headers
                quorix_host_headers
        EXPORT QuorixConnectorInformationTargets COMPONENT plugin
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY connector/information/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT plugin FILES_MATCHING PATTERN "*.hpp")

# The declarations of the framework and the host go with both packages: the plug-in compiles
# against them, and so does anyone testing a plug-in against the stand-ins.
foreach(component plugin standin)
  install(DIRECTORY connector/framework DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/connector
          COMPONENT ${component} FILES_MATCHING PATTERN "*.hpp")
  install(DIRECTORY host DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT ${component}
          FILES_MATCHING PATTERN "*.hpp")
endforeach()

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
qci_install_package(QuorixConnectorInformation QuorixConnectorInformation:: plugin)
