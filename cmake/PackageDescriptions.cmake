# Names, sections, relations and descriptions of the Debian packages (cmake/Packaging.cmake).
# Description lines stay within 80 columns.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libconnector-information2)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The library's run-time linker cache is refreshed by a trigger, as Debian's libraries do.
configure_file(packaging/triggers ${CMAKE_CURRENT_BINARY_DIR}/packaging/runtime/triggers COPYONLY)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/packaging/runtime/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Quorix connector information plug-in\n\
The information plug-in of the Quorix desktop application's connector\n\
framework: it works out each client's full client type, tells clients\n\
which optional features they may use, keeps the user's home directory,\n\
answers service-registry requests and gives its twelve messages their\n\
JSON form. The host application loads this shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libconnector-information-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "libconnector-information2 (= ${QCI_PACKAGE_VERSION}), \
quorix-connector-host-standin (= ${QCI_PACKAGE_VERSION}), \
libboost-thread-dev, libboost-log-dev, libpoco-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Quorix connector information plug-in - development files\n\
Headers, the CMake package QuorixConnectorInformation and the pkg-config\n\
file quorix-connector-information.pc of the Quorix connector information\n\
plug-in, for host builds and for tests of the plug-in against the\n\
stand-in host.")

set(CPACK_DEBIAN_STANDIN_PACKAGE_NAME quorix-connector-host-standin)
set(CPACK_DEBIAN_STANDIN_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_STANDIN_DESCRIPTION
    "stand-in Quorix host for the connector information plug-in\n\
connector-host runs the Quorix connector information plug-in as the\n\
Quorix connector framework does, over small working stand-ins of the\n\
framework and the host engine, and serves its JSON messages from a file,\n\
standard input or loopback HTTP. The stand-in libraries live in a\n\
directory of their own, apart from the real host's libraries.")

set(CPACK_DEBIAN_DEBUG_PACKAGE_NAME quorix-connector-information-dbg)
set(CPACK_DEBIAN_DEBUG_PACKAGE_SECTION debug)
set(CPACK_DEBIAN_DEBUG_PACKAGE_DEPENDS
    "libconnector-information2 (= ${QCI_PACKAGE_VERSION}), \
quorix-connector-host-standin (= ${QCI_PACKAGE_VERSION})")
set(CPACK_COMPONENT_DEBUG_DESCRIPTION
    "debug information of the Quorix connector information plug-in\n\
The debug information of the plug-in's library, the stand-in libraries\n\
and connector-host, under /usr/lib/debug/.build-id/, where debuggers find\n\
it by the build-id of the stripped files.")
