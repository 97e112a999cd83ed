// The problems of attached data, found with the launcher's reader and entry
// walk. Pure code over mapped bytes.
#include "packer/attached_problems.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "packer/little_endian.h"
#include "packer/name_clash.h"
#include "payload/format.h"
#include "payload/index.h"

namespace quorin::packer {

namespace {

constexpr std::uint64_t kMaxWindowSize = std::uint64_t{1} << payload::kMaxWindowLog;
constexpr std::uint64_t kTrailingFieldsSize = payload::kTrailingZeroBytes + payload::kTrailingLengthSize;

using Problems = std::vector<std::string>;

// Whether the launcher's decoder can take the frame at all.
bool frame_header_problems(const unsigned char* attached, std::uint64_t length, Problems& problems) {
  FrameHeader header;
  if (Result r = read_frame_header(attached + payload::kSignatureSize, length - payload::kSignatureSize, header); !r) {
    problems.push_back("frame: " + r.error);
    return false;
  }
  bool decodable = true;
  if (header.window_size > kMaxWindowSize) {
    problems.push_back("frame: its window is " + window_text(header) + ", the launcher's decoder takes at most " +
                       std::to_string(kMaxWindowSize) + " (2^" + std::to_string(payload::kMaxWindowLog) + ")");
    decodable = false;
  }
  if (header.dictionary_id != 0) {
    problems.push_back("frame: it needs dictionary " + std::to_string(header.dictionary_id) +
                       " and the launcher's decoder has none");
    decodable = false;
  }
  return decodable;
}

// The walk, keeping the first two bytes of the first entry: a Windows
// program starts with "MZ".
WalkResult walk_keeping_child_start(const unsigned char* attached, std::uint64_t length, const ProgressFn& progress,
                                    std::string& child_start) {
  std::size_t entries_begun = 0;
  EntryHooks hooks;
  hooks.begin = [&entries_begun](const EntryRecord&) {
    ++entries_begun;
    return ok();
  };
  hooks.data = [&](const EntryRecord&, const unsigned char* data, std::size_t size) {
    if (entries_begun == 1 && child_start.size() < 2) {
      child_start.append(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 2 - child_start.size()));
    }
    return ok();
  };
  return walk_archive(attached, length, hooks, progress);
}

// Each entry: the first a program, every name one the launcher may write and
// clashing with none before it, every checksum one a writer stores and the
// data's own.
void entry_problems(const WalkResult& walk, const std::string& child_start, Problems& problems) {
  if (!walk.entries.empty() && walk.entries[0].complete && child_start != "MZ") {
    problems.push_back("entry 1 ('" + printable_name(walk.entries[0].name) +
                       "'): the launcher starts the first entry, but it is not a Windows program (no \"MZ\" "
                       "at its start)");
  }
  std::vector<std::u16string> names;
  for (const EntryRecord& entry : walk.entries) names.push_back(entry.name);
  std::vector<std::string> clash_of(walk.entries.size());
  for (const NameClash& clash : find_name_clashes(names)) {
    clash_of[clash.index] = clash_text(clash.kind, entry_label(clash.other, walk.entries[clash.other]));
  }
  for (std::size_t i = 0; i < walk.entries.size(); ++i) {
    const EntryRecord& entry = walk.entries[i];
    const std::string label = entry_label(i, entry);
    if (entry.name_problem != payload::NameProblem::kNone) {
      problems.push_back(label + ": " + payload::name_problem_text(entry.name_problem));
    }
    if (!clash_of[i].empty()) problems.push_back(label + ": " + clash_of[i]);
    if (entry.stored_checksum == 0) {
      problems.push_back(label + ": its stored checksum is 0, which is never written (a CRC of 0 is stored as 1)");
    } else if (entry.complete && entry.stored_checksum != entry.data_checksum) {
      problems.push_back(label + ": " + checksum_mismatch_text(entry.stored_checksum, entry.data_checksum));
    }
  }
}

// How the archive and the frame end.
void archive_end_problems(const WalkResult& walk, std::uint64_t length, Problems& problems) {
  if (walk.end != WalkEnd::end_marker) {
    problems.push_back("archive: " + walk.why);
  } else {
    if (walk.entries.empty()) problems.push_back("archive: it holds no entries, so the launcher has no program to start");
    if (walk.content_after_end_marker > 0) {
      problems.push_back("archive: " + std::to_string(walk.content_after_end_marker) +
                         " bytes follow the end marker inside the frame");
    }
    if (!walk.frame_error.empty()) problems.push_back("frame: after the end marker the decoder fails: " + walk.frame_error);
  }
  if (walk.frame_complete) {
    const std::uint64_t after = length - payload::kSignatureSize - walk.frame_bytes;
    if (after != kTrailingFieldsSize) {
      problems.push_back("envelope: " + std::to_string(after) + " bytes follow the frame; the trailing fields are " +
                         std::to_string(kTrailingFieldsSize));
    }
  }
}

// The trailing fields, counted from the end: five 0 bytes, then L - 8.
void trailing_field_problems(const unsigned char* attached, std::uint64_t length, Problems& problems) {
  if (length < payload::kSignatureSize + kTrailingFieldsSize) {
    problems.push_back("envelope: " + std::to_string(length) + " bytes are too few for a signature, a frame and "
                       "the trailing fields");
    return;
  }
  const unsigned char* zeros = attached + length - kTrailingFieldsSize;
  if (std::any_of(zeros, zeros + payload::kTrailingZeroBytes, [](unsigned char byte) { return byte != 0; })) {
    problems.push_back("envelope: the five bytes before the trailing length are not all 0");
  }
  const std::uint64_t expected = length - payload::kTrailingLengthSize;
  const std::uint64_t stored = read_le(attached + expected, payload::kTrailingLengthSize);
  if (stored != expected) {
    problems.push_back("envelope: the trailing length is " + std::to_string(stored) + ", not " +
                       std::to_string(expected) + " (the attached data's length less 8)");
  }
}

// The index of what the walk read, when it can be one.
std::vector<IndexRecord> index_records(const WalkResult& walk) {
  std::vector<IndexRecord> records;
  if (walk.end != WalkEnd::end_marker) return records;
  for (const EntryRecord& entry : walk.entries) {
    if (!entry.complete || entry.name_problem != payload::NameProblem::kNone || entry.stored_checksum == 0) return {};
    records.push_back({entry.name, entry.size, entry.stored_checksum});
  }
  return records;
}

}  // namespace

// An index entry against the entry the walk read in its place.
std::string entry_text(const std::u16string& name, std::uint64_t size, std::uint32_t stored) {
  return "'" + printable_name(name) + "' of " + std::to_string(size) + " bytes, checksum " + checksum_hex(stored);
}

// What the launcher's index says against the frame: the launcher takes no
// index it refuses, and stops at the first entry that differs from it.
void index_problems(const IndexInFile& index, std::uint64_t length, const WalkResult& walk, Problems& problems) {
  if (!index.place_problem.empty()) {
    problems.push_back("index: " + index.place_problem);
    return;
  }
  if (index.length == 0) return;
  payload::IndexHeader header;
  const payload::IndexProblem problem = payload::index_check(index.data, index.length, header);
  if (problem != payload::IndexProblem::kNone) {
    problems.push_back(std::string("index: ") + payload::index_problem_text(problem) +
                       "; the launcher decodes as without an index");
    return;
  }
  if (header.attached_bytes != length) {
    problems.push_back("index: it is the index of " + std::to_string(header.attached_bytes) +
                       " bytes of attached data, not of these " + std::to_string(length));
    return;
  }
  std::uint64_t offset = payload::kIndexHeaderSize;
  payload::IndexEntry entry;
  for (std::uint64_t i = 0; i < header.entries && i < walk.entries.size(); ++i) {
    offset = payload::index_read_entry(index.data, offset, entry);
    const EntryRecord& read = walk.entries[i];
    const std::u16string name(entry.name, entry.name + entry.name_len);
    if (name != read.name || entry.size != read.size || entry.stored_checksum != read.stored_checksum) {
      problems.push_back("index: entry " + std::to_string(i + 1) + " is " +
                         entry_text(name, entry.size, entry.stored_checksum) + " in the index but " +
                         entry_text(read.name, read.size, read.stored_checksum) +
                         " in the frame; the launcher stops there");
      return;
    }
  }
  if (walk.end == WalkEnd::end_marker && header.entries != walk.entries.size()) {
    problems.push_back("index: it names " + std::to_string(header.entries) + " entries, the frame holds " +
                       std::to_string(walk.entries.size()) + "; the launcher stops at the end of the archive");
  }
}

std::vector<std::string> attached_data_problems(const unsigned char* attached, std::uint64_t length,
                                                const ProgressFn& progress, AttachedSummary* summary,
                                                const IndexInFile* index) {
  Problems problems;
  if (frame_header_problems(attached, length, problems)) {
    std::string child_start;
    const WalkResult walk = walk_keeping_child_start(attached, length, progress, child_start);
    if (summary != nullptr) {
      for (const EntryRecord& entry : walk.entries) summary->files += entry.complete ? 1 : 0;
      summary->archive_bytes = walk.archive_bytes;
      if (!walk.entries.empty()) summary->first_name = walk.entries[0].name;
      summary->records = index_records(walk);
    }
    entry_problems(walk, child_start, problems);
    archive_end_problems(walk, length, problems);
    if (index != nullptr) index_problems(*index, length, walk, problems);
  }
  trailing_field_problems(attached, length, problems);
  return problems;
}

std::string checksum_hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08" PRIx32, value);
  return text;
}

std::string checksum_mismatch_text(std::uint32_t stored, std::uint32_t data) {
  return "its stored checksum is " + checksum_hex(stored) + " but its data's is " + checksum_hex(data);
}

std::string window_text(const FrameHeader& header) {
  std::string text = std::to_string(header.window_size) + " bytes";
  if (header.window_log != 0) text += " (2^" + std::to_string(header.window_log) + ")";
  return text;
}

}  // namespace quorin::packer
