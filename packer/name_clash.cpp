// Names that cannot stand side by side. Pure code.
#include "packer/name_clash.h"

#include <map>

namespace quorin::packer {

namespace {

char16_t fold_unit(char16_t unit) {
  if (unit >= u'a' && unit <= u'z') return unit - u'a' + u'A';
  if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) return unit - 0x20;      // à .. þ
  if (unit >= 0x3B1 && unit <= 0x3C9 && unit != 0x3C2) return unit - 0x20;   // α .. ω
  if (unit >= 0x430 && unit <= 0x44F) return unit - 0x20;                    // а .. я
  if (unit >= 0x450 && unit <= 0x45F) return unit - 0x50;                    // ѐ .. џ
  return unit;
}

}  // namespace

std::u16string folded_name(const std::u16string& name) {
  std::u16string out = name;
  for (char16_t& unit : out) unit = fold_unit(unit);
  return out;
}

std::vector<NameClash> find_name_clashes(const std::vector<std::u16string>& names) {
  std::vector<NameClash> clashes;
  std::map<std::u16string, std::size_t> files;    // folded name -> first index
  std::map<std::u16string, std::size_t> folders;  // folded folder -> first index that needs it
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::u16string key = folded_name(names[i]);
    if (const auto same = files.find(key); same != files.end()) {
      const bool exact = names[same->second] == names[i];
      clashes.push_back({i, same->second, exact ? ClashKind::kSame : ClashKind::kLetterCase});
      continue;
    }
    if (const auto folder = folders.find(key); folder != folders.end()) {
      clashes.push_back({i, folder->second, ClashKind::kIsFolder});
      continue;
    }
    bool clashed = false;
    for (std::size_t at = key.find(u'\\'); at != std::u16string::npos; at = key.find(u'\\', at + 1)) {
      const std::u16string folder = key.substr(0, at);
      if (const auto file = files.find(folder); file != files.end()) {
        clashes.push_back({i, file->second, ClashKind::kNeedsFolder});
        clashed = true;
        break;
      }
    }
    files.emplace(key, i);
    if (clashed) continue;
    for (std::size_t at = key.find(u'\\'); at != std::u16string::npos; at = key.find(u'\\', at + 1)) {
      folders.emplace(key.substr(0, at), i);
    }
  }
  return clashes;
}

std::string clash_text(ClashKind kind, const std::string& other) {
  switch (kind) {
    case ClashKind::kSame:
      return "the same name as " + other;
    case ClashKind::kLetterCase:
      return "differs from " + other + " only in letter case; Windows keeps one file for both";
    case ClashKind::kIsFolder:
      return "a folder of " + other + " has this name; a file and a folder cannot share it";
    case ClashKind::kNeedsFolder:
      return "it lies in a folder named like the file " + other + "; a file and a folder cannot share a name";
  }
  return "clashes with " + other;
}

}  // namespace quorin::packer
