// Room for the child's path under the process creation limit. Pure code.
#include "packer/path_room.h"

#include "packer/utf16.h"
#include "template/placeholders.h"
#include "template/spec_reader.h"

namespace quorin::packer {

namespace {

std::size_t least_value_units(expansion::Placeholder placeholder, const BakedConstants& constants) {
  using expansion::Placeholder;
  switch (placeholder) {
    case Placeholder::kCompany:
      return constants.company.size();
    case Placeholder::kProduct:
      return constants.product.size();
    case Placeholder::kVersion:
    case Placeholder::kFileVersion:
    case Placeholder::kProductVersion:
      return constants.version.size();
    case Placeholder::kBuild:
      return constants.build.size();
    case Placeholder::kPid:
      return 1;
    case Placeholder::kRandom:
      return 11;
    case Placeholder::kTimeUs:
      return 6;
    case Placeholder::kTime:
      return 18;
    default:
      return 2;  // a drive: "C:" once trailing backslashes are trimmed
  }
}

}  // namespace

std::size_t known_child_path_units(const std::u16string& spec, const std::u16string& child, std::size_t& placeholders) {
  // The spec reader works on wide units; on the host they are 32 bits, but
  // each holds one UTF-16 unit, so the count is the launcher's.
  const std::wstring wide(spec.begin(), spec.end());
  expansion::SpecReader reader;
  expansion::spec_reader_start(reader, wide.c_str());
  std::size_t literal = 0;
  placeholders = 0;
  for (;;) {
    const expansion::SpecItem item = expansion::spec_read(reader);
    if (item.kind == expansion::SpecItemKind::kEnd) break;
    if (item.kind == expansion::SpecItemKind::kLiteral) ++literal;
    if (item.kind == expansion::SpecItemKind::kName) ++placeholders;
  }
  return literal + 1 + child.size();
}

std::string path_room_warning(const std::u16string& spec, const std::string& child) {
  const std::optional<std::u16string> name = utf8_to_utf16(child);
  if (!name) return "";
  std::size_t placeholders = 0;
  const std::size_t known = known_child_path_units(spec, *name, placeholders);
  const std::size_t wanted = placeholders == 0 ? 0 : kRoomForPlaceholders;
  if (known + wanted < kChildPathLimit) return "";
  const std::string what = "the child's path will have " + std::string(placeholders == 0 ? "" : "at least ") +
                           std::to_string(known) + " UTF-16 units (--spec's literal text and --child)";
  const std::string room = placeholders == 0 ? ""
                                             : ", which leaves less than " + std::to_string(kRoomForPlaceholders) +
                                                   " for its placeholders under " + std::to_string(kChildPathLimit);
  return what + room + "; a child path of " + std::to_string(kChildPathLimit) +
         " units or more can be started only by its short form, which not every volume has";
}

std::size_t least_spec_units(const BakedConstants& constants) {
  const std::wstring wide(constants.spec.begin(), constants.spec.end());
  expansion::SpecReader reader;
  expansion::spec_reader_start(reader, wide.c_str());
  std::size_t units = 0;
  for (;;) {
    const expansion::SpecItem item = expansion::spec_read(reader);
    if (item.kind == expansion::SpecItemKind::kEnd) break;
    if (item.kind == expansion::SpecItemKind::kLiteral) ++units;
    if (item.kind != expansion::SpecItemKind::kName) continue;
    // A name no placeholder has is refused before a build gets here.
    if (const expansion::PlaceholderName* known = expansion::find_placeholder(item.name, item.name_len)) {
      units += least_value_units(known->placeholder, constants);
    }
  }
  return units;
}

std::string entry_room_warning(const BakedConstants& constants, const std::u16string& longest_name) {
  const std::size_t folder = least_spec_units(constants);
  const std::size_t path = folder + 1 + longest_name.size();
  if (longest_name.empty() || path <= kEntryPathLimit) return "";
  return "the entry '" + utf16_to_utf8(longest_name) + "' needs a path of at least " + std::to_string(path) +
         " UTF-16 units (the target folder at least " + std::to_string(folder) + ", a backslash and the name's " +
         std::to_string(longest_name.size()) + "), more than the " + std::to_string(kEntryPathLimit) +
         " the launcher has room for: every start would stop there with exit 3 and no message";
}

}  // namespace quorin::packer
