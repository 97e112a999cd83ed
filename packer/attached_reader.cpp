// Reading attached data on the build machine: finding it in a file, its frame
// header (by zstd's own reader), and the entry walk through the launcher's
// own reader. Pure code over the bytes of a file its caller has mapped.
#include "packer/attached_reader.h"

// For ZSTD_getFrameHeader: the library's own reading of a frame header.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>

#include "generated/baked_layout.h"
#include "packer/little_endian.h"
#include "packer/pe_image.h"
#include "packer/utf16.h"
#include "payload/checksum.h"
#include "payload/entry.h"
#include "payload/format.h"
#include "payload/reader.h"

namespace quorin::packer {

namespace {

// The attached data a launcher's baked block points to: an RVA and a length,
// which must lie in the file.
// Where the index lies, from the baked block of a launcher that has one. A
// place outside the file is a problem for verify, not a reason to refuse the
// file: the launcher then decodes as without an index.
void locate_index(const unsigned char* block, std::uint64_t size, const PeImage& image, AttachedLocation& where) {
  const std::uint64_t rva = read_le(block + generated::kBakedIndexRvaOffset, 8);
  const std::uint64_t length = read_le(block + generated::kBakedIndexLengthOffset, 8);
  if (rva == 0 && length == 0) return;
  std::uint64_t offset = 0, available = 0;
  if (rva > UINT32_MAX || !rva_to_offset(image, size, static_cast<std::uint32_t>(rva), offset, available) ||
      available < length) {
    where.index_problem = "the index lies outside the file (" + std::to_string(length) + " bytes at RVA " +
                          std::to_string(rva) + ")";
    return;
  }
  where.index_offset = offset;
  where.index_length = length;
}

// True when the block, of room bytes in the file, starts with magic and
// holds at least the size of its version.
bool block_is(const unsigned char* block, std::uint64_t room, const char (&magic)[16], std::size_t block_size) {
  return room >= block_size && std::memcmp(block, magic, sizeof magic) == 0;
}

Result locate_in_launcher(const unsigned char* file, std::uint64_t size, const PeImage& image,
                          const PeSection& baked, AttachedLocation& where) {
  // The block of an earlier packer ends after the index's fields (v2) or
  // before them (v1).
  const unsigned char* block = file + baked.raw_offset;
  const std::uint64_t room = baked.raw_offset + std::uint64_t{baked.raw_size} <= size ? baked.raw_size : 0;
  const bool with_index = block_is(block, room, generated::kBakedMagic, generated::kBakedSize) ||
                          block_is(block, room, generated::kBakedMagicWithIndex, generated::kBakedSizeWithIndex);
  const bool without_index =
      block_is(block, room, generated::kBakedMagicWithoutIndex, generated::kBakedIndexRvaOffset);
  if (!with_index && !without_index) return fail("a launcher whose constants are damaged");
  if (with_index) locate_index(block, size, image, where);
  const std::uint64_t rva = read_le(file + baked.raw_offset + generated::kBakedAttachedRvaOffset, 8);
  const std::uint64_t length = read_le(file + baked.raw_offset + generated::kBakedAttachedLengthOffset, 8);
  if (length == 0) return fail("a launcher stub, with no attached data");
  const std::string claim = " (" + std::to_string(length) + " bytes at RVA " + std::to_string(rva) + ")";
  // The section may claim more raw data than the file holds (a cut
  // download): rva_to_offset counts only the bytes in the file.
  std::uint64_t offset = 0, available = 0;
  if (rva > UINT32_MAX || !rva_to_offset(image, size, static_cast<std::uint32_t>(rva), offset, available) ||
      available < length) {
    return fail("a launcher whose attached data lies outside the file" + claim);
  }
  // Its readers step over the signature's three bytes without looking (build
  // --attached takes any bytes), so they must be there.
  if (length < payload::kSignatureSize) {
    return fail("a launcher whose attached data is shorter than its signature" + claim);
  }
  where.offset = offset;
  where.length = length;
  where.in_launcher = true;
  return ok();
}

}  // namespace

Result locate_attached_data(const unsigned char* file, std::uint64_t size, AttachedLocation& where) {
  where = {};
  if (size >= payload::kSignatureSize && std::memcmp(file, payload::kSignature, payload::kSignatureSize) == 0) {
    where.length = size;
    return ok();
  }
  // A launcher of this packer: its baked block says where the data lies.
  PeImage image;
  if (read_pe_image(file, size, image)) {
    if (const PeSection* baked = find_section(image, generated::kBakedSectionName); baked != nullptr) {
      return locate_in_launcher(file, size, image, *baked, where);
    }
  }
  if (size >= 2 && file[0] == 'M' && file[1] == 'Z') return fail("a Windows program, but not a launcher");
  return fail("neither a launcher exe nor attached data (which starts with \"QZY\")");
}

bool read_launcher_identity(const unsigned char* file, std::uint64_t size, LauncherIdentity& identity) {
  identity = {};
  PeImage image;
  if (!read_pe_image(file, size, image)) return false;
  const PeSection* baked = find_section(image, generated::kBakedSectionName);
  // Every block holds the texts before the index's fields.
  if (baked == nullptr || baked->raw_offset + std::uint64_t{baked->raw_size} > size) return false;
  const unsigned char* block = file + baked->raw_offset;
  const bool current = block_is(block, baked->raw_size, generated::kBakedMagic, generated::kBakedSize);
  if (!current && !block_is(block, baked->raw_size, generated::kBakedMagicWithIndex, generated::kBakedIndexRvaOffset) &&
      !block_is(block, baked->raw_size, generated::kBakedMagicWithoutIndex, generated::kBakedIndexRvaOffset)) {
    return false;
  }
  // Up to the terminator, and never into it: the room's last unit is its own.
  const auto text = [block](std::size_t offset, std::size_t cap) {
    std::u16string out;
    for (std::size_t i = 0; i + 1 < cap; ++i) {
      const auto unit = static_cast<char16_t>(read_le(block + offset + 2 * i, 2));
      if (unit == 0) break;
      out.push_back(unit);
    }
    return out;
  };
  identity.spec = text(generated::kBakedSpecOffset, generated::kBakedSpecCap);
  identity.company = text(generated::kBakedCompanyOffset, generated::kBakedTextCap);
  identity.product = text(generated::kBakedProductOffset, generated::kBakedTextCap);
  if (current) {
    identity.build = text(generated::kBakedBuildOffset, generated::kBakedBuildCap);
    identity.keep_builds = static_cast<std::uint32_t>(read_le(block + generated::kBakedKeepBuildsOffset, 4));
    identity.progress_window = static_cast<std::uint32_t>(read_le(block + generated::kBakedProgressWindowOffset, 4));
  }
  identity.version = text(generated::kBakedVersionOffset, generated::kBakedVersionCap);
  identity.subsystem = image.subsystem;
  return true;
}

Result read_frame_header(const unsigned char* data, std::uint64_t size, FrameHeader& header) {
  header = {};
  if (size < 5) return fail("the data ends before the frame header");
  const std::uint64_t magic = read_le(data, 4);
  if ((magic & ZSTD_MAGIC_SKIPPABLE_MASK) == ZSTD_MAGIC_SKIPPABLE_START) {
    return fail("a skippable frame, not a frame of compressed data");
  }
  if (magic != ZSTD_MAGICNUMBER) return fail("no Zstandard frame after the signature (its magic number is missing)");
  // The header is at most ZSTD_FRAMEHEADERSIZE_MAX bytes long; the rest of the data does not matter here.
  ZSTD_frameHeader frame;
  const std::size_t read = ZSTD_getFrameHeader(&frame, data, std::min<std::uint64_t>(size, ZSTD_FRAMEHEADERSIZE_MAX));
  if (ZSTD_isError(read)) {
    switch (ZSTD_getErrorCode(read)) {
      case ZSTD_error_frameParameter_unsupported:
        return fail("the frame header sets its reserved bit");
      case ZSTD_error_frameParameter_windowTooLarge:
        // zstd reads no window above 2^31 (ZSTD_WINDOWLOG_MAX on 64-bit machines).
        return fail("its window is above 2147483648 bytes (2^31), the launcher's decoder takes at most 134217728 "
                    "(2^27)");
      default:
        return fail(std::string("the frame header cannot be read: ") + ZSTD_getErrorName(read));
    }
  }
  if (read > 0) return fail("the data ends inside the frame header");  // it wants that many bytes
  // zstd gives a single-segment frame's content size as its window, and
  // takes a content size of 2^64 - 1 as none: that value means unknown.
  header.window_size = frame.windowSize;
  if (std::has_single_bit(header.window_size)) {
    header.window_log = static_cast<unsigned>(std::countr_zero(header.window_size));
  }
  header.content_size_flag = frame.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN;
  if (header.content_size_flag) header.content_size = frame.frameContentSize;
  header.checksum_flag = frame.checksumFlag != 0;
  header.dictionary_id = frame.dictID;
  return ok();
}

std::string entry_label(std::size_t index, const EntryRecord& entry) {
  return "entry " + std::to_string(index + 1) + " ('" + printable_name(entry.name) + "')";
}

namespace {

// Progress is reported after about this much of an entry's data.
constexpr std::uint64_t kProgressStep = std::uint64_t{32} << 20;

// Why the walk stopped where the reader failed. After the frame's end the
// reader meets the trailing fields, which are no frame: then the frame's
// content simply ended early.
void stop(WalkResult& result, const std::string& where) {
  if (payload::payload_frame_ended()) {
    result.end = WalkEnd::frame_ended;
    result.why = "the frame's content ends " + where + ", without the end marker";
  } else {
    result.end = WalkEnd::decode_failed;
    result.why = "the frame cannot be decoded " + where + " (compressed byte " +
                 std::to_string(payload::kSignatureSize + payload::payload_input_position()) +
                 "): " + payload::payload_failure_text();
  }
  result.archive_bytes = payload::payload_output_position();
}

// A hook's result: true to go on; false, with the walk's end set, when it
// says stop.
bool hook_passed(WalkResult& result, const Result& hook) {
  if (hook) return true;
  result.end = WalkEnd::hook_failed;
  result.why = hook.error;
  result.archive_bytes = payload::payload_output_position();
  return false;
}

// The reader is process-wide; one walk holds it at a time.
struct ReaderClose {
  ~ReaderClose() { payload::payload_reader_close(); }
};

// Where a header read failed: before any unit of it, inside the name, or in
// the fixed fields after the name.
std::string header_failure_place(std::size_t index, const payload::EntryHeader& header, std::uint64_t consumed) {
  if (consumed == 0) return index == 0 ? "before the first entry" : "after entry " + std::to_string(index);
  if (consumed < 2 * (header.name_len + 1)) return "inside the name of entry " + std::to_string(index + 1);
  return "inside the size or checksum of entry " + std::to_string(index + 1);
}

// What one walk carries from entry to entry.
struct Walk {
  const EntryHooks& hooks;
  const ProgressFn& progress;
  std::uint64_t input_size;  // the compressed bytes after the signature
  WalkResult& result;
};

void report_progress(const Walk& walk) {
  if (walk.progress) walk.progress(payload::payload_input_position(), walk.input_size);
}

// What a header read gave: an entry whose data follows, the end marker, or
// the end of the walk (its result says why).
enum class HeaderStep { entry, end_marker, stopped };

HeaderStep read_header(Walk& walk, payload::EntryHeader& header, EntryRecord& entry) {
  const std::size_t index = walk.result.entries.size();
  const std::uint64_t header_start = payload::payload_output_position();
  const payload::EntryRead read = payload::read_entry_header(header);
  report_progress(walk);
  switch (read) {
    case payload::EntryRead::kEndMarker:
      return HeaderStep::end_marker;
    case payload::EntryRead::kFailed:
      stop(walk.result, header_failure_place(index, header, payload::payload_output_position() - header_start));
      return HeaderStep::stopped;
    case payload::EntryRead::kNameTooLong:
      walk.result.end = WalkEnd::name_too_long;
      walk.result.why = "the name of entry " + std::to_string(index + 1) +
                        " has more than 1023 UTF-16 units; the launcher stops there";
      walk.result.archive_bytes = payload::payload_output_position();
      return HeaderStep::stopped;
    case payload::EntryRead::kEntry:
    case payload::EntryRead::kBadName:
      break;
  }
  entry.name.assign(header.name, header.name + header.name_len);
  entry.size = header.size;
  entry.stored_checksum = header.stored_checksum;
  entry.name_problem = header.name_problem;
  return HeaderStep::entry;
}

// The entry's data in the pieces the reader's window holds, as the launcher
// writes it: no copy. Each piece goes to the data hook and into the
// checksum; false when the data fails (the entry is kept, incomplete) or the
// hook stops the walk.
bool walk_data(Walk& walk, EntryRecord& entry) {
  std::uint32_t crc = 0;
  std::uint64_t next_progress = kProgressStep;
  for (std::uint64_t done = 0; done < entry.size;) {
    std::size_t piece_size = 0;
    const unsigned char* piece = payload::payload_next_piece(entry.size - done, piece_size);
    if (piece == nullptr) {
      const std::string label = entry_label(walk.result.entries.size(), entry);
      walk.result.entries.push_back(entry);
      stop(walk.result, "inside the data of " + label + ", after " + std::to_string(done) + " of " +
                            std::to_string(entry.size) + " bytes");
      return false;
    }
    crc = payload::crc32_update(crc, piece, piece_size);
    if (walk.hooks.data && !hook_passed(walk.result, walk.hooks.data(entry, piece, piece_size))) return false;
    done += piece_size;
    if (done >= next_progress) {
      report_progress(walk);
      next_progress = done + kProgressStep;
    }
  }
  entry.data_checksum = payload::stored_checksum(crc);
  entry.complete = true;
  return true;
}

// Every entry up to the end marker, each through the hooks; false when the
// walk ends before the end marker (its result says why).
bool walk_entries(Walk& walk) {
  // The header holds a name buffer of 1024 wide characters: not on the stack.
  auto header = std::make_unique<payload::EntryHeader>();
  for (;;) {
    EntryRecord entry;
    const HeaderStep step = read_header(walk, *header, entry);
    if (step == HeaderStep::end_marker) return true;
    if (step == HeaderStep::stopped) return false;
    if (walk.hooks.begin && !hook_passed(walk.result, walk.hooks.begin(entry))) return false;
    if (!walk_data(walk, entry)) return false;
    walk.result.entries.push_back(entry);
    if (walk.hooks.end && !hook_passed(walk.result, walk.hooks.end(walk.result.entries.back()))) return false;
  }
}

// The launcher stops reading at the end marker. The rest of the frame is
// decoded too, to find content after the end marker, a failing content
// checksum, and where the frame ends.
void read_rest_of_frame(WalkResult& result) {
  if (!payload::payload_read_to_frame_end(result.content_after_end_marker)) {
    result.frame_error = payload::payload_failure_text();
    return;
  }
  result.frame_complete = true;
  result.frame_bytes = payload::payload_frame_end_position();
}

}  // namespace

WalkResult walk_archive(const unsigned char* attached, std::uint64_t length, const EntryHooks& hooks,
                        const ProgressFn& progress) {
  WalkResult result;
  if (length < payload::kSignatureSize) {
    result.end = WalkEnd::decode_failed;
    result.why = "the data is shorter than its signature";
    return result;
  }
  // The launcher's own reader and entry walk: what it accepts, this accepts.
  if (!payload::payload_reader_open(attached, length)) {
    result.end = WalkEnd::decode_failed;
    result.why = "out of memory";
    return result;
  }
  ReaderClose close_reader;
  Walk walk{hooks, progress, length - payload::kSignatureSize, result};
  if (!walk_entries(walk)) return result;
  result.end = WalkEnd::end_marker;
  result.archive_bytes = payload::payload_output_position();
  read_rest_of_frame(result);
  return result;
}

std::string printable_name(const std::u16string& name) {
  const std::string text = utf16_to_utf8(name);
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace quorin::packer
