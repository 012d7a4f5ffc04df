# Installation: the plug-in's shared library, its exported headers, the framework and host
# headers they include, and a CMake package so that a host build says
#   find_package(QuorixConnectorInformation REQUIRED)
#   target_link_libraries(app PRIVATE QuorixConnectorInformation::connector_information)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS connector_information connector_information_headers connector_framework_headers
                quorix_host_headers
        EXPORT QuorixConnectorInformationTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

install(DIRECTORY connector/information/include/v1
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/connector/information FILES_MATCHING PATTERN "*.hpp")
install(DIRECTORY connector/framework DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/connector
        FILES_MATCHING PATTERN "*.hpp" PATTERN "src" EXCLUDE)
install(DIRECTORY host DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.hpp" PATTERN "src" EXCLUDE)

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/QuorixConnectorInformation)
install(EXPORT QuorixConnectorInformationTargets NAMESPACE QuorixConnectorInformation::
        DESTINATION ${package_dir})
configure_package_config_file(cmake/QuorixConnectorInformationConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/QuorixConnectorInformationConfig.cmake
  INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/QuorixConnectorInformationConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/QuorixConnectorInformationConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/QuorixConnectorInformationConfigVersion.cmake
        DESTINATION ${package_dir})
