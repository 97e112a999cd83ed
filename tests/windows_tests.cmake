# Windows tests (GoogleTest, run under Wine by the host side) and the small
# Windows programs they start.
file(GLOB QUORIN_WINDOWS_TEST_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/windows/*_test.cpp")
file(GLOB QUORIN_TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/windows/support/*.cpp")
add_library(quorin_test_support STATIC ${QUORIN_TEST_SUPPORT_SOURCES})
target_link_libraries(quorin_test_support PUBLIC quorin_launcher GTest::gtest version imagehlp z)
target_include_directories(quorin_test_support PUBLIC "${CMAKE_SOURCE_DIR}")
# GoogleTest's death tests create their process through process_retry.cpp
# (Wine refuses a creation now and then under load); -u pulls that file in.
target_link_options(quorin_test_support INTERFACE -Wl,--wrap=__imp_CreateProcessA
                    -Wl,--undefined=__wrap___imp_CreateProcessA)

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

# A program linked against DLLs, as most applications are: one of its own and
# the mingw runtime's (no -static), in programs/linked, with copies of the
# runtime's DLLs in programs/linked/runtime. The packer must refuse it until
# they are packed with it.
set(QUORIN_LINKED_DIR "${CMAKE_BINARY_DIR}/programs/linked")
add_library(linked_store SHARED tests/programs/linked/linked_store.cpp)
add_executable(linked_child tests/programs/linked/linked_child.cpp)
target_link_libraries(linked_child PRIVATE linked_store)
set_target_properties(linked_store linked_child PROPERTIES
  LINK_OPTIONS "" PREFIX "" RUNTIME_OUTPUT_DIRECTORY "${QUORIN_LINKED_DIR}")
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=${dll}
                  OUTPUT_VARIABLE runtime_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
  add_custom_command(TARGET linked_child POST_BUILD
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${QUORIN_LINKED_DIR}/runtime"
    COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${runtime_dll}" "${QUORIN_LINKED_DIR}/runtime/${dll}"
    VERBATIM)
endforeach()
