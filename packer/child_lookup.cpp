// The --child program among the input files. Pure code.
#include "packer/child_lookup.h"

#include "packer/name_clash.h"
#include "packer/options.h"
#include "packer/utf16.h"

namespace quorin::packer {

namespace {

bool is_program_name(const std::u16string& folded) {
  return folded.size() > 4 && folded.compare(folded.size() - 4, 4, u".EXE") == 0;
}

}  // namespace

std::size_t find_child(const std::vector<std::u16string>& names, const std::u16string& child) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == child) return i;
  }
  const std::u16string folded = folded_name(child);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (folded_name(names[i]) == folded) return i;
  }
  return names.size();
}

std::u16string child_meant(const std::vector<std::u16string>& names, const std::u16string& child) {
  if (const std::size_t with_exe = find_child(names, child + u".exe"); with_exe < names.size()) return names[with_exe];
  // Compared folded, so that letter case costs nothing.
  std::vector<std::string> programs;
  std::vector<std::size_t> program_index;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::u16string folded = folded_name(names[i]);
    if (!is_program_name(folded)) continue;
    programs.push_back(utf16_to_utf8(folded));
    program_index.push_back(i);
  }
  // "sqlite" is as near to "sqlite3.exe" as "sqlite.exe" is.
  const std::u16string folded = folded_name(child);
  std::string nearest = nearest_name(utf16_to_utf8(folded), programs);
  if (nearest.empty() && !is_program_name(folded)) nearest = nearest_name(utf16_to_utf8(folded + u".EXE"), programs);
  for (std::size_t i = 0; i < programs.size(); ++i) {
    if (!nearest.empty() && programs[i] == nearest) return names[program_index[i]];
  }
  return u"";
}

}  // namespace quorin::packer
