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

}  // namespace

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
