// Checking a target directory spec before it is baked in: read with the
// launcher's own spec reader, so that a spec the launcher could not expand
// never ships. Pure code.
#pragma once

#include <string>
#include <vector>

namespace quorin::packer {

struct SpecCheck {
  std::string error;                  // empty: the spec can be expanded
  std::vector<std::string> warnings;  // each one line
};

// Refuses a name that no placeholder has (letter case ignored, as the
// launcher matches), an empty name, and a name left open (at the end, or by
// a "{" that opens another), each with its place: the spec with a caret under
// it, and the known names, the nearest first. Refuses in the same way an
// environment variable written "%NAME%", which the launcher does not expand,
// naming the placeholder that gives the same folder where one does. Warns
// when the expansion cannot be an absolute path (no drive or share, no
// placeholder at its start that gives one), since the launcher then unpacks
// relative to the folder it is started from, and when it lies under
// X:\Program Files, X:\Program Files (x86) or X:\Windows, where only an
// administrator may write.
SpecCheck check_spec(const std::u16string& spec);

// The spec as the launcher will expand it, as far as the packer knows:
// {COMPANY}, {PRODUCT}, {VERSION} ({FILE_VERSION}, {PRODUCT_VERSION}) and
// {BUILD} are the launcher's own constants and are put in; the user's folders ({CACHE_DIR},
// {TEMP}, {HOME}, ...) and the values of each run ({PID}, {RANDOM}, {TIME},
// ...) stay as written.
std::u16string spec_as_shown(const std::u16string& spec, const std::u16string& company, const std::u16string& product,
                             const std::u16string& version, const std::u16string& build);

}  // namespace quorin::packer
