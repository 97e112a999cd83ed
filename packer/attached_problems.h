// What is wrong with attached data: every way it departs from what a sound
// writer produces or from what the launcher can unpack, one line each. verify
// prints them; build warns with them for --attached. Pure code over mapped
// bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/archive_writer.h"
#include "packer/attached_reader.h"
#include "packer/index_writer.h"

namespace quorin::packer {

// What the walk of attached data found besides the problems.
struct AttachedSummary {
  std::uint64_t files = 0;
  std::uint64_t archive_bytes = 0;
  std::u16string first_name;
  // The archive's index, when the walk read every entry to the end marker
  // and each has a name the launcher may write and a stored checksum; else empty.
  std::vector<IndexRecord> records;
};

// A launcher's index of its archive, as located in the file.
struct IndexInFile {
  const unsigned char* data = nullptr;
  std::uint64_t length = 0;   // 0: the launcher has none
  std::string place_problem;  // its place lies outside the file
};

// The problems of the attached data at attached (length L, at least the
// signature's 3 bytes) and, when given, of the launcher's index of it: an
// index the launcher would not take, or one that differs from the frame;
// summary, when given, gets the walk's totals.
std::vector<std::string> attached_data_problems(const unsigned char* attached, std::uint64_t length,
                                                const ProgressFn& progress, AttachedSummary* summary,
                                                const IndexInFile* index = nullptr);

// A checksum as eight hex digits, as list shows it.
std::string checksum_hex(std::uint32_t value);

// "its stored checksum is S but its data's is D".
std::string checksum_mismatch_text(std::uint32_t stored, std::uint32_t data);

// "N bytes (2^K)": a frame's window.
std::string window_text(const FrameHeader& header);

}  // namespace quorin::packer
