// Walking the application folder. Reads the file system.
#include "packer/input_tree.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "payload/format.h"
#include "packer/utf16.h"

namespace quorin::packer {

namespace fs = std::filesystem;

namespace {

// The name of source relative to dir, as UTF-16 with backslashes.
Result archive_name(const fs::path& relative, std::u16string& name) {
  name.clear();
  for (const fs::path& part : relative) {
    const auto wide = utf8_to_utf16(part.string());
    if (!wide) return fail("'" + relative.string() + "': the name is not valid UTF-8");
    // A backslash inside a Linux file name would become a folder on Windows.
    if (wide->find(u'\\') != std::u16string::npos) {
      return fail("'" + relative.string() + "': a name component contains a backslash");
    }
    if (!name.empty()) name.push_back(u'\\');
    name += *wide;
  }
  const std::string why = check_entry_name(name);
  if (!why.empty()) return fail("'" + relative.string() + "': " + why);
  return ok();
}

// Windows compares names without regard to case: two such names are one file there.
std::u16string folded(const std::u16string& name) {
  std::u16string out = name;
  for (char16_t& unit : out) {
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
  }
  return out;
}

// A component Windows takes for a device (CON, NUL, COM1, LPT1.txt, "aux ."):
// its name up to the first dot, blanks trimmed, is a reserved device name.
bool is_device_name(std::u16string component) {
  const std::size_t dot = component.find(u'.');
  if (dot != std::u16string::npos) component.resize(dot);
  while (!component.empty() && component.back() == u' ') component.pop_back();
  const std::u16string base = folded(component);
  for (const char16_t* device : {u"con", u"prn", u"aux", u"nul"}) {
    if (base == device) return true;
  }
  return base.size() == 4 && (base.compare(0, 3, u"com") == 0 || base.compare(0, 3, u"lpt") == 0) &&
         base[3] >= u'1' && base[3] <= u'9';
}

}  // namespace

std::string check_entry_name(const std::u16string& name) {
  if (name.size() >= payload::kEntryNameCap) {
    return "the name has " + std::to_string(name.size()) + " UTF-16 units; the launcher takes at most " +
           std::to_string(payload::kEntryNameCap - 1);
  }
  for (char16_t unit : name) {
    if (unit < 0x20 || unit == u'<' || unit == u'>' || unit == u'"' || unit == u'|' || unit == u'?' ||
        unit == u'*') {
      return "the name holds a character Windows does not allow in file names";
    }
  }
  for (std::size_t start = 0; start <= name.size();) {
    std::size_t end = name.find(u'\\', start);
    if (end == std::u16string::npos) end = name.size();
    if (is_device_name(name.substr(start, end - start))) {
      return "a name component is a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)";
    }
    start = end + 1;
  }
  if (!payload::is_valid_entry_name(name.data(), name.size())) {
    return "the name has an empty, \".\" or \"..\" component (or one of dots and blanks only), a colon "
           "or a forward slash";
  }
  return "";
}

Result collect_input(const fs::path& dir, const std::string& child_name, std::vector<InputFile>& files) {
  files.clear();
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return fail("input folder '" + dir.string() + "': not a folder");

  std::string child_relative = child_name;
  std::replace(child_relative.begin(), child_relative.end(), '\\', '/');
  const fs::path child_path = dir / fs::path(child_relative).lexically_normal();
  if (child_relative.empty() || fs::path(child_relative).is_absolute()) {
    return fail("child '" + child_name + "': give a file name relative to the input folder");
  }
  const fs::file_status child_status = fs::status(child_path, ec);
  if (ec || !fs::exists(child_status)) return fail("child '" + child_name + "': no such file in the input folder");
  if (!fs::is_regular_file(child_status)) return fail("child '" + child_name + "': not a regular file");

  std::map<std::u16string, InputFile> others;  // ordered by name: the same order on every machine
  std::map<std::u16string, std::u16string> seen_folded;
  InputFile child;
  bool child_found = false;

  fs::recursive_directory_iterator it(dir, fs::directory_options::none, ec);
  if (ec) return fail("input folder '" + dir.string() + "': " + ec.message());
  for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
    if (ec) return fail("input folder '" + dir.string() + "': " + ec.message());
    const fs::directory_entry& entry = *it;
    // Follows links to files; links to folders are not entered (no loops).
    if (!entry.is_regular_file(ec)) continue;
    InputFile file;
    file.source = entry.path();
    file.size = entry.file_size(ec);
    if (ec) return fail("'" + entry.path().string() + "': " + ec.message());
    if (Result r = archive_name(entry.path().lexically_relative(dir), file.name); !r) return r;
    const std::u16string key = folded(file.name);
    if (auto previous = seen_folded.find(key); previous != seen_folded.end()) {
      return fail("'" + utf16_to_utf8(file.name) + "' and '" + utf16_to_utf8(previous->second) +
                  "' differ only in letter case: Windows would keep one file for both");
    }
    seen_folded.emplace(key, file.name);
    if (fs::equivalent(entry.path(), child_path, ec) && !child_found &&
        entry.path().lexically_relative(dir) == fs::path(child_relative).lexically_normal()) {
      child = std::move(file);
      child_found = true;
    } else {
      others.emplace(file.name, std::move(file));
    }
  }
  if (!child_found) return fail("child '" + child_name + "': not found under the input folder");

  files.reserve(others.size() + 1);
  files.push_back(std::move(child));
  for (auto& [name, file] : others) files.push_back(std::move(file));
  return ok();
}

}  // namespace quorin::packer
