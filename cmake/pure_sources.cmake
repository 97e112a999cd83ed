# The launcher's logic that needs no Windows: these files include no Windows
# header and are built into the Windows launcher library, into the host
# library that the packer and the host tests link, and, instrumented, into the
# fuzzers (tests/fuzz).
set(QUORIN_PURE_SOURCES
  errors/failure_text.cpp
  errors/report.cpp
  errors/system_text.cpp
  launcher/state.cpp
  launcher/wide_text.cpp
  launcher/widen.cpp
  template/per_run.cpp
  template/placeholders.cpp
  template/random_text.cpp
  template/spec_reader.cpp
  template/time_text.cpp
  payload/checksum.cpp
  payload/directory_cache.cpp
  payload/entry.cpp
  payload/entry_name.cpp
  payload/index.cpp
  payload/reader.cpp
  payload/record.cpp
  payload/temporary_name.cpp
  child/quote.cpp)
# Relative to the repository root, wherever the including project lives.
get_filename_component(QUORIN_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
list(TRANSFORM QUORIN_PURE_SOURCES PREPEND "${QUORIN_ROOT}/")
