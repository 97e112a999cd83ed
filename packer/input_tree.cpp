// Walking the application folder. Reads the file system.
#include "packer/input_tree.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "packer/child_lookup.h"
#include "packer/name_clash.h"
#include "packer/platform.h"
#include "packer/utf16.h"
#include "payload/entry_name.h"

namespace quorin::packer {

namespace fs = std::filesystem;

namespace {

// The name of source relative to dir, as UTF-16 with backslashes.
Result archive_name(const fs::path& relative, std::u16string& name) {
  name.clear();
  for (const fs::path& part : relative) {
    const auto wide = utf8_to_utf16(path_text(part));
    if (!wide) return fail("'" + path_text(relative) + "': the name is not valid UTF-8");
    // A backslash inside a Linux file name would become a folder on Windows.
    if (wide->find(u'\\') != std::u16string::npos) {
      return fail("'" + path_text(relative) + "': a name component contains a backslash");
    }
    if (!name.empty()) name.push_back(u'\\');
    name += *wide;
  }
  const std::string why = check_entry_name(name);
  if (!why.empty()) return fail("'" + path_text(relative) + "': " + why);
  return ok();
}

}  // namespace

std::string check_entry_name(const std::u16string& name) {
  // The launcher's own rule, over wide units.
  const std::wstring wide(name.begin(), name.end());
  const payload::NameProblem problem = payload::entry_name_problem(wide.data(), wide.size());
  return problem == payload::NameProblem::kNone ? "" : payload::name_problem_text(problem);
}

Result collect_input(const fs::path& dir, const std::string& child_name, std::vector<InputFile>& files) {
  files.clear();
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return fail("input folder '" + path_text(dir) + "': not a folder");

  std::string child_relative = child_name;
  std::replace(child_relative.begin(), child_relative.end(), '\\', '/');
  const fs::path child_relative_path = path_from_text(child_relative).lexically_normal();
  if (child_relative.empty() || child_relative_path.is_absolute() || child_relative_path.has_root_name() ||
      *child_relative_path.begin() == "..") {
    return fail("child '" + child_name + "': give a file name relative to the input folder");
  }
  // The child's archive name; one that is not valid UTF-8 names no file.
  std::u16string child_archive_name;
  for (const fs::path& part : child_relative_path) {
    if (!child_archive_name.empty()) child_archive_name.push_back(u'\\');
    child_archive_name += utf8_to_utf16(path_text(part)).value_or(u"\uFFFF");
  }

  std::map<std::u16string, InputFile> found;  // ordered by name: the same order on every machine
  fs::recursive_directory_iterator it(dir, fs::directory_options::none, ec);
  if (ec) return fail("input folder '" + path_text(dir) + "': " + ec.message());
  for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
    if (ec) return fail("input folder '" + path_text(dir) + "': " + ec.message());
    const fs::directory_entry& entry = *it;
    // Follows links to files; links to folders are not entered (no loops).
    if (!entry.is_regular_file(ec)) continue;
    InputFile file;
    file.source = entry.path();
    file.size = entry.file_size(ec);
    if (ec) return fail("'" + path_text(entry.path()) + "': " + ec.message());
    if (Result r = archive_name(entry.path().lexically_relative(dir), file.name); !r) return r;
    found.emplace(file.name, std::move(file));
  }
  std::vector<std::u16string> names;
  for (const auto& [name, file] : found) names.push_back(name);

  // The child as Windows finds it: letter case does not matter. Its real
  // name is the one packed.
  const std::size_t child = find_child(names, child_archive_name);
  if (child == names.size()) {
    const fs::file_status status = fs::status(dir / child_relative_path, ec);
    if (!ec && fs::exists(status)) {
      if (!fs::is_regular_file(status)) return fail("child '" + child_name + "': not a regular file");
      return fail("child '" + child_name + "': not found under the input folder (a link to a folder is not followed)");
    }
    std::string meant = utf16_to_utf8(child_meant(names, child_archive_name));
    std::replace(meant.begin(), meant.end(), '\\', '/');
    return fail("child '" + child_name + "': no such file in the input folder" +
                (meant.empty() ? "" : " (did you mean '" + meant + "'?)"));
  }

  files.reserve(names.size());
  files.push_back(std::move(found.at(names[child])));
  for (auto& [name, file] : found) {
    if (name != names[child]) files.push_back(std::move(file));
  }
  names.clear();
  for (const InputFile& file : files) names.push_back(file.name);
  const std::vector<NameClash> clashes = find_name_clashes(names);
  if (!clashes.empty()) {
    const NameClash& clash = clashes.front();
    return fail("'" + utf16_to_utf8(files[clash.index].name) + "': " +
                clash_text(clash.kind, "'" + utf16_to_utf8(files[clash.other].name) + "'"));
  }
  return ok();
}

}  // namespace quorin::packer
