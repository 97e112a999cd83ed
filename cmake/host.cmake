# The host side: the packer, its tests, the Windows side built as a second
# project with the mingw-w64 toolchain, and the Wine test runs.
include(ExternalProject)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)

# -Wno-restrict: GCC 12 warns falsely on std::string concatenation at -O2.
add_compile_options(-Wall -Wextra -Wno-restrict)

# The launcher's Windows-free logic, built for the host: one reader, one name
# rule and one spec reader for the launcher and the packer.
include(cmake/pure_sources.cmake)
add_library(quorin_core STATIC ${QUORIN_PURE_SOURCES} errors/hard_stop_host.cpp errors/temporary_file_host.cpp)
target_include_directories(quorin_core PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries(quorin_core PUBLIC PkgConfig::ZSTD ZLIB::ZLIB)

add_library(quorin_packer_core STATIC
  packer/archive_writer.cpp
  packer/attached_reader.cpp
  packer/commands.cpp
  packer/generated_source.cpp
  packer/icon.cpp
  packer/input_tree.cpp
  packer/inspect.cpp
  packer/link.cpp
  packer/name_clash.cpp
  packer/options.cpp
  packer/path_room.cpp
  packer/resources.cpp
  packer/utf16.cpp)
target_include_directories(quorin_packer_core PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries(quorin_packer_core PUBLIC quorin_core PkgConfig::ZSTD ZLIB::ZLIB Threads::Threads)

add_executable(quorin-pack packer/main.cpp)
target_link_libraries(quorin-pack PRIVATE quorin_packer_core)
set_target_properties(quorin-pack PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

# The Windows side, configured with the cross toolchain into build/windows. Its
# launcher library lands in build/lib, where the packer looks for it.
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
    -DQUORIN_LIB_DIR=${CMAKE_BINARY_DIR}/lib
    -DQUORIN_GOOGLETEST_DIR=${QUORIN_GOOGLETEST_DIR}
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS "${CMAKE_BINARY_DIR}/lib/libquorin_launcher.a" ${QUORIN_PROGRAM_EXES}
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD ON)

enable_testing()
include(tests/host_tests.cmake)
