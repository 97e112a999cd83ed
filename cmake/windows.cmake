# The Windows side: the launcher as a static library, linked once with the
# stub's default constants into the launcher stub (the packer carries it and
# writes every launcher from it), the Windows tests and the test programs that
# run under Wine.

set(QUORIN_ZSTD_PREFIX "${CMAKE_SOURCE_DIR}/.deps/zstd-mingw" CACHE PATH "libzstd built for mingw")
set(QUORIN_STUB_DIR "${CMAKE_BINARY_DIR}/lib" CACHE PATH "where the host build finds the launcher stub")

# No paths of the build machine in the objects the packer links.
add_compile_options(-O2 -Wall -Wextra -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -fno-ident)
add_link_options(-static)

set(QUORIN_DEFLATE_PREFIX "${CMAKE_SOURCE_DIR}/.deps/libdeflate-mingw" CACHE PATH "libdeflate built for mingw")
add_library(deflate_mingw STATIC IMPORTED)
set_target_properties(deflate_mingw PROPERTIES
  IMPORTED_LOCATION "${QUORIN_DEFLATE_PREFIX}/lib/libdeflate.a"
  INTERFACE_INCLUDE_DIRECTORIES "${QUORIN_DEFLATE_PREFIX}/include")

add_library(zstd_mingw STATIC IMPORTED)
set_target_properties(zstd_mingw PROPERTIES
  IMPORTED_LOCATION "${QUORIN_ZSTD_PREFIX}/lib/libzstd.a"
  INTERFACE_INCLUDE_DIRECTORIES "${QUORIN_ZSTD_PREFIX}/include")

include(cmake/pure_sources.cmake)
# How the pure code ends the process: the hard stop, the removal of the
# current temporary file, which every ending makes first, and the failure box.
add_library(quorin_ending STATIC errors/hard_stop.cpp errors/temporary_file.cpp errors/failure_box.cpp)
target_include_directories(quorin_ending PUBLIC "${CMAKE_SOURCE_DIR}")
# user32 is loaded in every launcher already (shell32 imports it): its imports
# add no library to a start.
target_link_libraries(quorin_ending PUBLIC user32)
add_library(quorin_core STATIC ${QUORIN_PURE_SOURCES})
target_include_directories(quorin_core PUBLIC "${CMAKE_SOURCE_DIR}")
# The decoder comes from whoever links it: the launcher takes the
# decompression-only libzstd, the packer the whole one.
target_include_directories(quorin_core PUBLIC "${QUORIN_ZSTD_PREFIX}/include")
target_link_libraries(quorin_core PUBLIC quorin_ending deflate_mingw)

add_library(quorin_launcher STATIC
  errors/system_error.cpp
  launcher/env.cpp
  template/expand.cpp
  payload/file_checksum.cpp
  payload/folder_lock.cpp
  payload/folder_record.cpp
  payload/folder_removal.cpp
  payload/indexed_start.cpp
  payload/placing.cpp
  payload/sibling_folders.cpp
  payload/staging.cpp
  payload/unpack.cpp
  child/command_line.cpp
  child/creation_job.cpp
  child/run.cpp
  window/progress_window.cpp)
target_include_directories(quorin_launcher PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries(quorin_launcher PUBLIC quorin_core zstd_mingw shell32 user32 gdi32)

# The constants of the default build, for the stub and the tests that need them.
add_library(quorin_default_constants STATIC generated/baked_constants.cpp)
target_include_directories(quorin_default_constants PUBLIC "${CMAKE_SOURCE_DIR}")

# The stub: GUI subsystem and wide entry point; no symbols and no link time
# stamp, so the same sources give the same bytes.
add_executable(quorin_stub startup/main.cpp)
target_link_libraries(quorin_stub PRIVATE quorin_launcher quorin_default_constants)
target_link_options(quorin_stub PRIVATE -municode -mwindows -s -Wl,--no-insert-timestamp)
set_target_properties(quorin_stub PROPERTIES OUTPUT_NAME quorin-stub RUNTIME_OUTPUT_DIRECTORY "${QUORIN_STUB_DIR}")

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory("${QUORIN_GOOGLETEST_DIR}" googletest EXCLUDE_FROM_ALL)

# The packer for Windows: the same sources as on Linux with the Windows system
# layer, the whole libzstd (compression with worker threads) and the stub.
set(QUORIN_ZSTD_FULL_PREFIX "${CMAKE_SOURCE_DIR}/.deps/zstd-mingw-full" CACHE PATH "libzstd with compression, for mingw")
include(cmake/packer_sources.cmake)
# Its version resource carries the project version, as --version does.
enable_language(RC)
configure_file(packer/quorin-pack.rc.in "${CMAKE_BINARY_DIR}/quorin-pack.rc" @ONLY)
add_executable(quorin_pack_windows ${QUORIN_PACKER_SOURCES} packer/platform_windows.cpp packer/main.cpp
  "${CMAKE_BINARY_DIR}/quorin-pack.rc")
target_include_directories(quorin_pack_windows PRIVATE "${CMAKE_SOURCE_DIR}" "${QUORIN_ZSTD_FULL_PREFIX}/include")
target_link_libraries(quorin_pack_windows PRIVATE quorin_core "${QUORIN_ZSTD_FULL_PREFIX}/lib/libzstd.a" shell32)
target_compile_definitions(quorin_pack_windows PRIVATE QUORIN_PACKER_VERSION="${PROJECT_VERSION}")
set(QUORIN_WINDOWS_STUB "${QUORIN_STUB_DIR}/quorin-stub.exe")
set_source_files_properties("${CMAKE_SOURCE_DIR}/packer/stub_image.S" TARGET_DIRECTORY quorin_pack_windows PROPERTIES
  COMPILE_DEFINITIONS "QUORIN_STUB_PATH=\"${QUORIN_WINDOWS_STUB}\""
  OBJECT_DEPENDS "${QUORIN_WINDOWS_STUB}")
# The default icon (packer/default_icon.ico) is carried the same way.
set_source_files_properties("${CMAKE_SOURCE_DIR}/packer/default_icon.S" TARGET_DIRECTORY quorin_pack_windows PROPERTIES
  COMPILE_DEFINITIONS "QUORIN_DEFAULT_ICON_PATH=\"${QUORIN_DEFAULT_ICON}\""
  OBJECT_DEPENDS "${QUORIN_DEFAULT_ICON}")
add_dependencies(quorin_pack_windows quorin_stub)
target_link_options(quorin_pack_windows PRIVATE -s)
set_target_properties(quorin_pack_windows PROPERTIES OUTPUT_NAME quorin-pack RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

include(tests/windows_tests.cmake)

# The demo application the README packs.
add_executable(quorin_demo demo/app/main.cpp)
target_link_options(quorin_demo PRIVATE -municode)
set_target_properties(quorin_demo PROPERTIES OUTPUT_NAME Demo RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/demo")

include(bench/windows.cmake)
