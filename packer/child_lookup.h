// Finding the --child program among the files of the input folder, as
// Windows finds a file by name, and the name meant when it is not there.
// Pure code.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quorin::packer {

// The index in names (archive names: relative, backslash-separated) of the
// file child names: the same name, else the one that differs from it only in
// letter case, folded as the clash check folds names (two such files are a
// clash, so the second rule finds at most one); names.size() when none.
std::size_t find_child(const std::vector<std::u16string>& names, const std::u16string& child);

// For a child that find_child did not find: the name the user likely meant,
// the child's name with ".exe" added when that is packed, else the program
// (".exe" file) nearest to it (or to it with ".exe" added) by edit distance;
// "" for none.
std::u16string child_meant(const std::vector<std::u16string>& names, const std::u16string& child);

}  // namespace quorin::packer
