# Debian packages of the install components (cmake/Install.cmake), made by CPack:
#
#   libconnector-information2         runtime: the plug-in's shared library, stripped
#   libconnector-information-dev      development: headers, CMake package, pkg-config file
#   quorix-connector-host-standin     standin: connector-host, the stand-in libraries in their own
#                                     directory, man page, systemd user unit, examples
#   quorix-connector-information-dbg  debug: the debug information of all of them, under
#                                     /usr/lib/debug/.build-id/ (GNU build-id paths)
#
# `make package` builds the `package` preset (with debug information, installed under /usr) and
# runs `cpack -G DEB` there: the packages land in build/package/packages/. Each package's
# `Depends` comes from dpkg-shlibdeps, plus what its files need beyond libraries.
# scripts/check-packages.sh checks them; lintian's warnings that remain are justified in the
# overrides of packaging/lintian/.
option(QCI_DEBUG_FILES "Split each installed binary's debug information for the -dbg package" OFF)
set(QCI_PACKAGE_RELEASE 1)
set(QCI_PACKAGE_VERSION ${PROJECT_VERSION}-${QCI_PACKAGE_RELEASE})

# ---- what every package carries: its copyright, Debian changelog and lintian overrides --------
configure_file(packaging/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
find_program(QCI_GZIP gzip REQUIRED)
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${changelog}
                   COMMAND ${QCI_GZIP} -9nkf ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian
                   DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian VERBATIM)
set(upstream_changelog ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${upstream_changelog}
                   COMMAND ${QCI_GZIP} -9nc ${PROJECT_SOURCE_DIR}/CHANGELOG.md > ${upstream_changelog}
                   DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
set(package_files ${changelog} ${upstream_changelog})

function(qci_package_docs component name)
  install(FILES packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name} COMPONENT ${component})
  if(EXISTS ${PROJECT_SOURCE_DIR}/packaging/lintian/${name})
    install(FILES packaging/lintian/${name}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT ${component})
  endif()
endfunction()
qci_package_docs(runtime libconnector-information2)
qci_package_docs(development libconnector-information-dev)
qci_package_docs(standin quorix-connector-host-standin)
qci_package_docs(debug quorix-connector-information-dbg)

# ---- the man page of connector-host, from its --help and a hand-written part ------------------
find_program(QCI_HELP2MAN help2man)
if(QCI_HELP2MAN)
  set(man_page ${CMAKE_CURRENT_BINARY_DIR}/packaging/connector-host.1)
  add_custom_command(
    OUTPUT ${man_page}.gz
    COMMAND ${QCI_HELP2MAN} --no-info --section 1 --source Quorix
            --name "run the Quorix connector information plug-in and serve its JSON messages"
            --include ${PROJECT_SOURCE_DIR}/packaging/connector-host.h2m
            --output ${man_page} $<TARGET_FILE:connector-host>
    COMMAND ${QCI_GZIP} -9nf ${man_page}
    DEPENDS connector-host ${PROJECT_SOURCE_DIR}/packaging/connector-host.h2m VERBATIM)
  list(APPEND package_files ${man_page}.gz)
  install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT standin)
else()
  message(STATUS "help2man not found: connector-host's man page is not made "
                 "(scripts/install-deps.sh package installs it)")
endif()
add_custom_target(package-files ALL DEPENDS ${package_files})

# ---- the stand-in host's documents ------------------------------------------------------------
set(standin_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/quorix-connector-host-standin)
install(FILES examples/session.jsonl examples/engine.json DESTINATION ${standin_doc}/examples
        COMPONENT standin)
install(FILES README.md docs/PROTOCOL.md docs/RELIABILITY.md ${upstream_changelog}
        DESTINATION ${standin_doc} COMPONENT standin)
install(FILES packaging/connector-host.service DESTINATION lib/systemd/user COMPONENT standin)

# ---- debug information, split from each binary ------------------------------------------------
if(QCI_DEBUG_FILES)
  set(stamps "")
  foreach(target connector_information connector_framework quorix_host connector-host)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/debug-files/${target})
    add_custom_command(
      OUTPUT ${dir}.stamp
      COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:${target}> -DDIR=${dir}
              -DREADELF=${CMAKE_READELF} -DOBJCOPY=${CMAKE_OBJCOPY}
              -P ${PROJECT_SOURCE_DIR}/cmake/SplitDebug.cmake
      COMMAND ${CMAKE_COMMAND} -E touch ${dir}.stamp
      DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/SplitDebug.cmake VERBATIM)
    list(APPEND stamps ${dir}.stamp)
    install(DIRECTORY ${dir}/ DESTINATION lib/debug COMPONENT debug)
  endforeach()
  add_custom_target(debug-files ALL DEPENDS ${stamps})
endif()

# ---- CPack -------------------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QCI_PACKAGE_RELEASE})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packages)
set(CPACK_PACKAGE_CONTACT "Quorix connector team <connector@quorix.example>")
set(CPACK_PACKAGE_VENDOR Quorix)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development standin)
if(QCI_DEBUG_FILES)
  list(APPEND CPACK_COMPONENTS_ALL debug)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CMAKE_CURRENT_BINARY_DIR}/standin ${CMAKE_CURRENT_BINARY_DIR}/connector/information)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quorix.example/connector")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
include(cmake/PackageDescriptions.cmake)
include(CPack)
