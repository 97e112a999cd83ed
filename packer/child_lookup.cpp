// The --child program among the input files. Pure code.
#include "packer/child_lookup.h"

#include "packer/name_clash.h"

namespace quorin::packer {

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

}  // namespace quorin::packer
