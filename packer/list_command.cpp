// The list command: the entries, totals and frame parameters of a launcher
// exe or attached-data file, as a table or as JSON. Reads the file.
#include "packer/list_command.h"

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "packer/attached_problems.h"
#include "packer/attached_reader.h"
#include "packer/build_defaults.h"
#include "packer/exit_status.h"
#include "packer/inspected_file.h"
#include "packer/json.h"
#include "packer/progress.h"
#include "packer/spec_check.h"
#include "packer/utf16.h"
#include "payload/format.h"

namespace quorin::packer {

namespace {

// What the reading found.
struct Listing {
  FrameHeader header;
  bool header_ok = false;
  WalkResult walk;
  std::string error;  // why the archive could not be read to its end
};

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
// everything between the signature and the trailing fields.
std::uint64_t frame_bytes_of(const WalkResult& walk, std::uint64_t length) {
  if (walk.frame_complete) return walk.frame_bytes;
  const std::uint64_t around =
      payload::kSignatureSize + payload::kTrailingZeroBytes + payload::kTrailingLengthSize;
  return length >= around ? length - around : 0;
}

double ratio_of(const WalkResult& walk, std::uint64_t frame) {
  return frame > 0 ? static_cast<double>(walk.archive_bytes) / static_cast<double>(frame) : 0.0;
}

Listing read_listing(const InspectedFile& inspected, const ParsedArgs& parsed) {
  Listing listing;
  const Result header_read = read_frame_header(inspected.attached + payload::kSignatureSize,
                                               inspected.where.length - payload::kSignatureSize, listing.header);
  listing.header_ok = static_cast<bool>(header_read);
  if (!header_read) {
    listing.error = "frame: " + header_read.error;
    return listing;
  }
  listing.walk = walk_archive(inspected.attached, inspected.where.length, {}, progress_display(parsed, "reading"));
  if (listing.walk.end != WalkEnd::end_marker) listing.error = "archive: " + listing.walk.why;
  return listing;
}

// The spec as the launcher will expand it, but for the user's folders.
std::string shown_spec(const LauncherIdentity& identity) {
  return utf16_to_utf8(
      spec_as_shown(identity.spec, identity.company, identity.product, identity.version, identity.build));
}

// --keep-builds and --progress-window as the build command takes them.
std::string keep_builds_text(const LauncherIdentity& identity) {
  return identity.keep_builds == generated::kKeepEveryBuild ? "all" : std::to_string(identity.keep_builds);
}

const char* progress_window_text(const LauncherIdentity& identity) {
  return identity.progress_window != 0 ? "auto" : "never";
}

void print_identity(const LauncherIdentity& identity) {
  std::printf("\nspec: %s\ncompany: %s\nproduct: %s\nversion: %s\nsubsystem: %s\n", shown_spec(identity).c_str(),
              utf16_to_utf8(identity.company).c_str(), utf16_to_utf8(identity.product).c_str(),
              utf16_to_utf8(identity.version).c_str(), subsystem_name(identity.subsystem).c_str());
  if (!identity.build.empty()) std::printf("build: %s\n", utf16_to_utf8(identity.build).c_str());
  std::printf("keep builds: %s\nprogress window: %s\n", keep_builds_text(identity).c_str(),
              progress_window_text(identity));
}

void print_table(const InspectedFile& inspected, const Listing& listing) {
  const WalkResult& walk = listing.walk;
  std::printf("%14s  %-8s  %s\n", "SIZE", "CHECKSUM", "NAME");
  for (const EntryRecord& entry : walk.entries) {
    if (!entry.complete) continue;
    std::printf("%14" PRIu64 "  %s  %s\n", entry.size, checksum_hex(entry.stored_checksum).c_str(),
                printable_name(entry.name).c_str());
  }
  const Totals totals = totals_of(walk);
  const std::uint64_t frame = frame_bytes_of(walk, inspected.where.length);
  std::printf("\nfiles: %" PRIu64 "\nbytes: %" PRIu64 "\narchive bytes: %" PRIu64 "\n", totals.files, totals.bytes,
              walk.archive_bytes);
  std::printf("compressed bytes: %" PRIu64 "\n", frame);
  if (frame > 0) std::printf("ratio: %.2f (archive bytes / compressed bytes)\n", ratio_of(walk, frame));
  std::printf("attached data: %" PRIu64 " bytes at byte %" PRIu64 " of the %s\n", inspected.where.length,
              inspected.where.offset, inspected.where.in_launcher ? "launcher" : "file");
  if (listing.header_ok) {
    const FrameHeader& header = listing.header;
    std::printf("window: %s\n", window_text(header).c_str());
    std::printf("content size flag: %s\n", header.content_size_flag ? "yes" : "no");
    std::printf("checksum flag: %s\n", header.checksum_flag ? "yes" : "no");
    std::printf("dictionary id: %" PRIu32 "\n", header.dictionary_id);
  }
  LauncherIdentity identity;
  if (read_launcher_identity(inspected.file.data, inspected.file.size, identity)) print_identity(identity);
}

void print_json(const InspectedFile& inspected, const Listing& listing) {
  const WalkResult& walk = listing.walk;
  std::vector<std::string> entries;
  for (const EntryRecord& entry : walk.entries) {
    if (!entry.complete) continue;
    entries.push_back(json_line_object({{"name", json_string(utf16_to_utf8(entry.name))},
                                        {"size", std::to_string(entry.size)},
                                        {"checksum", json_string(checksum_hex(entry.stored_checksum))}}));
  }
  const Totals totals = totals_of(walk);
  const std::uint64_t frame = frame_bytes_of(walk, inspected.where.length);
  const std::string totals_json = json_line_object({{"files", std::to_string(totals.files)},
                                                    {"bytes", std::to_string(totals.bytes)},
                                                    {"archive_bytes", std::to_string(walk.archive_bytes)},
                                                    {"compressed_bytes", std::to_string(frame)},
                                                    {"ratio", json_fixed(ratio_of(walk, frame), 4)}});
  LauncherIdentity identity;
  const std::string launcher_json =
      !read_launcher_identity(inspected.file.data, inspected.file.size, identity)
          ? "null"
          : json_line_object({{"spec", json_string(shown_spec(identity))},
                              {"company", json_string(utf16_to_utf8(identity.company))},
                              {"product", json_string(utf16_to_utf8(identity.product))},
                              {"version", json_string(utf16_to_utf8(identity.version))},
                              {"subsystem", json_string(subsystem_name(identity.subsystem))},
                              {"build", identity.build.empty() ? "null" : json_string(utf16_to_utf8(identity.build))},
                              {"keep_builds", json_string(keep_builds_text(identity))},
                              {"progress_window", json_string(progress_window_text(identity))}});
  const FrameHeader& header = listing.header;
  const std::string frame_json =
      !listing.header_ok ? "null"
                         : json_line_object({{"window_size", std::to_string(header.window_size)},
                                             {"window_log", std::to_string(header.window_log)},
                                             {"content_size_flag", json_bool(header.content_size_flag)},
                                             {"checksum_flag", json_bool(header.checksum_flag)},
                                             {"dictionary_id", std::to_string(header.dictionary_id)}});
  const std::string out = json_document(
      {{"file", json_string(inspected.label)},
       {"kind", json_string(inspected.where.in_launcher ? "launcher" : "attached data")},
       {"launcher", launcher_json},
       {"attached_offset", std::to_string(inspected.where.offset)},
       {"attached_bytes", std::to_string(inspected.where.length)},
       {"entries", json_block_array(entries)},
       {"totals", totals_json},
       {"frame", frame_json},
       {"error", listing.error.empty() ? std::string("null") : json_string(listing.error)}});
  std::fputs(out.c_str(), stdout);
}

}  // namespace

int run_list(const ParsedArgs& parsed) {
  InspectedFile inspected;
  if (Result r = open_inspected(path_from_text(parsed.positional.at(0)), inspected); !r) return report(r.error);
  const Listing listing = read_listing(inspected, parsed);
  if (parsed.values.count("--json") != 0) {
    print_json(inspected, listing);
  } else {
    print_table(inspected, listing);
  }
  if (!listing.error.empty()) return report("'" + inspected.label + "': " + listing.error);
  return 0;
}

}  // namespace quorin::packer
