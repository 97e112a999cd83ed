// Fuzzing what list, verify and extract do with the file they are given:
// find the attached data (a whole attached-data file, or inside a launcher
// exe by its baked constants), read the frame header, and walk the archive
// with hooks that touch every piece of every entry. The input is the whole
// file. What is located lies in the file and is at least the signature long;
// each piece lies in the reader's window, and an entry's pieces add up to
// its size. The walk stops after 4 MiB of archive bytes, and the decoder's
// window is capped at 4 MiB (decoder_window_seam.cpp). Pure test code.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "generated/baked_layout.h"
#include "packer/attached_reader.h"
#include "payload/format.h"
#include "payload/reader.h"
#include "tests/fuzz/fuzz_units.h"

namespace {

using namespace quorin::packer;
namespace payload = quorin::payload;

// A launcher's constants alone are 12 KiB; 256 KiB leaves room for an
// archive, and for a frame whose rest (decoded after the end marker) stays
// a few GiB of output at most.
constexpr std::size_t kMaxInput = 256 << 10;
constexpr std::uint64_t kArchiveBudget = 4 << 20;

Result within_budget() {
  return payload::payload_output_position() <= kArchiveBudget ? ok() : fail("the fuzzer's budget is spent");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  // What list shows of a launcher: its texts end within their rooms.
  LauncherIdentity identity;
  if (read_launcher_identity(data, size, identity)) {
    QUORIN_FUZZ_CHECK(identity.spec.size() < quorin::generated::kBakedSpecCap &&
                      identity.company.size() < quorin::generated::kBakedTextCap &&
                      identity.product.size() < quorin::generated::kBakedTextCap &&
                      identity.version.size() < quorin::generated::kBakedVersionCap);
  }
  AttachedLocation where;
  if (Result r = locate_attached_data(data, size, where); !r) {
    QUORIN_FUZZ_CHECK(!r.error.empty());
    return 0;
  }
  QUORIN_FUZZ_CHECK(where.offset <= size && where.length <= size - where.offset);
  QUORIN_FUZZ_CHECK(where.length >= payload::kSignatureSize);
  const unsigned char* attached = data + where.offset;
  if (!where.in_launcher) QUORIN_FUZZ_CHECK(std::memcmp(attached, payload::kSignature, payload::kSignatureSize) == 0);

  FrameHeader header;
  if (read_frame_header(attached + payload::kSignatureSize, where.length - payload::kSignatureSize, header)) {
    QUORIN_FUZZ_CHECK(header.window_log == 0 || header.window_size == std::uint64_t{1} << header.window_log);
    QUORIN_FUZZ_CHECK(header.content_size_flag || header.content_size == 0);
  }

  std::uint64_t entry_bytes = 0;
  EntryHooks hooks;
  hooks.begin = [&entry_bytes](const EntryRecord&) {
    entry_bytes = 0;
    return within_budget();
  };
  hooks.data = [&entry_bytes](const EntryRecord& entry, const unsigned char* piece, std::size_t piece_size) {
    QUORIN_FUZZ_CHECK(piece != nullptr && piece_size > 0 && piece_size <= payload::kWindowSize);
    QUORIN_FUZZ_CHECK(entry_bytes + piece_size <= entry.size);
    quorin::fuzz::touch_range(piece, piece_size);
    entry_bytes += piece_size;
    return within_budget();
  };
  hooks.end = [&entry_bytes](const EntryRecord& entry) {
    QUORIN_FUZZ_CHECK(entry.complete && entry_bytes == entry.size);
    return ok();
  };
  const WalkResult walk = walk_archive(attached, where.length, hooks, nullptr);
  QUORIN_FUZZ_CHECK((walk.end == WalkEnd::end_marker) == walk.why.empty());
  for (std::size_t i = 0; i + 1 < walk.entries.size(); ++i) QUORIN_FUZZ_CHECK(walk.entries[i].complete);
  if (walk.frame_complete) QUORIN_FUZZ_CHECK(walk.frame_bytes <= where.length - payload::kSignatureSize);
  return 0;
}
