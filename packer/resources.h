// The launcher's resources: application manifest, version information and
// icon group. Pure code: bytes in, bytes out.
#pragma once

#include <string>
#include <vector>

#include "packer/icon.h"
#include "packer/resource_section.h"

namespace quorin::packer {

struct VersionTexts {
  std::u16string company;
  std::u16string product;
  std::u16string version;            // as given: one to four numbers
  std::u16string original_filename;
  std::u16string internal_name;
  std::u16string file_description;
  unsigned version_parts[4] = {0, 0, 0, 0};
};

// "A.B.C.D", the four parts of the version.
std::u16string four_part_version(const VersionTexts& texts);

// The product as an assembly name: letters, digits, dots, dashes and
// underscores; each run of other characters (a blank, a letter beyond
// ASCII) becomes one dot, with no dot at either end; "Application" when
// nothing is left. "Brindlex Pocket Variant" -> "Brindlex.Pocket.Variant".
std::string assembly_name(const std::u16string& product);

// The application manifest, whose assemblyIdentity carries the product (as
// assembly_name makes it) and the four-part version.
std::string application_manifest(const VersionTexts& texts);

// VS_VERSIONINFO: file and product version A.B.C.D, OS code 4, file type 1,
// one string table for translation 0x0000/0x04B0.
std::string version_info(const VersionTexts& texts);

// Every resource of a launcher: the icons and their group, the version
// information and the manifest, all language-neutral.
std::vector<Resource> launcher_resources(const VersionTexts& texts, const std::vector<IconImage>& icons);

}  // namespace quorin::packer
