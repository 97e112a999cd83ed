// The extract command: the launcher's unpacking on the build machine. Reads
// the file; writes into its output folder and nowhere else.
#include "packer/extract_command.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "packer/attached_problems.h"
#include "packer/attached_reader.h"
#include "packer/exit_status.h"
#include "packer/inspected_file.h"
#include "packer/output_staging.h"
#include "packer/platform.h"
#include "packer/progress.h"
#include "packer/utf16.h"
#include "payload/checksum.h"
#include "payload/temporary_name.h"

namespace quorin::packer {

namespace fs = std::filesystem;

namespace {

struct Extraction {
  fs::path root;
  StagedFile staged;            // the entry being written, under its temporary name
  fs::path current;             // the entry's real name
  bool skip = false;            // the entry's data goes nowhere
  std::uint32_t serial = 0;     // of the last temporary name
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

// The launcher's temporary name beside path: the name rule refuses it for
// every entry, so it is never an entry's own name.
fs::path temporary_beside(const fs::path& path, std::uint32_t serial) {
  wchar_t name[payload::kTemporaryNameCap] = {};
  payload::append_temporary_name(name, payload::kTemporaryNameCap, static_cast<std::uint32_t>(process_id()), serial);
  return path.parent_path() / path_from_text(std::string(name, name + std::wcslen(name)));
}

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
    if (ec) return fail("'" + path_text(path) + "': " + ec.message());
    if (type == fs::file_type::not_found) {
      fs::create_directory(path, ec);
      if (ec) return fail("'" + path_text(path) + "': " + ec.message());
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

// The name's components, as UTF-8 names: it has no slash, no empty, "." or
// ".." component (the name rule), so each stays one name below root.
std::vector<std::string> name_parts(const std::u16string& name) {
  std::vector<std::string> parts;
  std::u16string part;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == u'\\') {
      parts.push_back(utf16_to_utf8(part));
      part.clear();
    } else {
      part.push_back(name[i]);
    }
  }
  return parts;
}

Result begin_entry(Extraction& x, std::size_t index, const EntryRecord& entry) {
  x.skip = true;
  const std::string label = entry_label(index, entry);
  if (entry.name_problem != payload::NameProblem::kNone) {
    x.problems.push_back(label + ": not extracted: " + payload::name_problem_text(entry.name_problem));
    return ok();
  }
  if (Result r = make_parents(x.root, name_parts(entry.name), x.current); !r) return fail(label + ": " + r.error);
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
  if (Result r = open_staged(x.staged, temporary_beside(x.current, ++x.serial), x.current, FileKind::kData); !r) {
    return fail(label + ": " + r.error);
  }
  x.skip = false;
  return ok();
}

Result write_piece(Extraction& x, const unsigned char* data, std::size_t size) {
  if (x.skip) return ok();
  if (std::fwrite(data, 1, size, x.staged.file) != size) {
    return fail("'" + path_text(x.current) + "': " + std::strerror(errno));
  }
  return ok();
}

// The data written is the data the walk checksummed: only data with the
// stored checksum takes the real name.
Result end_entry(Extraction& x, std::size_t index, const EntryRecord& entry) {
  const bool damaged = entry.stored_checksum != entry.data_checksum;
  if (damaged) {
    x.problems.push_back(entry_label(index, entry) + ": " +
                         checksum_mismatch_text(entry.stored_checksum, entry.data_checksum));
  }
  if (x.skip) return ok();
  if (damaged) {
    discard_staged(x.staged);
    return ok();
  }
  if (Result r = finish_staged(x.staged, x.current); !r) return r;
  ++x.written;
  return ok();
}

// The walk over every entry, each written through x.
WalkResult extract_entries(const InspectedFile& inspected, const ParsedArgs& parsed, Extraction& x) {
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
  WalkResult walk =
      walk_archive(inspected.attached, inspected.where.length, hooks, progress_display(parsed, "extracting"));
  // A walk that stopped inside an entry leaves its temporary: it goes.
  discard_staged(x.staged);
  return walk;
}

}  // namespace

int run_extract(const ParsedArgs& parsed) {
  InspectedFile inspected;
  if (Result r = open_inspected(path_from_text(parsed.positional.at(0)), inspected); !r) return report(r.error);
  Extraction x;
  x.root = path_from_text(parsed.values.at("--output"));
  std::error_code ec;
  fs::create_directories(x.root, ec);
  if (ec || !fs::is_directory(x.root, ec)) {
    return report("--output '" + path_text(x.root) + "': " + (ec ? ec.message() : std::string("not a folder")));
  }
  const WalkResult walk = extract_entries(inspected, parsed, x);
  for (const std::string& problem : x.problems) report("'" + inspected.label + "': " + problem);
  if (walk.end != WalkEnd::end_marker) {
    const std::string where = walk.end == WalkEnd::hook_failed ? "" : "archive: ";
    return report("'" + inspected.label + "': " + where + walk.why);
  }
  std::printf("%s: %" PRIu64 " written, %" PRIu64 " unchanged, into %s\n", inspected.label.c_str(), x.written,
              x.unchanged, path_text(x.root).c_str());
  return x.problems.empty() ? 0 : kExitFailure;
}

}  // namespace quorin::packer
