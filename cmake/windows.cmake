# The Windows side: the launcher as a static library (the packer links it into
# each launcher with the generated constants and resources), the Windows tests
# and the test programs that run under Wine.

set(QUORIN_ZSTD_PREFIX "${CMAKE_SOURCE_DIR}/.deps/zstd-mingw" CACHE PATH "libzstd built for mingw")
set(QUORIN_LIB_DIR "${CMAKE_BINARY_DIR}/lib" CACHE PATH "where the packer finds the launcher library")

# No paths of the build machine in the objects the packer links.
add_compile_options(-O2 -Wall -Wextra -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -fno-ident)
add_link_options(-static)

add_library(zstd_mingw STATIC IMPORTED)
set_target_properties(zstd_mingw PROPERTIES
  IMPORTED_LOCATION "${QUORIN_ZSTD_PREFIX}/lib/libzstd.a"
  INTERFACE_INCLUDE_DIRECTORIES "${QUORIN_ZSTD_PREFIX}/include")

include(cmake/pure_sources.cmake)
add_library(quorin_launcher STATIC
  ${QUORIN_PURE_SOURCES}
  errors/hard_stop.cpp
  errors/system_error.cpp
  errors/temporary_file.cpp
  launcher/env.cpp
  launcher/main.cpp
  template/expand.cpp
  payload/staging.cpp
  payload/unpack.cpp
  child/command_line.cpp
  child/run.cpp)
target_include_directories(quorin_launcher PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries(quorin_launcher PUBLIC zstd_mingw z shell32)
set_target_properties(quorin_launcher PROPERTIES ARCHIVE_OUTPUT_DIRECTORY "${QUORIN_LIB_DIR}")
# The packer links the launcher against this copy, so it needs nothing else.
configure_file("${QUORIN_ZSTD_PREFIX}/lib/libzstd.a" "${QUORIN_LIB_DIR}/libzstd.a" COPYONLY)
# And the declarations the generated constants source includes.
configure_file("${CMAKE_SOURCE_DIR}/generated/baked.h" "${QUORIN_LIB_DIR}/include/generated/baked.h" COPYONLY)

# The constants of the default build, for the tests that need them.
add_library(quorin_default_constants STATIC generated/baked_constants.cpp)
target_include_directories(quorin_default_constants PUBLIC "${CMAKE_SOURCE_DIR}")

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory("${QUORIN_GOOGLETEST_DIR}" googletest EXCLUDE_FROM_ALL)

include(tests/windows_tests.cmake)

# The demo application the README packs.
add_executable(quorin_demo demo/app/main.cpp)
target_link_options(quorin_demo PRIVATE -municode)
set_target_properties(quorin_demo PROPERTIES OUTPUT_NAME Demo RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/demo")
