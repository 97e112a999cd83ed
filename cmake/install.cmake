# What `cmake --install` puts under the prefix and what CPack packs into the
# .deb: the packer (it carries the launcher stub, so nothing else is needed to
# pack), its man page, bash completion and copyright file, and the CMake
# package with quorin_add_launcher(). Host side only; the Windows side
# installs nothing.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The man page, from the packer's own --help and --version and every command's
# --help (cmake/man_page.cmake), made whenever the packer is built again.
find_program(QUORIN_HELP2MAN help2man REQUIRED)
set(QUORIN_MAN_PAGE "${CMAKE_BINARY_DIR}/man/quorin-pack.1")
add_custom_command(
  OUTPUT "${QUORIN_MAN_PAGE}"
  COMMAND "${CMAKE_COMMAND}" -DPACKER=$<TARGET_FILE:quorin-pack> -DHELP2MAN=${QUORIN_HELP2MAN}
          -DOUTPUT=${QUORIN_MAN_PAGE} -P "${CMAKE_SOURCE_DIR}/cmake/man_page.cmake"
  DEPENDS quorin-pack "${CMAKE_SOURCE_DIR}/cmake/man_page.cmake"
  COMMENT "Making the man page quorin-pack.1"
  VERBATIM)
add_custom_target(quorin_man_page ALL DEPENDS "${QUORIN_MAN_PAGE}")

install(TARGETS quorin-pack EXPORT quorinTargets RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${QUORIN_MAN_PAGE}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${CMAKE_SOURCE_DIR}/packer/quorin-pack.bash-completion"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions" RENAME quorin-pack)
install(FILES "${CMAKE_SOURCE_DIR}/README.md" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
# Debian's machine-readable copyright file, where Debian looks for it: the doc
# folder named after the package (quorin).
install(FILES "${CMAKE_SOURCE_DIR}/cmake/copyright" DESTINATION "${CMAKE_INSTALL_DOCDIR}")

# The CMake package: find_package(quorin) gives quorin::quorin-pack and
# quorin_add_launcher(). The packer runs on the build machine whatever the
# consumer targets, so the version check ignores the consumer's pointer size.
set(QUORIN_CMAKE_DIR lib/cmake/quorin)
install(EXPORT quorinTargets NAMESPACE quorin:: DESTINATION "${QUORIN_CMAKE_DIR}")
write_basic_package_version_file("${CMAKE_BINARY_DIR}/quorinConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES
  "${CMAKE_SOURCE_DIR}/cmake/package/quorinConfig.cmake"
  "${CMAKE_SOURCE_DIR}/cmake/package/quorin_add_launcher.cmake"
  "${CMAKE_SOURCE_DIR}/cmake/package/quorin_pack_launcher.cmake"
  "${CMAKE_BINARY_DIR}/quorinConfigVersion.cmake"
  DESTINATION "${QUORIN_CMAKE_DIR}")

# `cpack -G DEB` in the build folder makes quorin_<version>_<arch>.deb.
set(QUORIN_DEB_MAINTAINER "quorin developers <maintainers@quorin.invalid>"
    CACHE STRING "the Maintainer field of the .deb")
set(CPACK_PACKAGE_NAME quorin)
set(CPACK_PACKAGE_VENDOR quorin)
set(CPACK_PACKAGE_CONTACT "${QUORIN_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "build single-file Windows launchers")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORIN_DEB_MAINTAINER}")
# The summary above is the Description's first line; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "quorin-pack packs a Windows x64 application folder (a program, its DLLs,
its data) into one executable that unpacks it into a per-user cache and
runs the program. It needs no compiler or linker when packing. The
package also holds a man page, bash completion and a CMake package
whose quorin_add_launcher() packs targets after they are built.")
# The libraries the packer links (libzstd1, libdeflate0, libstdc++6, libgcc-s1,
# libc6), with the versions its symbols need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A source package (package_source) holds the sources only.
set(CPACK_SOURCE_IGNORE_FILES "/[.]git(/|$)" "/build/" "/[.]deps$")
include(CPack)
