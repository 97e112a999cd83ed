// Fuzzing the archive reader and the entry walk over arbitrary attached data:
// the input is the attached data after its signature ("QZY" is put in front).
// The walk reads entries as the packer's verify does (past names the rule
// refuses, data in requests of changing sizes) up to 4 MiB of archive bytes,
// then the rest of the frame. Every byte the reader hands out, where it
// fails and where the frame ends are compared with a decoding of the whole
// input by a loop of the harness's own; the headers must hold what their
// bytes say, and the name verdict must be the rule's.
// The decoder's window is capped at 4 MiB (decoder_window_seam.cpp). Pure
// test code.
#include <zstd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "payload/entry.h"
#include "payload/entry_name.h"
#include "payload/format.h"
#include "payload/reader.h"
#include "tests/fuzz/fuzz_units.h"

namespace {

namespace payload = quorin::payload;
using quorin::payload::EntryRead;

// The harness's limits: inputs of at most 1 MiB, and the walk stops asking
// for archive bytes past 4 MiB. The reference decoding goes 128 KiB further.
constexpr std::size_t kMaxInput = 1 << 20;
constexpr std::uint64_t kArchiveBudget = 4 << 20;
constexpr std::size_t kReferenceCap = kArchiveBudget + payload::kWindowSize;

// The input decoded by a loop of its own: decoder calls into consecutive
// 128 KiB slots of one buffer while input remains or the latest slot was
// filled, until the decoder refuses or the cap is reached. The reader must
// hand out exactly these bytes, and fail only where they end.
struct Reference {
  std::vector<unsigned char> bytes = std::vector<unsigned char>(kReferenceCap + payload::kWindowSize);
  std::size_t size = 0;
  bool capped = false;
  bool frame_ended = false;  // the first frame end, where it lies in output and input
  std::uint64_t frame_end_output = 0;
  std::uint64_t frame_end_input = 0;
};

void decode_reference(const unsigned char* input, std::size_t size, Reference& reference) {
  ZSTD_DCtx* context = ZSTD_createDCtx();
  if (context == nullptr) std::abort();
  ZSTD_inBuffer in = {input, size, 0};
  reference.size = 0;
  reference.frame_ended = false;
  bool filled = false;
  while ((in.pos < in.size || filled) && reference.size < kReferenceCap) {
    ZSTD_outBuffer out = {reference.bytes.data() + reference.size, payload::kWindowSize, 0};
    const std::size_t result = ZSTD_decompressStream(context, &out, &in);
    if (ZSTD_isError(result)) break;
    reference.size += out.pos;
    filled = out.pos == payload::kWindowSize;
    if (result == 0 && !reference.frame_ended) {
      reference.frame_ended = true;
      reference.frame_end_output = reference.size;
      reference.frame_end_input = in.pos;
    }
  }
  reference.capped = reference.size >= kReferenceCap;
  ZSTD_freeDCtx(context);
}

struct Walk {
  const Reference& reference;
  std::uint64_t handed_out = 0;  // what the reader must report as its output position
  std::uint64_t last_input = 0;
};

// After each reader call: the positions move forward and stay inside the input.
void check_positions(Walk& walk, std::size_t input_size) {
  QUORIN_FUZZ_CHECK(payload::payload_input_position() <= input_size);
  QUORIN_FUZZ_CHECK(payload::payload_input_position() >= walk.last_input);
  walk.last_input = payload::payload_input_position();
  if (payload::payload_frame_ended()) {
    QUORIN_FUZZ_CHECK(payload::payload_frame_end_position() <= walk.last_input);
  }
}

// A request of count bytes that the reader met (ok) or failed: met ones hold
// the reference's bytes; a failed one comes only where the reference ends,
// with every byte before that handed out. bytes holds the first known of them
// as the caller got them.
void check_request(Walk& walk, const unsigned char* bytes, std::uint64_t known, std::uint64_t count, bool ok) {
  const Reference& reference = walk.reference;
  const std::uint64_t at = walk.handed_out;
  if (ok) {
    walk.handed_out += count;
    QUORIN_FUZZ_CHECK(payload::payload_output_position() == walk.handed_out);
    QUORIN_FUZZ_CHECK(at + count <= reference.size);
  } else {
    QUORIN_FUZZ_CHECK(payload::payload_failure_text()[0] != '\0');
    walk.handed_out = payload::payload_output_position();
    QUORIN_FUZZ_CHECK(walk.handed_out >= at && walk.handed_out < at + count);
    QUORIN_FUZZ_CHECK(walk.handed_out == reference.size);
    known = std::min(known, walk.handed_out - at);
  }
  QUORIN_FUZZ_CHECK(known == 0 || std::memcmp(bytes, reference.bytes.data() + at, known) == 0);
}

// The bytes a header read took, as the header says they were.
std::vector<unsigned char> header_bytes(const payload::EntryHeader& header, EntryRead read) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i < header.name_len; ++i) {
    bytes.push_back(static_cast<unsigned char>(header.name[i] & 0xFF));
    bytes.push_back(static_cast<unsigned char>(header.name[i] >> 8));
  }
  if (read == EntryRead::kNameTooLong) return bytes;  // and one more unit, not kept
  bytes.push_back(0);
  bytes.push_back(0);
  if (read == EntryRead::kEndMarker) return bytes;
  for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<unsigned char>(header.size >> (8 * i)));
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(header.stored_checksum >> (8 * i)));
  return bytes;
}

void check_header(Walk& walk, const payload::EntryHeader& header, EntryRead read) {
  if (read == EntryRead::kFailed) {
    // Somewhere inside the header, whose length is not known yet.
    check_request(walk, nullptr, 0, 2 * payload::kEntryNameCap + payload::kSizeFieldSize + payload::kChecksumFieldSize,
                  false);
    return;
  }
  QUORIN_FUZZ_CHECK(header.name_len < payload::kEntryNameCap && header.name[header.name_len] == L'\0');
  for (std::size_t i = 0; i < header.name_len; ++i) {
    QUORIN_FUZZ_CHECK(header.name[i] != L'\0' && static_cast<std::uint32_t>(header.name[i]) <= 0xFFFF);
  }
  const std::vector<unsigned char> bytes = header_bytes(header, read);
  // A name too long ends with a unit the header does not keep.
  const std::uint64_t taken = bytes.size() + (read == EntryRead::kNameTooLong ? 2 : 0);
  check_request(walk, bytes.data(), bytes.size(), taken, true);
  switch (read) {
    case EntryRead::kEndMarker:
      QUORIN_FUZZ_CHECK(header.name_len == 0);
      break;
    case EntryRead::kNameTooLong:
      QUORIN_FUZZ_CHECK(header.name_len == payload::kEntryNameCap - 1);
      break;
    case EntryRead::kEntry:
    case EntryRead::kBadName:
      QUORIN_FUZZ_CHECK(header.name_len > 0);
      QUORIN_FUZZ_CHECK(header.name_problem == payload::entry_name_problem(header.name, header.name_len));
      QUORIN_FUZZ_CHECK((read == EntryRead::kEntry) == (header.name_problem == payload::NameProblem::kNone));
      break;
    case EntryRead::kFailed:
      break;
  }
}

// Request sizes the data is read in, in turn: around the 128 KiB window and
// a quarter of it, so that requests end inside, at and past a window.
constexpr std::size_t kRequestSizes[] = {32768, 1, 3, payload::kWindowSize + 7, 4096, payload::kWindowSize};

// The entries' data, up to the budget; false when the walk must stop.
bool read_data(Walk& walk, std::uint64_t size, std::size_t& turn, std::size_t input_size) {
  static std::vector<unsigned char> buffer(payload::kWindowSize + 7);
  for (std::uint64_t done = 0; done < size;) {
    const std::uint64_t want = std::min<std::uint64_t>(kRequestSizes[turn++ % std::size(kRequestSizes)], size - done);
    if (walk.handed_out + want > kArchiveBudget) return false;
    const bool ok = payload::payload_try_read(buffer.data(), want);
    check_positions(walk, input_size);
    check_request(walk, buffer.data(), want, want, ok);
    if (!ok) return false;
    done += want;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  // The reader keeps a pointer into the attached data until it is closed.
  std::vector<unsigned char> attached(payload::kSignature, payload::kSignature + payload::kSignatureSize);
  attached.insert(attached.end(), data, data + size);

  static Reference reference;
  decode_reference(attached.data() + payload::kSignatureSize, size, reference);

  if (!payload::payload_reader_open(attached.data(), attached.size())) std::abort();
  Walk walk{reference};
  // A count of 0 never calls the decoder.
  QUORIN_FUZZ_CHECK(payload::payload_try_read(nullptr, 0) && payload::payload_input_position() == 0);
  static payload::EntryHeader header;
  std::size_t turn = 0;
  bool at_end_marker = false;
  while (walk.handed_out + 2 * payload::kEntryNameCap + 12 <= kArchiveBudget) {
    const EntryRead read = payload::read_entry_header(header);
    check_positions(walk, size);
    check_header(walk, header, read);
    if (read == EntryRead::kEndMarker) at_end_marker = true;
    if (read != EntryRead::kEntry && read != EntryRead::kBadName) break;
    if (!read_data(walk, header.size, turn, size)) break;
  }

  if (at_end_marker) {
    // The rest of the frame, as verify decodes it, dropped and counted.
    std::uint64_t content_after = 0;
    const bool frame_end_before = payload::payload_frame_ended();
    const bool ok = payload::payload_read_to_frame_end(content_after);
    check_positions(walk, size);
    QUORIN_FUZZ_CHECK(payload::payload_output_position() == walk.handed_out);
    QUORIN_FUZZ_CHECK(ok == payload::payload_frame_ended());
    const std::uint64_t decoded = walk.handed_out + content_after;
    if (!ok) {
      QUORIN_FUZZ_CHECK(payload::payload_failure_text()[0] != '\0');
      QUORIN_FUZZ_CHECK(!reference.frame_ended);
      QUORIN_FUZZ_CHECK(reference.capped ? decoded >= reference.size : decoded == reference.size);
    } else if (!frame_end_before) {
      QUORIN_FUZZ_CHECK(reference.frame_ended ? decoded == reference.frame_end_output : reference.capped);
    }
  }
  // The first frame end is remembered where it lies in the input.
  if (payload::payload_frame_ended()) {
    QUORIN_FUZZ_CHECK(reference.frame_ended ? payload::payload_frame_end_position() == reference.frame_end_input
                                            : reference.capped);
  }
  payload::payload_reader_close();
  return 0;
}
