# The plug-in's pinned binary interface. A host compiled against the headers of one version loads
# the library of another: a class layout, a virtual table or a signature that changes without
# notice breaks it at run time, and boundary.exported_symbols sees only names. The baseline
# abi/libconnector_information.abi is what `abidw` (libabigail, Debian's abigail-tools) reads
# from the library's debug information; the CTest boundary.abi compares the library just built
# with it and fails on any difference.
#
# After an intended change of the interface:
#   cmake --build --preset release --target abi-baseline
# rewrites the baseline from the release library; commit it with a CHANGELOG.md entry saying what
# changed and whether the soname (the major version) must move.
#
# The library is built with debug information (-g) in every configuration for this, which does
# not change the code generated.
set(QCI_ABI_BASELINE ${PROJECT_SOURCE_DIR}/abi/libconnector_information.abi)
# Locations and build paths are left out, so that the baseline does not depend on where the
# repository was checked out; types are named by a hash of their contents, so that a regenerated
# baseline differs from the old one only where the interface does.
set(QCI_ABIDW_OPTIONS --no-corpus-path --no-comp-dir-path --no-show-locs --type-id-style hash)

find_program(QCI_ABIDW abidw)
find_program(QCI_ABIDIFF abidiff)

target_compile_options(connector_information_objects PRIVATE
  -g -fdebug-prefix-map=${PROJECT_SOURCE_DIR}/=)

if(QCI_ABIDW)
  add_custom_target(abi-baseline
    COMMAND ${QCI_ABIDW} ${QCI_ABIDW_OPTIONS} --out-file ${QCI_ABI_BASELINE}
            $<TARGET_FILE:connector_information>
    DEPENDS connector_information
    COMMENT "Writing abi/libconnector_information.abi from the library just built"
    VERBATIM)
else()
  add_custom_target(abi-baseline
    COMMAND ${CMAKE_COMMAND} -E echo "abidw not found: run scripts/install-deps.sh"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
endif()
