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
  std::u16string version;            // X.Y.Z
  std::u16string original_filename;
  std::u16string internal_name;
  std::u16string file_description;
  unsigned version_parts[3] = {0, 0, 0};
};

std::string application_manifest();

// VS_VERSIONINFO: file and product version X.Y.Z.0, OS code 4, file type 1,
// one string table for translation 0x0000/0x04B0.
std::string version_info(const VersionTexts& texts);

// Every resource of a launcher: the icons and their group, the version
// information and the manifest, all language-neutral.
std::vector<Resource> launcher_resources(const VersionTexts& texts, const std::vector<IconImage>& icons);

}  // namespace quorin::packer
