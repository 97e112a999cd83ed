// Fuzzing the target folder's record reader: the input is a record as a
// launcher finds it on disk, read as it is and again with its checksum made
// right, so that the fields behind the checksum are reached. Whatever the
// bytes, record_parse reads only within them; a record it accepts has its
// texts and its index inside the record, an index index_check accepts, and
// the digest that index carries. Pure test code.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "payload/checksum.h"
#include "payload/index.h"
#include "payload/record.h"

namespace {

using namespace quorin::payload;

void require(bool condition) {
  if (!condition) std::abort();
}

bool inside(const std::uint8_t* data, std::size_t size, const unsigned char* at, std::uint64_t length) {
  return at >= data && at <= data + size && length <= static_cast<std::uint64_t>(data + size - at);
}

void check_record(const std::uint8_t* data, std::size_t size) {
  RecordFields fields;
  if (!record_parse(data, size, fields)) {
    require(fields.index == nullptr && fields.company == nullptr && fields.product == nullptr);
    return;
  }
  require(fields.company_len <= kRecordTextMax && fields.product_len <= kRecordTextMax);
  require(inside(data, size, fields.company, 2 * static_cast<std::uint64_t>(fields.company_len)));
  require(inside(data, size, fields.product, 2 * static_cast<std::uint64_t>(fields.product_len)));
  require(inside(data, size, fields.index, fields.index_length));
  IndexHeader header;
  require(index_check(fields.index, fields.index_length, header) == IndexProblem::kNone);
  require(build_digest(fields.index, fields.index_length) == fields.digest);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check_record(data, size);
  if (size < 4) return 0;
  // A copy of exactly size bytes, so that a read past them is caught.
  std::vector<std::uint8_t> sealed(data, data + size);
  const std::uint32_t crc = crc32_update(0, sealed.data(), size - 4);
  for (std::size_t i = 0; i < 4; ++i) sealed[size - 4 + i] = (crc >> (8 * i)) & 0xFF;
  check_record(sealed.data(), sealed.size());
  return 0;
}
