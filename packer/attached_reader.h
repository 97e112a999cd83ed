// Reading attached data on the build machine the way the launcher reads it on
// the user's: finding it in a launcher exe or taking a whole attached-data
// file, the frame header, and the walk over the archive's entries through a
// decoder with the launcher's settings. Pure code over mapped bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "generated/baked_layout.h"
#include "packer/archive_writer.h"
#include "packer/platform.h"
#include "packer/result.h"
#include "payload/entry_name.h"

namespace quorin::packer {

// Where the attached data lies in a file.
struct AttachedLocation {
  std::uint64_t offset = 0;  // of its signature
  std::uint64_t length = 0;  // L, signature to trailing length inclusive
  bool in_launcher = false;  // found inside a launcher exe, not a whole attached-data file
  // The archive's index, in a launcher whose constants say where it lies (a
  // launcher of an earlier packer has none): its file offset and length.
  std::uint64_t index_offset = 0;
  std::uint64_t index_length = 0;  // 0: no index
  std::string index_problem;       // the index's place lies outside the file
};

// A file that starts with "QZY" is attached data from its first byte to its
// last. Otherwise it must be a launcher exe, whose baked constants give the
// data's RVA and length: they must lie in the file (however large its
// sections claim to be), so that a located [offset, offset + length) is
// always inside the file and at least the signature long. (Whether it
// starts with the signature is for the caller to judge.)
Result locate_attached_data(const unsigned char* file, std::uint64_t size, AttachedLocation& where);

// What a launcher carries besides its archive: the texts of its baked block
// and the subsystem in its headers.
struct LauncherIdentity {
  std::u16string spec, company, product, version;
  std::u16string build;  // the stamp {BUILD} stands for; empty before v3
  std::uint32_t keep_builds = generated::kKeepEveryBuild;  // before v3, every build stays
  std::uint32_t progress_window = 0;                       // before v3, never shown
  std::uint16_t subsystem = 0;
};

// Reads them from a launcher of this packer or an earlier one (either
// block); false for attached data or a file without a sound block.
bool read_launcher_identity(const unsigned char* file, std::uint64_t size, LauncherIdentity& identity);

// The header of a Zstandard frame (RFC 8878, 3.1.1.1), as zstd's own
// ZSTD_getFrameHeader reads it.
struct FrameHeader {
  std::uint64_t window_size = 0;
  unsigned window_log = 0;          // when window_size is a power of two, else 0
  bool content_size_flag = false;
  std::uint64_t content_size = 0;   // when the flag is set
  bool checksum_flag = false;
  std::uint32_t dictionary_id = 0;  // 0: none
};

// Reads the frame header at data (the byte after the signature). Fails on
// too few bytes, a skippable frame, a missing magic number, the reserved bit,
// and a window above 2^31 (which zstd does not read).
Result read_frame_header(const unsigned char* data, std::uint64_t size, FrameHeader& header);

// One payload entry as the walk met it.
struct EntryRecord {
  std::u16string name;
  payload::NameProblem name_problem = payload::NameProblem::kNone;  // the launcher stops at such a name
  std::uint64_t size = 0;
  std::uint32_t stored_checksum = 0;
  std::uint32_t data_checksum = 0;   // CRC-32 of the data, 0 stored as 1; set when complete
  bool complete = false;             // all its data was read
};

// What a command does with the entries: begin is called after an entry's
// header, data with each piece of its data (a slice of the reader's window,
// so up to 128 KiB, valid only during the call), end after its last byte. A
// hook's failure stops the walk.
struct EntryHooks {
  std::function<Result(const EntryRecord& entry)> begin;
  std::function<Result(const EntryRecord& entry, const unsigned char* data, std::size_t size)> data;
  std::function<Result(const EntryRecord& entry)> end;
};

enum class WalkEnd {
  end_marker,     // the archive ended as it should
  frame_ended,    // the frame's content ended first: no end marker
  decode_failed,  // the decoder refused the frame (the launcher's decode message)
  name_too_long,  // a name of 1024 units or more: the launcher's decode message
  hook_failed,    // a hook said stop
};

struct WalkResult {
  std::vector<EntryRecord> entries;
  WalkEnd end = WalkEnd::end_marker;
  std::string why;                          // for every end but end_marker
  std::uint64_t archive_bytes = 0;          // read up to where the walk ended
  // After the end marker, the rest of the frame is decoded as well:
  bool frame_complete = false;              // the decoder reached the frame's end
  std::uint64_t frame_bytes = 0;            // the frame's length, when complete
  std::uint64_t content_after_end_marker = 0;
  std::string frame_error;                  // the decoder's refusal after the end marker
};

// Walks the entries with the launcher's reader and entry walk (the decoder
// gets everything from byte 3 to the end, L - 3 bytes, with its default
// settings). Unlike the launcher, the walk goes on past an entry whose name
// breaks the rule (entry.name_problem says so), to report everything.
// progress gets the compressed bytes taken so far.
WalkResult walk_archive(const unsigned char* attached, std::uint64_t length, const EntryHooks& hooks,
                        const ProgressFn& progress);

// The name for a message: UTF-8, with control characters as \xNN.
std::string printable_name(const std::u16string& name);

// "entry N ('name')", N counted from 1.
std::string entry_label(std::size_t index, const EntryRecord& entry);

}  // namespace quorin::packer
