# Tests of what is installed: the install prefix and the .deb each pack a
# folder with no mingw tool on PATH and run the launcher under Wine; the CMake
# package builds and packs tests/cmake_package; the bash completion matches
# the packer's help. Everything they write is under build/install-tests.
set(QUORIN_INSTALL_TESTS_DIR "${CMAKE_BINARY_DIR}/install-tests")
set(QUORIN_INSTALL_SCRIPTS "${CMAKE_SOURCE_DIR}/tests/install")
set(QUORIN_PROBE_CHILD "${QUORIN_WINDOWS_BINARY_DIR}/programs/probe_child.exe")

add_test(NAME install_prefix
  COMMAND bash "${QUORIN_INSTALL_SCRIPTS}/install_prefix.sh" "${CMAKE_BINARY_DIR}" "${QUORIN_INSTALL_TESTS_DIR}/install")
set_tests_properties(install_prefix PROPERTIES FIXTURES_SETUP installed)

add_test(NAME install_deb
  COMMAND bash "${QUORIN_INSTALL_SCRIPTS}/install_deb.sh" "${CMAKE_BINARY_DIR}" "${QUORIN_INSTALL_TESTS_DIR}/deb")
set_tests_properties(install_deb PROPERTIES FIXTURES_SETUP deb)

add_test(NAME install_prefix_packs_without_mingw
  COMMAND bash "${QUORIN_INSTALL_SCRIPTS}/packs_without_mingw.sh"
          "${QUORIN_INSTALL_TESTS_DIR}/install/prefix/bin/quorin-pack" "${QUORIN_PROBE_CHILD}"
          "${QUORIN_INSTALL_TESTS_DIR}/prefix-packs" installed-prefix)
set_tests_properties(install_prefix_packs_without_mingw PROPERTIES
  FIXTURES_REQUIRED "wine;installed" ENVIRONMENT "${QUORIN_WINE_ENV}")

add_test(NAME install_deb_packs_without_mingw
  COMMAND bash "${QUORIN_INSTALL_SCRIPTS}/packs_without_mingw.sh"
          "${QUORIN_INSTALL_TESTS_DIR}/deb/root/usr/bin/quorin-pack" "${QUORIN_PROBE_CHILD}"
          "${QUORIN_INSTALL_TESTS_DIR}/deb-packs" installed-deb)
set_tests_properties(install_deb_packs_without_mingw PROPERTIES
  FIXTURES_REQUIRED "wine;deb" ENVIRONMENT "${QUORIN_WINE_ENV}")

add_test(NAME install_cmake_package
  COMMAND bash "${QUORIN_INSTALL_SCRIPTS}/cmake_package.sh" "${QUORIN_INSTALL_TESTS_DIR}/install/prefix"
          "${CMAKE_SOURCE_DIR}/tests/cmake_package" "${CMAKE_SOURCE_DIR}/cmake/mingw-w64.cmake"
          "${QUORIN_INSTALL_TESTS_DIR}/cmake-package")
set_tests_properties(install_cmake_package PROPERTIES
  FIXTURES_REQUIRED "wine;installed" ENVIRONMENT "${QUORIN_WINE_ENV}")

add_test(NAME install_completion
  COMMAND bash "${QUORIN_INSTALL_SCRIPTS}/completion_test.sh" "$<TARGET_FILE:quorin-pack>"
          "${CMAKE_SOURCE_DIR}/packer/quorin-pack.bash-completion" "${QUORIN_INSTALL_TESTS_DIR}/completion")
