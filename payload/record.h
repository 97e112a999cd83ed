// The target folder's record: which build owns the folder and what it placed
// there. A launcher writes it after placing its files, under a name no entry
// can have, and reads it back before it removes anything: only the names a
// sound record of its own product gives are ever deleted. Pure code.
//
//   offset  size  field
//   0       4     "QZRC"
//   4       4     version, u32 LE: kRecordVersion
//   8       4     build digest: the index's own CRC-32 (its last four bytes), u32 LE
//   12      2     company length c (units, 0..1023), u16 LE
//   14      2c    the company, UTF-16LE
//   ...     2     product length p (units, 0..1023), u16 LE
//   ...     2p    the product, UTF-16LE
//   ...     8     index length n, u64 LE
//   ...     n     the archive's index as the launcher carries it (payload/index.h):
//                 every name placed, with its size and checksum
//   R - 4   4     CRC-32 of the R - 4 bytes in front of it, u32 LE
//
// A record that fails any check (checksum, bounds, an index index_check
// refuses, a digest that is not the index's) counts as no record at all.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorin::payload {

inline constexpr unsigned char kRecordMagic[4] = {'Q', 'Z', 'R', 'C'};
inline constexpr std::uint32_t kRecordVersion = 1;
// Company and product hold at most this many units, the baked texts' room
// less their terminator.
inline constexpr std::size_t kRecordTextMax = 1023;
// No record is larger: a launcher's index fits far below it.
inline constexpr std::uint64_t kRecordSizeMax = 256ull * 1024 * 1024;

// What a record says. The texts point into the record's bytes (UTF-16LE,
// not terminated); index points at the index inside it.
struct RecordFields {
  std::uint32_t digest = 0;
  const unsigned char* company = nullptr;
  std::size_t company_len = 0;
  const unsigned char* product = nullptr;
  std::size_t product_len = 0;
  const unsigned char* index = nullptr;
  std::uint64_t index_length = 0;
};

// The digest of a build: the CRC-32 its index carries in its last four bytes
// (0 for an index too short to carry one).
std::uint32_t build_digest(const unsigned char* index, std::uint64_t index_length);

// The record's size for texts of these lengths and an index of index_length
// bytes; 0 when the texts are too long or the record would pass kRecordSizeMax.
std::uint64_t record_size(std::size_t company_len, std::size_t product_len, std::uint64_t index_length);

// Writes the record of company, product and index into out, which holds
// record_size(...) bytes (a size of 0 writes nothing).
void record_write(unsigned char* out, const wchar_t* company, std::size_t company_len, const wchar_t* product,
                  std::size_t product_len, const unsigned char* index, std::uint64_t index_length);

// Reads the record at data (length bytes); false, with fields empty, when it
// is damaged in any way.
bool record_parse(const unsigned char* data, std::uint64_t length, RecordFields& fields);

// True when the record's company and product are exactly these (every unit).
bool record_names_product(const RecordFields& fields, const wchar_t* company, std::size_t company_len,
                          const wchar_t* product, std::size_t product_len);

// True when names a and b may name one file on Windows, which folds letter
// case as its file system's table says, one unit for one: the same length,
// and at every unit the same unit, the same ASCII letter in either case, or
// two units of which one is past ASCII and the other is past ASCII or a
// letter (a fold this code does not know is taken to be one). A name kept by
// mistake only stays on disk; one taken for another file would delete a file
// of this build.
bool names_may_be_one_file(const wchar_t* a, std::size_t a_len, const wchar_t* b, std::size_t b_len);

// True when an entry of index (one index_check accepted) may name the file name.
bool index_may_hold(const unsigned char* index, std::uint64_t index_length, const wchar_t* name, std::size_t name_len);

// The index of a build with files an earlier build left pending: every entry
// of index, then the entries i of earlier (both accepted by index_check) whose
// pending[i] is not 0; its totals are recounted, its attached bytes are
// index's. A record of it names this build's files and the ones still to
// remove, and its digest is no build's, so a later start tries again.
// 0 when the totals would pass 2^64 or the result kRecordSizeMax.
std::uint64_t index_union_size(const unsigned char* index, std::uint64_t index_length, const unsigned char* earlier,
                               std::uint64_t earlier_length, const unsigned char* pending);

// Writes that index into out, which holds index_union_size(...) bytes.
void index_union_write(unsigned char* out, const unsigned char* index, std::uint64_t index_length,
                       const unsigned char* earlier, std::uint64_t earlier_length, const unsigned char* pending);

}  // namespace quorin::payload
