// Reading attached data on the build machine. Maps the file it reads; the
// rest is pure code over the mapped bytes.
#include "packer/attached_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "packer/utf16.h"
#include "payload/format.h"

namespace quorin::packer {

namespace {

// A name longer than this has lost its terminator: the walk gives up on it.
constexpr std::size_t kRunawayNameUnits = 32768;

std::uint64_t get_le(const unsigned char* at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

struct Section {
  std::uint64_t start = 0;  // file offset of its raw data
  std::uint64_t size = 0;   // raw data bytes inside the file
};

// The raw data of the sections named ".rdata" of a PE file, clipped to the
// file; empty when the file is not a PE file.
std::vector<Section> rdata_sections(const unsigned char* file, std::uint64_t size) {
  std::vector<Section> sections;
  if (size < 0x40 || file[0] != 'M' || file[1] != 'Z') return sections;
  const std::uint64_t pe = get_le(file + 0x3C, 4);
  if (pe > size || size - pe < 24 || std::memcmp(file + pe, "PE\0\0", 4) != 0) return sections;
  const std::uint64_t count = get_le(file + pe + 6, 2);
  const std::uint64_t optional_size = get_le(file + pe + 20, 2);
  const std::uint64_t table = pe + 24 + optional_size;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t entry = table + 40 * i;
    if (entry > size || size - entry < 40) break;
    if (std::memcmp(file + entry, ".rdata\0\0", 8) != 0) continue;
    Section section;
    section.start = get_le(file + entry + 20, 4);
    const std::uint64_t raw_size = get_le(file + entry + 16, 4);
    if (section.start >= size) continue;
    section.size = std::min(raw_size, size - section.start);
    sections.push_back(section);
  }
  return sections;
}

// The launcher links the attached data as the symbol quorin_attached_data in
// .rdata (16-byte aligned) and its length L as the 64-bit quorin_attached_data_length
// right behind it, at the next 8-byte boundary (see generated_source.cpp).
// The exe is stripped, so the symbols are gone, but that pair is still there:
// a "QZY" at p and, at the first 8-byte boundary q at or after p + L, the
// number L. (The trailing length field, L - 8 at p + L - 8, can look like
// such a pair itself; the search then takes the pair right behind it.) The search takes each "QZY" in .rdata in turn and looks for
// such a q; the first pair that holds is the attached data. This does not
// rest on the frame being sound nor on the trailing fields (which the
// launcher never reads and a damaged file may have wrong), and a false pair
// needs a 64-bit number in .rdata that equals its own distance from a "QZY".
// Section offsets in the file and in memory agree modulo 8, so a boundary in
// memory is one in the file relative to the section's start.
bool find_in_section(const unsigned char* file, const Section& section, AttachedLocation& where) {
  const unsigned char* begin = file + section.start;
  const unsigned char* end = begin + section.size;
  for (const unsigned char* p = begin; end - p >= 3;) {
    const void* hit = std::memchr(p, 'Q', static_cast<std::size_t>(end - p - 2));
    if (hit == nullptr) break;
    p = static_cast<const unsigned char*>(hit);
    if (p[1] == 'Z' && p[2] == 'Y') {
      const std::uint64_t at = static_cast<std::uint64_t>(p - begin);
      // q runs over the 8-byte boundaries past the signature.
      for (std::uint64_t q = (at + 3 + 7) / 8 * 8; q + 8 <= section.size; q += 8) {
        std::uint64_t length = get_le(begin + q, 8);
        if (length >= payload::kSignatureSize && length <= q - at && q - at - length < 8) {
          // A sound trailing length (L - 8 at p + L - 8) has the same form
          // when it falls on a boundary; then the real pair, L at the next
          // boundary at or after p + L, follows it.
          const std::uint64_t next = (at + length + 8 + 7) / 8 * 8;
          if (next + 8 <= section.size && get_le(begin + next, 8) == length + 8) length += 8;
          where.offset = section.start + at;
          where.length = length;
          where.in_launcher = true;
          return true;
        }
      }
    }
    ++p;
  }
  return false;
}

}  // namespace

MappedFile::~MappedFile() {
  if (data != nullptr) munmap(const_cast<unsigned char*>(data), size);
}

Result map_whole_file(const std::filesystem::path& path, MappedFile& file) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail("'" + path.string() + "': " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return fail("'" + path.string() + "': " + std::strerror(err));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail("'" + path.string() + "': not a file");
  }
  file.size = static_cast<std::uint64_t>(st.st_size);
  if (file.size > 0) {
    void* p = ::mmap(nullptr, file.size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
      const int err = errno;
      ::close(fd);
      file.size = 0;
      return fail("'" + path.string() + "': " + std::strerror(err));
    }
    ::madvise(p, file.size, MADV_SEQUENTIAL);
    file.data = static_cast<const unsigned char*>(p);
  }
  ::close(fd);
  return ok();
}

Result locate_attached_data(const unsigned char* file, std::uint64_t size, AttachedLocation& where) {
  where = {};
  if (size >= payload::kSignatureSize && std::memcmp(file, payload::kSignature, payload::kSignatureSize) == 0) {
    where.length = size;
    return ok();
  }
  const std::vector<Section> sections = rdata_sections(file, size);
  if (sections.empty()) {
    if (size >= 2 && file[0] == 'M' && file[1] == 'Z') return fail("a PE file without an .rdata section");
    return fail("neither a launcher exe nor attached data (which starts with \"QZY\")");
  }
  for (const Section& section : sections) {
    if (find_in_section(file, section, where)) return ok();
  }
  return fail("a PE file, but no attached data with the signature \"QZY\" and its length was found in it");
}

Result read_frame_header(const unsigned char* data, std::uint64_t size, FrameHeader& header) {
  header = {};
  if (size < 5) return fail("the data ends before the frame header");
  const std::uint64_t magic = get_le(data, 4);
  if ((magic & 0xFFFFFFF0u) == 0x184D2A50u) return fail("a skippable frame, not a frame of compressed data");
  if (magic != 0xFD2FB528u) return fail("no Zstandard frame after the signature (its magic number is missing)");
  const unsigned descriptor = data[4];
  const unsigned content_size_code = descriptor >> 6;
  const bool single_segment = (descriptor >> 5) & 1;
  if ((descriptor >> 3) & 1) return fail("the frame header sets its reserved bit");
  header.checksum_flag = (descriptor >> 2) & 1;
  static constexpr unsigned kDictionaryBytes[] = {0, 1, 2, 4};
  static constexpr unsigned kContentSizeBytes[] = {0, 2, 4, 8};
  const unsigned dictionary_bytes = kDictionaryBytes[descriptor & 3];
  const unsigned content_size_bytes =
      content_size_code == 0 ? (single_segment ? 1 : 0) : kContentSizeBytes[content_size_code];
  const std::uint64_t header_size = 5 + (single_segment ? 0 : 1) + dictionary_bytes + content_size_bytes;
  if (size < header_size) return fail("the data ends inside the frame header");
  std::uint64_t at = 5;
  if (!single_segment) {
    const unsigned exponent = data[at] >> 3, mantissa = data[at] & 7;
    const std::uint64_t base = std::uint64_t{1} << (10 + exponent);
    header.window_size = base + base / 8 * mantissa;
    ++at;
  }
  header.dictionary_id = static_cast<std::uint32_t>(get_le(data + at, static_cast<int>(dictionary_bytes)));
  at += dictionary_bytes;
  header.content_size_flag = content_size_bytes > 0;
  if (header.content_size_flag) {
    header.content_size = get_le(data + at, static_cast<int>(content_size_bytes));
    if (content_size_bytes == 2) header.content_size += 256;
  }
  // A single-segment frame's window is its whole content.
  if (single_segment) header.window_size = header.content_size;
  for (unsigned log = 0; log < 64; ++log) {
    if (header.window_size == std::uint64_t{1} << log) header.window_log = log;
  }
  return ok();
}

namespace {

// The decoder as the launcher drives it: a 128 KiB window refilled only when
// it runs dry. Invariant: position <= fill <= kWindowSize.
struct Decoder {
  ZSTD_DCtx* context = nullptr;
  ZSTD_inBuffer in{};
  std::vector<unsigned char> window = std::vector<unsigned char>(payload::kWindowSize);
  std::size_t fill = 0;
  std::size_t position = 0;
  bool window_filled = false;
  bool frame_done = false;  // the decoder returned 0: the frame's content is all out
  std::string error;
  std::uint64_t handed_out = 0;
  const ProgressFn* progress = nullptr;
};

enum class Got { all, frame_ended, decode_failed };

// One decoder call into the empty window. Where the launcher would call the
// decoder once more after the frame's end and fail on the trailing fields as
// a second frame, this stops at the frame's end and says so.
Got refill(Decoder& d) {
  if (d.frame_done) return Got::frame_ended;
  if (d.in.pos >= d.in.size && !d.window_filled) {
    d.error = "the data ends inside the frame";
    return Got::decode_failed;
  }
  ZSTD_outBuffer out = {d.window.data(), d.window.size(), 0};
  const std::size_t before = d.in.pos;
  const std::size_t result = ZSTD_decompressStream(d.context, &out, &d.in);
  if (ZSTD_isError(result)) {
    d.error = ZSTD_getErrorName(result);
    return Got::decode_failed;
  }
  d.fill = out.pos;
  d.position = 0;
  d.window_filled = out.pos == d.window.size();
  if (result == 0) d.frame_done = true;
  // With input left and an empty window the decoder always moves; guard
  // against a loop all the same.
  if (out.pos == 0 && d.in.pos == before && result != 0 && !d.window_filled && d.in.pos < d.in.size) {
    d.error = "the decoder made no progress";
    return Got::decode_failed;
  }
  if (*d.progress) (*d.progress)(d.in.pos, d.in.size);
  return Got::all;
}

Got decoder_read(Decoder& d, unsigned char* destination, std::uint64_t count) {
  while (count > 0) {
    const std::size_t available = d.fill - d.position;
    if (available > 0) {
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(count, available));
      std::memcpy(destination, d.window.data() + d.position, take);
      d.position += take;
      destination += take;
      count -= take;
      d.handed_out += take;
      continue;
    }
    if (Got got = refill(d); got != Got::all) return got;
  }
  return Got::all;
}

std::string entry_label(std::size_t index, const EntryRecord& entry) {
  return "entry " + std::to_string(index + 1) + " ('" + printable_name(entry.name) + "')";
}

// Why the walk stopped while reading part of an entry.
void stop(WalkResult& result, const Decoder& d, Got got, const std::string& where) {
  if (got == Got::frame_ended) {
    result.end = WalkEnd::frame_ended;
    result.why = "the frame's content ends " + where + ", without the end marker";
  } else {
    result.end = WalkEnd::decode_failed;
    result.why = "the frame cannot be decoded " + where + " (compressed byte " +
                 std::to_string(payload::kSignatureSize + d.in.pos) + "): " + d.error;
  }
  result.archive_bytes = d.handed_out;
}

}  // namespace

WalkResult walk_archive(const unsigned char* attached, std::uint64_t length, const EntryHooks& hooks,
                        const ProgressFn& progress) {
  WalkResult result;
  std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
  if (!context || length < payload::kSignatureSize) {
    result.end = WalkEnd::decode_failed;
    result.why = !context ? "out of memory" : "the data is shorter than its signature";
    return result;
  }
  Decoder d;
  d.context = context.get();
  d.in = {attached + payload::kSignatureSize, static_cast<std::size_t>(length - payload::kSignatureSize), 0};
  d.progress = &progress;

  std::vector<unsigned char> chunk(payload::kChunkSize);
  for (;;) {
    const std::size_t index = result.entries.size();
    const std::string after = index == 0 ? "before the first entry" : "after entry " + std::to_string(index);
    EntryRecord entry;
    for (;;) {
      unsigned char unit_bytes[2];
      const Got got = decoder_read(d, unit_bytes, 2);
      if (got != Got::all) {
        stop(result, d, got, entry.name.empty() ? after : "inside the name of entry " + std::to_string(index + 1));
        return result;
      }
      const char16_t unit = static_cast<char16_t>(unit_bytes[0] | (unit_bytes[1] << 8));
      if (unit == 0) break;
      if (entry.name.size() >= kRunawayNameUnits) {
        result.end = WalkEnd::hook_failed;
        result.why = "the name of entry " + std::to_string(index + 1) + " runs past " +
                     std::to_string(kRunawayNameUnits) + " units without its terminating 0 unit";
        result.archive_bytes = d.handed_out;
        return result;
      }
      entry.name.push_back(unit);
    }
    if (entry.name.empty()) break;  // the end marker
    unsigned char fields[12];
    if (Got got = decoder_read(d, fields, sizeof fields); got != Got::all) {
      stop(result, d, got, "inside the size or checksum of " + entry_label(index, entry));
      return result;
    }
    entry.size = get_le(fields, 8);
    entry.stored_checksum = static_cast<std::uint32_t>(get_le(fields + 8, 4));
    if (hooks.begin) {
      if (Result r = hooks.begin(entry); !r) {
        result.end = WalkEnd::hook_failed;
        result.why = r.error;
        result.archive_bytes = d.handed_out;
        return result;
      }
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    for (std::uint64_t done = 0; done < entry.size;) {
      const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), entry.size - done));
      if (Got got = decoder_read(d, chunk.data(), piece); got != Got::all) {
        result.entries.push_back(entry);
        stop(result, d, got,
             "inside the data of " + entry_label(index, entry) + ", after " + std::to_string(done) + " of " +
                 std::to_string(entry.size) + " bytes");
        return result;
      }
      crc = crc32(crc, chunk.data(), static_cast<uInt>(piece));
      if (hooks.data) {
        if (Result r = hooks.data(entry, chunk.data(), piece); !r) {
          result.end = WalkEnd::hook_failed;
          result.why = r.error;
          result.archive_bytes = d.handed_out;
          return result;
        }
      }
      done += piece;
    }
    entry.data_checksum = payload::stored_checksum(static_cast<std::uint32_t>(crc));
    entry.complete = true;
    result.entries.push_back(entry);
    if (hooks.end) {
      if (Result r = hooks.end(result.entries.back()); !r) {
        result.end = WalkEnd::hook_failed;
        result.why = r.error;
        result.archive_bytes = d.handed_out;
        return result;
      }
    }
  }
  result.end = WalkEnd::end_marker;
  result.archive_bytes = d.handed_out;

  // The launcher stops reading here. The rest of the frame is decoded too, to
  // find content after the end marker, a failing content checksum, and where
  // the frame ends.
  for (;;) {
    result.content_after_end_marker += d.fill - d.position;
    d.position = d.fill;
    const Got got = refill(d);
    if (got == Got::frame_ended) break;
    if (got == Got::decode_failed) {
      result.frame_error = d.error;
      return result;
    }
  }
  result.frame_complete = true;
  result.frame_bytes = d.in.pos;
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
