// The target folder's record: writing and reading it. Pure code: every read is
// bounded by the record's length.
#include "payload/record.h"

#include "payload/checksum.h"
#include "payload/format.h"
#include "payload/index.h"

namespace quorin::payload {

namespace {

// Magic, version, digest and the two text lengths, index length, checksum.
constexpr std::uint64_t kFixedSize = 4 + 4 + 4 + 2 + 2 + 8 + 4;

void put_u16(unsigned char*& out, std::uint32_t value) {
  *out++ = static_cast<unsigned char>(value);
  *out++ = static_cast<unsigned char>(value >> 8);
}

void put_u32(unsigned char*& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) *out++ = static_cast<unsigned char>(value >> (8 * i));
}

void put_u64(unsigned char*& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) *out++ = static_cast<unsigned char>(value >> (8 * i));
}

void put_text(unsigned char*& out, const wchar_t* text, std::size_t len) {
  put_u16(out, static_cast<std::uint32_t>(len));
  for (std::size_t i = 0; i < len; ++i) put_u16(out, static_cast<std::uint32_t>(text[i]) & 0xFFFF);
}

// Reads a length-prefixed text at offset, bounded by end; false when it does not fit.
bool take_text(const unsigned char* data, std::uint64_t& offset, std::uint64_t end, const unsigned char*& text,
               std::size_t& len) {
  if (end - offset < 2) return false;
  len = static_cast<std::size_t>(data[offset] | data[offset + 1] << 8);
  offset += 2;
  if (len > kRecordTextMax || (end - offset) / 2 < len) return false;
  text = data + offset;
  offset += 2 * static_cast<std::uint64_t>(len);
  return true;
}

bool text_equals(const unsigned char* units, std::size_t len, const wchar_t* text, std::size_t text_len) {
  if (len != text_len) return false;
  for (std::size_t i = 0; i < len; ++i) {
    if (static_cast<std::uint32_t>(units[2 * i] | units[2 * i + 1] << 8) !=
        (static_cast<std::uint32_t>(text[i]) & 0xFFFF)) {
      return false;
    }
  }
  return true;
}

bool is_ascii_letter(std::uint32_t unit) { return (unit | 0x20) >= 'a' && (unit | 0x20) <= 'z'; }

// The pending entries of earlier added up: their count, data and archive
// bytes, and the bytes they take in an index; false when a total would pass 2^64.
struct Pending {
  std::uint64_t entries = 0;
  std::uint64_t data_bytes = 0;
  std::uint64_t archive_bytes = 0;
  std::uint64_t index_bytes = 0;
};

// Walks the pending entries of earlier: adds them up in out and, when at is
// not null, copies each one's bytes there; false when a total would pass 2^64.
bool take_pending(const unsigned char* earlier, std::uint64_t earlier_length, const unsigned char* pending,
                  Pending& out, unsigned char* at) {
  IndexHeader header;
  index_check(earlier, earlier_length, header);
  IndexEntry entry;
  std::uint64_t offset = kIndexHeaderSize;
  for (std::uint64_t i = 0; i < header.entries; ++i) {
    const std::uint64_t next = index_read_entry(earlier, offset, entry);
    if (pending[i] != 0) {
      const std::uint64_t bytes = archive_entry_bytes(entry.name_len, entry.size);
      if (entry.size > UINT64_MAX - out.data_bytes || bytes > UINT64_MAX - out.archive_bytes) return false;
      ++out.entries;
      out.data_bytes += entry.size;
      out.archive_bytes += bytes;
      out.index_bytes += next - offset;
      for (std::uint64_t b = offset; at != nullptr && b < next; ++b) *at++ = earlier[b];
    }
    offset = next;
  }
  return true;
}

}  // namespace

bool names_may_be_one_file(const wchar_t* a, std::size_t a_len, const wchar_t* b, std::size_t b_len) {
  if (a_len != b_len) return false;
  for (std::size_t i = 0; i < a_len; ++i) {
    const std::uint32_t x = static_cast<std::uint32_t>(a[i]) & 0xFFFF, y = static_cast<std::uint32_t>(b[i]) & 0xFFFF;
    if (x == y) continue;
    if (is_ascii_letter(x) && is_ascii_letter(y) && (x | 0x20) == (y | 0x20)) continue;
    if ((x >= 0x80 && (y >= 0x80 || is_ascii_letter(y))) || (y >= 0x80 && is_ascii_letter(x))) continue;
    return false;
  }
  return true;
}

bool index_may_hold(const unsigned char* index, std::uint64_t index_length, const wchar_t* name, std::size_t name_len) {
  // Called once for every name of another index: the checked index is not
  // checked again, its count is read from its header.
  if (index_length < kIndexHeaderSize + kIndexChecksumSize) return false;
  const std::uint64_t entries = decode_u64_le(index + 8);
  IndexEntry entry;
  std::uint64_t offset = kIndexHeaderSize;
  for (std::uint64_t i = 0; i < entries; ++i) {
    offset = index_read_entry(index, offset, entry);
    if (names_may_be_one_file(entry.name, entry.name_len, name, name_len)) return true;
  }
  return false;
}

std::uint64_t index_union_size(const unsigned char* index, std::uint64_t index_length, const unsigned char* earlier,
                               std::uint64_t earlier_length, const unsigned char* pending) {
  IndexHeader header;
  index_check(index, index_length, header);
  Pending more;
  if (!take_pending(earlier, earlier_length, pending, more, nullptr)) return 0;
  if (more.data_bytes > UINT64_MAX - header.data_bytes || more.archive_bytes > UINT64_MAX - header.archive_bytes ||
      more.index_bytes > kRecordSizeMax || index_length > kRecordSizeMax - more.index_bytes) {
    return 0;
  }
  return index_length + more.index_bytes;
}

void index_union_write(unsigned char* out, const unsigned char* index, std::uint64_t index_length,
                       const unsigned char* earlier, std::uint64_t earlier_length, const unsigned char* pending) {
  const std::uint64_t size = index_union_size(index, index_length, earlier, earlier_length, pending);
  if (size == 0) return;
  IndexHeader header;
  index_check(index, index_length, header);
  Pending more;
  take_pending(earlier, earlier_length, pending, more, nullptr);
  unsigned char* at = out;
  for (unsigned char unit : kIndexMagic) *at++ = unit;
  put_u32(at, kIndexVersion);
  put_u64(at, header.entries + more.entries);
  put_u64(at, header.data_bytes + more.data_bytes);
  put_u64(at, header.archive_bytes + more.archive_bytes);
  put_u64(at, header.attached_bytes);
  const std::uint64_t own_entries = index_length - kIndexHeaderSize - kIndexChecksumSize;
  for (std::uint64_t i = 0; i < own_entries; ++i) *at++ = index[kIndexHeaderSize + i];
  Pending copied;
  take_pending(earlier, earlier_length, pending, copied, at);
  at += copied.index_bytes;
  put_u32(at, crc32_update(0, out, size - kIndexChecksumSize));
}

std::uint32_t build_digest(const unsigned char* index, std::uint64_t index_length) {
  return index_length < kIndexChecksumSize ? 0 : decode_u32_le(index + index_length - kIndexChecksumSize);
}

std::uint64_t record_size(std::size_t company_len, std::size_t product_len, std::uint64_t index_length) {
  if (company_len > kRecordTextMax || product_len > kRecordTextMax) return 0;
  const std::uint64_t texts = 2 * static_cast<std::uint64_t>(company_len + product_len);
  if (index_length > kRecordSizeMax - kFixedSize - texts) return 0;
  return kFixedSize + texts + index_length;
}

void record_write(unsigned char* out, const wchar_t* company, std::size_t company_len, const wchar_t* product,
                  std::size_t product_len, const unsigned char* index, std::uint64_t index_length) {
  const std::uint64_t size = record_size(company_len, product_len, index_length);
  if (size == 0) return;
  unsigned char* at = out;
  for (unsigned char unit : kRecordMagic) *at++ = unit;
  put_u32(at, kRecordVersion);
  put_u32(at, build_digest(index, index_length));
  put_text(at, company, company_len);
  put_text(at, product, product_len);
  put_u64(at, index_length);
  for (std::uint64_t i = 0; i < index_length; ++i) *at++ = index[i];
  put_u32(at, crc32_update(0, out, size - 4));
}

bool record_parse(const unsigned char* data, std::uint64_t length, RecordFields& fields) {
  fields = {};
  if (length < kFixedSize || length > kRecordSizeMax) return false;
  for (std::size_t i = 0; i < sizeof kRecordMagic; ++i) {
    if (data[i] != kRecordMagic[i]) return false;
  }
  if (decode_u32_le(data + 4) != kRecordVersion) return false;
  const std::uint64_t end = length - 4;
  if (crc32_update(0, data, end) != decode_u32_le(data + end)) return false;
  RecordFields read;
  read.digest = decode_u32_le(data + 8);
  std::uint64_t offset = 12;
  if (!take_text(data, offset, end, read.company, read.company_len)) return false;
  if (!take_text(data, offset, end, read.product, read.product_len)) return false;
  if (end - offset < 8) return false;
  read.index_length = decode_u64_le(data + offset);
  offset += 8;
  if (read.index_length != end - offset) return false;
  read.index = data + offset;
  IndexHeader header;
  if (index_check(read.index, read.index_length, header) != IndexProblem::kNone) return false;
  if (build_digest(read.index, read.index_length) != read.digest) return false;
  fields = read;
  return true;
}

bool record_names_product(const RecordFields& fields, const wchar_t* company, std::size_t company_len,
                          const wchar_t* product, std::size_t product_len) {
  return text_equals(fields.company, fields.company_len, company, company_len) &&
         text_equals(fields.product, fields.product_len, product, product_len);
}

}  // namespace quorin::payload
