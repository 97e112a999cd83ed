# The launcher's logic that needs no Windows: these files include no Windows
# header and are built twice, into the Windows launcher library and into the
# host library that the packer, the host tests and the fuzzers link.
set(QUORIN_PURE_SOURCES
  errors/report.cpp
  errors/system_text.cpp
  launcher/state.cpp
  launcher/wide_text.cpp
  launcher/widen.cpp
  template/placeholders.cpp
  template/random_text.cpp
  template/spec_reader.cpp
  template/time_text.cpp
  payload/checksum.cpp
  payload/crc32_fold.cpp
  payload/directory_cache.cpp
  payload/entry.cpp
  payload/entry_name.cpp
  payload/reader.cpp
  payload/temporary_name.cpp
  child/quote.cpp)
list(TRANSFORM QUORIN_PURE_SOURCES PREPEND "${CMAKE_SOURCE_DIR}/")
