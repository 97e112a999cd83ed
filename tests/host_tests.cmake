# Host tests (native GoogleTest) and the Wine runs of the Windows tests.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory("${QUORIN_GOOGLETEST_DIR}" googletest EXCLUDE_FROM_ALL)

set(QUORIN_FIXTURES_DIR "${CMAKE_BINARY_DIR}/fixtures")
set(QUORIN_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")

# Host programs that make test inputs: trees and damaged attached data.
add_executable(quorin_make_fixtures tests/fixtures/make_fixtures.cpp)
target_link_libraries(quorin_make_fixtures PRIVATE quorin_packer_core ZLIB::ZLIB)

file(GLOB QUORIN_HOST_TESTS CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/host/*_test.cpp")
add_executable(quorin_host_tests ${QUORIN_HOST_TESTS})
target_link_libraries(quorin_host_tests PRIVATE quorin_packer_core GTest::gtest_main ZLIB::ZLIB)
target_compile_definitions(quorin_host_tests PRIVATE
  QUORIN_PACK="$<TARGET_FILE:quorin-pack>"
  QUORIN_PACK_WINDOWS="${QUORIN_WINDOWS_BINARY_DIR}/bin/quorin-pack.exe"
  QUORIN_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  QUORIN_WINDOWS_PROGRAMS="${QUORIN_WINDOWS_BINARY_DIR}/programs")
add_dependencies(quorin_host_tests quorin-pack quorin_windows)
add_test(NAME host COMMAND quorin_host_tests)

# Each fuzzer for a few seconds after replaying its kept regression inputs;
# fails on any finding (scripts/fuzz.sh, which prints the table).
add_test(NAME fuzz COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/fuzz.sh" 3)
set_tests_properties(fuzz PROPERTIES ENVIRONMENT "QUORIN_FUZZ_DIR=${CMAKE_BINARY_DIR}/fuzz")

# The launchers the Windows tests start, packed from fixture trees and
# attached-data files by the packer itself.
include("${CMAKE_SOURCE_DIR}/tests/fixtures/launchers.cmake")

# Every Windows test program runs under Wine in a prefix of its own inside the
# build tree, with one wineserver kept running for the whole run.
set(QUORIN_WINE_ENV
  "WINEPREFIX=${QUORIN_WINEPREFIX}"
  "WINEDEBUG=-all"
  "WINEDLLOVERRIDES=mscoree,mshtml="
  "QUORIN_FIXTURES=${QUORIN_FIXTURES_DIR}")
add_test(NAME wine_start COMMAND "${CMAKE_SOURCE_DIR}/scripts/wine-prefix" start "${QUORIN_WINEPREFIX}")
add_test(NAME wine_stop COMMAND "${CMAKE_SOURCE_DIR}/scripts/wine-prefix" stop "${QUORIN_WINEPREFIX}")
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)

# A small drive for the full-disk test: U:, a tmpfs (mounted when run as root).
set(QUORIN_FULL_DISK_POINT "${CMAKE_BINARY_DIR}/full-disk")
add_test(NAME full_disk_mount
         COMMAND "${CMAKE_SOURCE_DIR}/scripts/full-disk-drive" mount "${QUORIN_WINEPREFIX}" "${QUORIN_FULL_DISK_POINT}")
add_test(NAME full_disk_unmount
         COMMAND "${CMAKE_SOURCE_DIR}/scripts/full-disk-drive" unmount "${QUORIN_WINEPREFIX}" "${QUORIN_FULL_DISK_POINT}")
set_tests_properties(full_disk_mount PROPERTIES FIXTURES_SETUP full_disk FIXTURES_REQUIRED wine)
set_tests_properties(full_disk_unmount PROPERTIES FIXTURES_CLEANUP full_disk)

file(GLOB QUORIN_WINDOWS_TESTS CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/windows/*_test.cpp")
foreach(source ${QUORIN_WINDOWS_TESTS})
  get_filename_component(name "${source}" NAME_WE)
  set(exe "${QUORIN_WINDOWS_BINARY_DIR}/tests/${name}.exe")
  add_test(NAME "wine_${name}" COMMAND wine "${exe}")
  # A program that hangs under Wine fails its test within ten minutes
  # instead of holding the whole run.
  set_tests_properties("wine_${name}" PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${QUORIN_WINE_ENV}" TIMEOUT 600)
endforeach()

# The benchmark's pieces, one short round under the test prefix: the reference
# programs must do the launcher's work. Times are printed, never judged.
find_program(QUORIN_PYTHON3 python3 REQUIRED)
add_test(NAME bench_smoke COMMAND "${QUORIN_PYTHON3}" "${CMAKE_SOURCE_DIR}/bench/smoke.py" "${CMAKE_BINARY_DIR}"
         "${QUORIN_WINEPREFIX}")
set_tests_properties(bench_smoke PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${QUORIN_WINE_ENV}")
# Launchers killed while they unpack: the kill comes from the host.
add_test(NAME wine_killed_launchers COMMAND bash "${CMAKE_SOURCE_DIR}/tests/scripts/killed_launchers.sh"
                                            "${QUORIN_FIXTURES_DIR}")
set_tests_properties(wine_killed_launchers PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${QUORIN_WINE_ENV}")
# Folder and file links for the staging test, planted from the Unix side.
set(QUORIN_LINKS_DIR "${CMAKE_BINARY_DIR}/links")
add_test(NAME plant_links COMMAND bash "${CMAKE_SOURCE_DIR}/tests/scripts/plant_links.sh" "${QUORIN_LINKS_DIR}")
set_tests_properties(plant_links PROPERTIES FIXTURES_SETUP links)
set_tests_properties(wine_payload_staging_test PROPERTIES FIXTURES_REQUIRED "wine;links"
                     ENVIRONMENT "${QUORIN_WINE_ENV};QUORIN_UNIX_LINKS=${QUORIN_LINKS_DIR}")
set_tests_properties(wine_payload_full_disk_test PROPERTIES FIXTURES_REQUIRED "wine;full_disk"
                     ENVIRONMENT "${QUORIN_WINE_ENV};QUORIN_FULL_DISK_DRIVE=U:")
# What a person sees: the progress window and the failure box, under a
# virtual display, in a Wine prefix of its own (scripts/display-session.sh).
add_test(NAME wine_shown_windows
         COMMAND xvfb-run -a -s "-screen 0 1024x768x24" bash "${CMAKE_SOURCE_DIR}/tests/scripts/shown_windows.sh"
                 "$<TARGET_FILE:quorin-pack>" "${QUORIN_WINDOWS_BINARY_DIR}/programs" "${CMAKE_BINARY_DIR}/shown-windows"
                 "${CMAKE_BINARY_DIR}/wineprefix-display")
set_tests_properties(wine_shown_windows PROPERTIES TIMEOUT 600)
