# The benchmark's Windows programs: the child it packs and the reference
# programs it times beside the launcher (built into build/windows/bench).
# The empty program is built by the benchmark itself, against the imports of
# the launcher it measures.
foreach(name decode_alone crc_alone unpack_plain bench_child)
  add_executable(bench_${name} "${CMAKE_SOURCE_DIR}/bench/programs/${name}.cpp")
  target_include_directories(bench_${name} PRIVATE "${CMAKE_SOURCE_DIR}")
  target_link_options(bench_${name} PRIVATE -municode -mwindows)
  set_target_properties(bench_${name} PROPERTIES OUTPUT_NAME ${name} RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bench")
endforeach()
target_link_libraries(bench_decode_alone PRIVATE zstd_mingw)
target_link_libraries(bench_unpack_plain PRIVATE zstd_mingw)
target_link_libraries(bench_crc_alone PRIVATE z)
