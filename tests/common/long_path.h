// Target directory specs of an exact length, for the long child path tests:
// the fixtures build launchers from them and the tests find the files they
// unpack. Pure code.
#pragma once

#include <cstddef>
#include <string>

namespace quorin::test_archive {

// A spec of exactly len units (ASCII): start, then backslash-separated
// components of at most component units (digits).
inline std::string spec_of_length(std::string spec, std::size_t len, std::size_t component) {
  while (spec.size() < len) {
    const std::size_t left = len - spec.size();
    std::size_t take = left - 1 < component ? left - 1 : component;
    if (left - 1 - take == 1) --take;  // never leave room for a backslash alone
    if (take == 0) {
      spec += '0';  // one unit short: the last component grows by one
      continue;
    }
    spec += '\\';
    for (std::size_t i = 0; i < take; ++i) spec += static_cast<char>('0' + (spec.size() + i) % 10);
  }
  return spec;
}

// The launchers' child paths: the spec of each length, then "\app.exe".
inline constexpr std::size_t kChildNameUnits = 8;
inline std::string long_path_spec(std::size_t child_path_units, bool short_components) {
  return short_components
             ? spec_of_length("C:\\quorin-long\\SHORT", child_path_units - kChildNameUnits, 8)
             : spec_of_length("C:\\quorin-long\\" + std::to_string(child_path_units), child_path_units - kChildNameUnits,
                              200);
}

}  // namespace quorin::test_archive
