// Names that cannot stand side by side in one target directory: the same
// name twice, two names that differ only in letter case (Windows keeps one
// file for both), and a name that another name needs as a folder. Used when
// packing and by verify. Pure code.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quorin::packer {

enum class ClashKind {
  kSame,         // the same name twice
  kLetterCase,   // the same name but for letter case
  kIsFolder,     // the later name is a folder the earlier one lies in
  kNeedsFolder,  // the later name lies in a "folder" that is the earlier file
};

struct NameClash {
  std::size_t index = 0;  // the later name
  std::size_t other = 0;  // the earlier one it clashes with
  ClashKind kind = ClashKind::kSame;
};

// Every clash among names (in archive order), each reported at the later name.
std::vector<NameClash> find_name_clashes(const std::vector<std::u16string>& names);

// What a clash means, given how the other name is to be shown ("entry 2
// ('d\x')" or "'d/x'"): "differs from entry 2 ('d\x') only in letter case; ...".
std::string clash_text(ClashKind kind, const std::string& other);

// The name as Windows compares it: letter case folded (ASCII, Latin-1, Greek
// and Cyrillic letters; NTFS folds more).
std::u16string folded_name(const std::u16string& name);

}  // namespace quorin::packer
