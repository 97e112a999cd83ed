// list, verify and extract: a launcher exe or an attached-data file read on
// the build machine through the same decoder settings as the launcher's.
// Reads the file; extract writes into its output folder and nowhere else.
#include "packer/inspect.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>

#include "packer/attached_reader.h"
#include "packer/command_parts.h"
#include "packer/commands.h"
#include "packer/input_tree.h"
#include "packer/little_endian.h"
#include "packer/name_clash.h"
#include "packer/platform.h"
#include "packer/utf16.h"
#include "payload/checksum.h"
#include "payload/format.h"

namespace quorin::packer {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMaxWindowSize = std::uint64_t{1} << payload::kMaxWindowLog;

std::string hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08" PRIx32, value);
  return text;
}

// The attached data of the file named on the command line, mapped.
struct Opened {
  std::string label;  // the file's name for messages
  MappedFile file;
  AttachedLocation where;
  const unsigned char* attached = nullptr;
};

Result open_attached(const ParsedArgs& parsed, Opened& opened) {
  const fs::path path = path_from_text(parsed.positional.at(0));
  opened.label = path_text(path);
  if (Result r = map_whole_file(path, opened.file); !r) return r;
  if (Result r = locate_attached_data(opened.file.data, opened.file.size, opened.where); !r) {
    return fail("'" + opened.label + "': " + r.error);
  }
  opened.attached = opened.file.data + opened.where.offset;
  return ok();
}

// ---- JSON output: just what list writes. ----

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

const char* json_bool(bool value) { return value ? "true" : "false"; }

// ---- list ----

struct Totals {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
};

Totals totals_of(const WalkResult& walk) {
  Totals totals;
  for (const EntryRecord& entry : walk.entries) {
    if (!entry.complete) continue;
    ++totals.files;
    totals.bytes += entry.size;
  }
  return totals;
}

// The frame's length: where the decoder ended it, else (a damaged frame)
// everything in front of the trailing fields.
std::uint64_t frame_bytes_of(const WalkResult& walk, std::uint64_t length) {
  if (walk.frame_complete) return walk.frame_bytes;
  return length >= 16 ? length - 16 : 0;
}

std::string window_text(const FrameHeader& header) {
  std::string text = std::to_string(header.window_size) + " bytes";
  if (header.window_log != 0) text += " (2^" + std::to_string(header.window_log) + ")";
  return text;
}

void print_list_text(const Opened& opened, const FrameHeader& header, bool header_ok, const WalkResult& walk) {
  std::printf("%14s  %-8s  %s\n", "SIZE", "CHECKSUM", "NAME");
  for (const EntryRecord& entry : walk.entries) {
    if (!entry.complete) continue;
    std::printf("%14" PRIu64 "  %s  %s\n", entry.size, hex32(entry.stored_checksum).c_str(),
                printable_name(entry.name).c_str());
  }
  const Totals totals = totals_of(walk);
  const std::uint64_t frame = frame_bytes_of(walk, opened.where.length);
  std::printf("\nfiles: %" PRIu64 "\nbytes: %" PRIu64 "\narchive bytes: %" PRIu64 "\n", totals.files, totals.bytes,
              walk.archive_bytes);
  std::printf("compressed bytes: %" PRIu64 "\n", frame);
  if (frame > 0) {
    std::printf("ratio: %.2f (archive bytes / compressed bytes)\n",
                static_cast<double>(walk.archive_bytes) / static_cast<double>(frame));
  }
  std::printf("attached data: %" PRIu64 " bytes at byte %" PRIu64 " of the %s\n", opened.where.length,
              opened.where.offset, opened.where.in_launcher ? "launcher" : "file");
  if (header_ok) {
    std::printf("window: %s\n", window_text(header).c_str());
    std::printf("content size flag: %s\n", header.content_size_flag ? "yes" : "no");
    std::printf("checksum flag: %s\n", header.checksum_flag ? "yes" : "no");
    std::printf("dictionary id: %" PRIu32 "\n", header.dictionary_id);
  }
}

void print_list_json(const Opened& opened, const FrameHeader& header, bool header_ok, const WalkResult& walk,
                     const std::string& error) {
  std::string out = "{\n  \"file\": " + json_string(opened.label) + ",\n";
  out += "  \"kind\": " + json_string(opened.where.in_launcher ? "launcher" : "attached data") + ",\n";
  out += "  \"attached_offset\": " + std::to_string(opened.where.offset) + ",\n";
  out += "  \"attached_bytes\": " + std::to_string(opened.where.length) + ",\n";
  out += "  \"entries\": [";
  bool first = true;
  for (const EntryRecord& entry : walk.entries) {
    if (!entry.complete) continue;
    out += first ? "\n" : ",\n";
    first = false;
    out += "    {\"name\": " + json_string(utf16_to_utf8(entry.name)) + ", \"size\": " + std::to_string(entry.size) +
           ", \"checksum\": " + json_string(hex32(entry.stored_checksum)) + "}";
  }
  out += first ? "],\n" : "\n  ],\n";
  const Totals totals = totals_of(walk);
  const std::uint64_t frame = frame_bytes_of(walk, opened.where.length);
  char ratio[32];
  std::snprintf(ratio, sizeof ratio, "%.4f",
                frame > 0 ? static_cast<double>(walk.archive_bytes) / static_cast<double>(frame) : 0.0);
  out += "  \"totals\": {\"files\": " + std::to_string(totals.files) + ", \"bytes\": " + std::to_string(totals.bytes) +
         ", \"archive_bytes\": " + std::to_string(walk.archive_bytes) +
         ", \"compressed_bytes\": " + std::to_string(frame) + ", \"ratio\": " + ratio + "},\n";
  if (header_ok) {
    out += "  \"frame\": {\"window_size\": " + std::to_string(header.window_size) +
           ", \"window_log\": " + std::to_string(header.window_log) +
           ", \"content_size_flag\": " + json_bool(header.content_size_flag) +
           ", \"checksum_flag\": " + json_bool(header.checksum_flag) +
           ", \"dictionary_id\": " + std::to_string(header.dictionary_id) + "},\n";
  } else {
    out += "  \"frame\": null,\n";
  }
  out += "  \"error\": " + (error.empty() ? std::string("null") : json_string(error)) + "\n}\n";
  std::fputs(out.c_str(), stdout);
}

// ---- verify ----

// Every way the attached data departs from what a sound writer produces or
// from what the launcher can unpack, one line each.
}  // namespace

std::vector<std::string> attached_data_problems(const unsigned char* attached, std::uint64_t length,
                                                const ProgressFn& progress, AttachedSummary* summary) {
  std::vector<std::string> problems;

  FrameHeader header;
  bool decodable = true;
  if (Result r = read_frame_header(attached + payload::kSignatureSize, length - payload::kSignatureSize, header); !r) {
    problems.push_back("frame: " + r.error);
    decodable = false;
  } else {
    if (header.window_size > kMaxWindowSize) {
      problems.push_back("frame: its window is " + window_text(header) +
                         ", the launcher's decoder takes at most 134217728 (2^27)");
      decodable = false;
    }
    if (header.dictionary_id != 0) {
      problems.push_back("frame: it needs dictionary " + std::to_string(header.dictionary_id) +
                         " and the launcher's decoder has none");
      decodable = false;
    }
  }

  if (decodable) {
    // The first two bytes of the first entry: a Windows program starts with "MZ".
    std::string child_start;
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
    const WalkResult walk = walk_archive(attached, length, hooks, progress);
    if (summary != nullptr) {
      for (const EntryRecord& entry : walk.entries) summary->files += entry.complete ? 1 : 0;
      summary->archive_bytes = walk.archive_bytes;
      if (!walk.entries.empty()) summary->first_name = walk.entries[0].name;
    }
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
        problems.push_back(label + ": its stored checksum is " + hex32(entry.stored_checksum) +
                           " but its data's is " + hex32(entry.data_checksum));
      }
    }
    if (walk.end != WalkEnd::end_marker) {
      problems.push_back("archive: " + walk.why);
    } else {
      if (walk.entries.empty()) {
        problems.push_back("archive: it holds no entries, so the launcher has no program to start");
      }
      if (walk.content_after_end_marker > 0) {
        problems.push_back("archive: " + std::to_string(walk.content_after_end_marker) +
                           " bytes follow the end marker inside the frame");
      }
      if (!walk.frame_error.empty()) {
        problems.push_back("frame: after the end marker the decoder fails: " + walk.frame_error);
      }
    }
    if (walk.frame_complete) {
      const std::uint64_t after = length - payload::kSignatureSize - walk.frame_bytes;
      const std::uint64_t trailing = payload::kTrailingZeroBytes + payload::kTrailingLengthSize;
      if (after != trailing) {
        problems.push_back("envelope: " + std::to_string(after) + " bytes follow the frame; the trailing fields are " +
                           std::to_string(trailing));
      }
    }
  }

  // The trailing fields, counted from the end: five 0 bytes, then L - 8.
  if (length < payload::kSignatureSize + payload::kTrailingZeroBytes + payload::kTrailingLengthSize) {
    problems.push_back("envelope: " + std::to_string(length) + " bytes are too few for a signature, a frame and "
                       "the trailing fields");
  } else {
    const unsigned char* zeros = attached + length - payload::kTrailingLengthSize - payload::kTrailingZeroBytes;
    for (std::size_t i = 0; i < payload::kTrailingZeroBytes; ++i) {
      if (zeros[i] != 0) {
        problems.push_back("envelope: the five bytes before the trailing length are not all 0");
        break;
      }
    }
    const std::uint64_t stored = read_le(attached + length - payload::kTrailingLengthSize, 8);
    if (stored != length - payload::kTrailingLengthSize) {
      problems.push_back("envelope: the trailing length is " + std::to_string(stored) + ", not " +
                         std::to_string(length - payload::kTrailingLengthSize) +
                         " (the attached data's length less 8)");
    }
  }
  return problems;
}

namespace {

// ---- extract ----

struct Extraction {
  fs::path root;
  std::FILE* file = nullptr;    // the file being written
  fs::path current;
  bool skip = false;            // the entry's data goes nowhere
  std::uint64_t written = 0;
  std::uint64_t unchanged = 0;
  std::vector<std::string> problems;
};

// CRC-32 of a file on disk, 0 stored as 1; 0 when it cannot be read or has
// another size.
std::uint32_t existing_checksum(const fs::path& path, std::uint64_t expected_size) {
  MappedFile mapped;
  if (!map_whole_file(path, mapped) || mapped.size != expected_size) return 0;
  return payload::checksum_of(mapped.data, mapped.size);
}

std::string error_text(const std::error_code& ec) { return ec.message(); }

// What lies at path, without following a symbolic link.
fs::file_type type_at(const fs::path& path, std::error_code& ec) {
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec == std::errc::no_such_file_or_directory) ec.clear();
  return status.type();
}

// Makes the folders of a checked name below root. Each one is made here or
// must already be a real folder: a symbolic link on the way could lead out of
// root, so it stops the extraction.
Result make_parents(const fs::path& root, const std::vector<std::string>& parts, fs::path& path) {
  path = root;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    path /= path_from_text(parts[i]);
    std::error_code ec;
    fs::file_type type = type_at(path, ec);
    if (ec) return fail("'" + path_text(path) + "': " + error_text(ec));
    if (type == fs::file_type::not_found) {
      fs::create_directory(path, ec);
      if (ec) return fail("'" + path_text(path) + "': " + error_text(ec));
      type = type_at(path, ec);
    }
    if (type == fs::file_type::symlink) {
      return fail("'" + path_text(path) + "': a symbolic link; extract writes only inside DIR");
    }
    if (type != fs::file_type::directory) return fail("'" + path_text(path) + "': not a folder");
  }
  path /= path_from_text(parts.back());
  return ok();
}

Result begin_entry(Extraction& x, std::size_t index, const EntryRecord& entry) {
  x.skip = true;
  const std::string label = entry_label(index, entry);
  if (entry.name_problem != payload::NameProblem::kNone) {
    x.problems.push_back(label + ": not extracted: " + payload::name_problem_text(entry.name_problem));
    return ok();
  }
  // The name's components, as UTF-8 names: it has no slash, no empty, "." or
  // ".." component (the name rule), so each stays one name below root.
  std::vector<std::string> parts;
  std::u16string part;
  for (std::size_t i = 0; i <= entry.name.size(); ++i) {
    if (i == entry.name.size() || entry.name[i] == u'\\') {
      parts.push_back(utf16_to_utf8(part));
      part.clear();
    } else {
      part.push_back(entry.name[i]);
    }
  }
  if (Result r = make_parents(x.root, parts, x.current); !r) return fail(label + ": " + r.error);
  std::error_code ec;
  const fs::file_type type = type_at(x.current, ec);
  if (type == fs::file_type::symlink) {
    return fail(label + ": '" + path_text(x.current) + "': a symbolic link; extract writes only inside DIR");
  }
  if (type == fs::file_type::directory) return fail(label + ": '" + path_text(x.current) + "': a folder");
  // The launcher's skip: a file already there with the entry's checksum
  // (and, here, its size) is left alone.
  if (type == fs::file_type::regular && existing_checksum(x.current, entry.size) == entry.stored_checksum) {
    ++x.unchanged;
    return ok();
  }
  x.file = open_file(x.current, "wb");
  if (x.file == nullptr) return fail(label + ": '" + path_text(x.current) + "': " + std::strerror(errno));
  x.skip = false;
  return ok();
}

Result write_piece(Extraction& x, const unsigned char* data, std::size_t size) {
  if (x.skip) return ok();
  if (std::fwrite(data, 1, size, x.file) != size) {
    return fail("'" + path_text(x.current) + "': " + std::strerror(errno));
  }
  return ok();
}

Result end_entry(Extraction& x, std::size_t index, const EntryRecord& entry) {
  if (entry.stored_checksum != entry.data_checksum) {
    x.problems.push_back(entry_label(index, entry) + ": its stored checksum is " + hex32(entry.stored_checksum) +
                         " but its data's is " + hex32(entry.data_checksum));
  }
  if (x.skip) return ok();
  std::FILE* file = x.file;
  x.file = nullptr;
  if (std::fclose(file) != 0) return fail("'" + path_text(x.current) + "': " + std::strerror(errno));
  ++x.written;
  return ok();
}

}  // namespace

int run_list(const ParsedArgs& parsed) {
  Opened opened;
  if (Result r = open_attached(parsed, opened); !r) return report(r.error);
  const bool json = parsed.values.count("--json") != 0;
  FrameHeader header;
  const Result header_read = read_frame_header(opened.attached + payload::kSignatureSize,
                                               opened.where.length - payload::kSignatureSize, header);
  WalkResult walk;
  std::string error;
  if (!header_read) {
    error = "frame: " + header_read.error;
  } else {
    walk = walk_archive(opened.attached, opened.where.length, {}, progress_display(parsed, "reading"));
    if (walk.end != WalkEnd::end_marker) error = "archive: " + walk.why;
  }
  if (json) {
    print_list_json(opened, header, static_cast<bool>(header_read), walk, error);
  } else {
    print_list_text(opened, header, static_cast<bool>(header_read), walk);
  }
  if (!error.empty()) return report("'" + opened.label + "': " + error);
  return 0;
}

int run_verify(const ParsedArgs& parsed) {
  Opened opened;
  if (Result r = open_attached(parsed, opened); !r) return report(r.error);
  const std::vector<std::string> problems =
      attached_data_problems(opened.attached, opened.where.length, progress_display(parsed, "verifying"), nullptr);
  if (parsed.values.count("--json") != 0) {
    std::string out = "{\n  \"file\": " + json_string(opened.label) + ",\n  \"ok\": " + json_bool(problems.empty()) +
                      ",\n  \"problems\": [";
    for (std::size_t i = 0; i < problems.size(); ++i) out += std::string(i ? "," : "") + "\n    " + json_string(problems[i]);
    out += problems.empty() ? "]\n}\n" : "\n  ]\n}\n";
    std::fputs(out.c_str(), stdout);
    return problems.empty() ? 0 : kExitFailure;
  }
  for (const std::string& problem : problems) std::printf("%s: %s\n", opened.label.c_str(), problem.c_str());
  if (!problems.empty()) {
    std::printf("%s: %zu problem%s\n", opened.label.c_str(), problems.size(), problems.size() == 1 ? "" : "s");
    return kExitFailure;
  }
  std::printf("%s: ok\n", opened.label.c_str());
  return 0;
}

int run_extract(const ParsedArgs& parsed) {
  Opened opened;
  if (Result r = open_attached(parsed, opened); !r) return report(r.error);
  Extraction x;
  x.root = path_from_text(parsed.values.at("--output"));
  std::error_code ec;
  fs::create_directories(x.root, ec);
  if (ec || !fs::is_directory(x.root, ec)) {
    return report("--output '" + path_text(x.root) + "': " + (ec ? ec.message() : std::string("not a folder")));
  }
  std::size_t index = 0;
  EntryHooks hooks;
  hooks.begin = [&](const EntryRecord& entry) { return begin_entry(x, index, entry); };
  hooks.data = [&](const EntryRecord&, const unsigned char* data, std::size_t size) {
    return write_piece(x, data, size);
  };
  hooks.end = [&](const EntryRecord& entry) {
    const Result r = end_entry(x, index, entry);
    ++index;
    return r;
  };
  const WalkResult walk =
      walk_archive(opened.attached, opened.where.length, hooks, progress_display(parsed, "extracting"));
  if (x.file != nullptr) std::fclose(x.file);
  for (const std::string& problem : x.problems) report("'" + opened.label + "': " + problem);
  if (walk.end != WalkEnd::end_marker) {
    const std::string where = walk.end == WalkEnd::hook_failed ? "" : "archive: ";
    return report("'" + opened.label + "': " + where + walk.why);
  }
  std::printf("%s: %" PRIu64 " written, %" PRIu64 " unchanged, into %s\n", opened.label.c_str(), x.written,
              x.unchanged, path_text(x.root).c_str());
  return x.problems.empty() ? 0 : kExitFailure;
}

}  // namespace quorin::packer
