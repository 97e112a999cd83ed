# Windows tests (GoogleTest, run under Wine by the host side) and the small
# Windows programs they start.
file(GLOB QUORIN_WINDOWS_TEST_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/windows/*_test.cpp")
file(GLOB QUORIN_TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/windows/support/*.cpp")
add_library(quorin_test_support STATIC ${QUORIN_TEST_SUPPORT_SOURCES})
target_link_libraries(quorin_test_support PUBLIC quorin_launcher GTest::gtest version imagehlp z)
target_include_directories(quorin_test_support PUBLIC "${CMAKE_SOURCE_DIR}")

foreach(source ${QUORIN_WINDOWS_TEST_SOURCES})
  get_filename_component(name "${source}" NAME_WE)
  add_executable(${name} "${source}")
  target_link_libraries(${name} PRIVATE quorin_test_support quorin_launcher quorin_default_constants GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests")
endforeach()

# Programs packed into test launchers, or started by the tests.
file(GLOB QUORIN_TEST_PROGRAMS CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/programs/*.cpp")
foreach(source ${QUORIN_TEST_PROGRAMS})
  get_filename_component(name "${source}" NAME_WE)
  add_executable(${name} "${source}")
  target_link_options(${name} PRIVATE -municode -mwindows)
  target_link_libraries(${name} PRIVATE z)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/programs")
endforeach()
