# The host side: the packer, its tests, the Windows side built as a second
# project with the mingw-w64 toolchain, and the Wine test runs.
include(ExternalProject)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
pkg_check_modules(DEFLATE REQUIRED IMPORTED_TARGET libdeflate)
# zlib for the tests alone, which check CRC-32 values against zlib's own.
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)

# -Wno-restrict: GCC 12 warns falsely on std::string concatenation at -O2.
add_compile_options(-Wall -Wextra -Wno-restrict)

# The launcher's Windows-free logic, built for the host: one reader, one name
# rule and one spec reader for the launcher and the packer.
include(cmake/pure_sources.cmake)
add_library(quorin_core STATIC ${QUORIN_PURE_SOURCES} errors/hard_stop_host.cpp errors/temporary_file_host.cpp
  errors/failure_box_host.cpp)
target_include_directories(quorin_core PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries(quorin_core PUBLIC PkgConfig::ZSTD PkgConfig::DEFLATE)

include(cmake/packer_sources.cmake)
add_library(quorin_packer_core STATIC ${QUORIN_PACKER_SOURCES} packer/platform_posix.cpp)
target_include_directories(quorin_packer_core PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries(quorin_packer_core PUBLIC quorin_core PkgConfig::ZSTD Threads::Threads)
# The packer's version is the project's (CMakeLists.txt), and only there.
target_compile_definitions(quorin_packer_core PUBLIC QUORIN_PACKER_VERSION="${PROJECT_VERSION}")
# The stub comes from the Windows side and is carried inside the packer.
set(QUORIN_STUB "${CMAKE_BINARY_DIR}/lib/quorin-stub.exe")
set_source_files_properties(packer/stub_image.S PROPERTIES
  COMPILE_DEFINITIONS "QUORIN_STUB_PATH=\"${QUORIN_STUB}\""
  OBJECT_DEPENDS "${QUORIN_STUB}")
add_dependencies(quorin_packer_core quorin_windows)
# The default icon (packer/default_icon.ico) is carried the same way.
set_source_files_properties(packer/default_icon.S PROPERTIES
  COMPILE_DEFINITIONS "QUORIN_DEFAULT_ICON_PATH=\"${QUORIN_DEFAULT_ICON}\""
  OBJECT_DEPENDS "${QUORIN_DEFAULT_ICON}")

add_executable(quorin-pack packer/main.cpp)
target_link_libraries(quorin-pack PRIVATE quorin_packer_core)
set_target_properties(quorin-pack PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

# The Windows side, configured with the cross toolchain into build/windows. Its
# launcher stub lands in build/lib, where the packer's build takes it from.
set(QUORIN_WINDOWS_BINARY_DIR "${CMAKE_BINARY_DIR}/windows")
# What the fixtures are made from, so that they are made again when it changes.
file(GLOB QUORIN_PROGRAM_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/programs/*.cpp")
set(QUORIN_PROGRAM_EXES "")
foreach(source ${QUORIN_PROGRAM_SOURCES})
  get_filename_component(name "${source}" NAME_WE)
  list(APPEND QUORIN_PROGRAM_EXES "${QUORIN_WINDOWS_BINARY_DIR}/programs/${name}.exe")
endforeach()
ExternalProject_Add(quorin_windows
  SOURCE_DIR "${CMAKE_SOURCE_DIR}"
  BINARY_DIR "${QUORIN_WINDOWS_BINARY_DIR}"
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DQUORIN_STUB_DIR=${CMAKE_BINARY_DIR}/lib
    -DQUORIN_GOOGLETEST_DIR=${QUORIN_GOOGLETEST_DIR}
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS "${CMAKE_BINARY_DIR}/lib/quorin-stub.exe" ${QUORIN_PROGRAM_EXES}
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD ON)

# The fuzzers, a project of their own built with Debian's clang into
# build/fuzz (tests/fuzz): the tests run each for a few seconds,
# scripts/fuzz.sh for as long as asked. In the console pool, so that this
# build and the Windows side's do not share the cores.
ExternalProject_Add(quorin_fuzz
  SOURCE_DIR "${CMAKE_SOURCE_DIR}/tests/fuzz"
  BINARY_DIR "${CMAKE_BINARY_DIR}/fuzz"
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD ON)

enable_testing()
include(tests/host_tests.cmake)

# Installing (cmake --install, cpack) and the tests of what is installed.
include(cmake/install.cmake)
include(tests/install/install_tests.cmake)
