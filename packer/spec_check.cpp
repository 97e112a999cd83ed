// Checking a target directory spec. Pure code over the launcher's spec reader.
#include "packer/spec_check.h"

#include <algorithm>

#include "packer/options.h"
#include "packer/utf16.h"
#include "template/per_run.h"
#include "template/placeholders.h"
#include "template/spec_reader.h"

namespace quorin::packer {

namespace {

using expansion::SpecItem;
using expansion::SpecItemKind;

std::string narrow(const wchar_t* text, std::size_t len) {
  std::u16string units;
  for (std::size_t i = 0; i < len; ++i) units.push_back(static_cast<char16_t>(text[i]));
  return utf16_to_utf8(units);
}

std::string upper(std::string text) {
  for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  return text;
}

// Characters (not UTF-16 units) before position, for the caret's column.
std::size_t column_of(const std::u16string& spec, std::size_t position) {
  std::size_t column = 0;
  for (std::size_t i = 0; i < position && i < spec.size(); ++i) {
    if (!(spec[i] >= 0xDC00 && spec[i] <= 0xDFFF)) ++column;
  }
  return column;
}

// The spec, and a caret with tildes under [position, position + length).
std::string pointer_lines(const std::u16string& spec, std::size_t position, std::size_t length) {
  const std::size_t start = column_of(spec, position), end = column_of(spec, position + length);
  return "  " + utf16_to_utf8(spec) + "\n  " + std::string(start, ' ') + "^" +
         std::string(end > start + 1 ? end - start - 1 : 0, '~');
}

// The known names, the nearest to wanted first with its label.
std::string known_names(const std::string& wanted, const std::string& label = "nearest") {
  std::vector<std::string> names;
  for (const expansion::PlaceholderName& entry : expansion::kPlaceholders) {
    names.push_back(narrow(entry.name, std::char_traits<wchar_t>::length(entry.name)));
  }
  const std::string nearest = wanted.empty() ? "" : nearest_name(upper(wanted), names);
  std::string out = "  placeholders: ";
  if (!nearest.empty()) out += "{" + nearest + "} (" + label + "), ";
  bool first = true;
  for (const std::string& name : names) {
    if (name == nearest) continue;
    out += (first ? "" : ", ") + ("{" + name + "}");
    first = false;
  }
  return out;
}

// A placeholder whose value is itself an absolute path.
bool gives_absolute_path(expansion::Placeholder placeholder) {
  using expansion::Placeholder;
  switch (placeholder) {
    case Placeholder::kTemp:
    case Placeholder::kProgram:
    case Placeholder::kProgramBase:
    case Placeholder::kProgramDir:
    case Placeholder::kHome:
    case Placeholder::kCacheDir:
      return true;
    default:
      return false;
  }
}

bool is_letter(char16_t unit) { return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z'); }

char16_t upper_unit(char16_t unit) { return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit; }

bool same_ignoring_case(const std::u16string& a, const std::u16string& b) {
  const auto same = [](char16_t x, char16_t y) { return upper_unit(x) == upper_unit(y); };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same);
}

// A unit of a variable's name as Windows users write them: letters, digits,
// "_" and the parentheses of "ProgramFiles(x86)". A "%" among other text (as
// in "100% done") is a plain character of a folder name.
bool is_variable_unit(char16_t unit) {
  return is_letter(unit) || (unit >= u'0' && unit <= u'9') || unit == u'_' || unit == u'(' || unit == u')';
}

// The variables whose folder a placeholder gives exactly: TMP and TEMP are
// where GetTempPathW looks first, USERPROFILE and LOCALAPPDATA name the
// profile and local application-data folders the launcher asks the shell
// for. (APPDATA is the roaming folder, which no placeholder gives.)
struct VariableFolder {
  const char16_t* variable;
  const char* placeholder;
};
constexpr VariableFolder kVariableFolders[] = {
    {u"LOCALAPPDATA", "CACHE_DIR"}, {u"TEMP", "TEMP"}, {u"TMP", "TEMP"}, {u"USERPROFILE", "HOME"}};

// The first "%NAME%" of spec: its position, and its length from "%" to "%".
bool find_variable(const std::u16string& spec, std::size_t& position, std::size_t& length) {
  for (std::size_t start = spec.find(u'%'); start != std::u16string::npos;) {
    const std::size_t end = spec.find(u'%', start + 1);
    if (end == std::u16string::npos) return false;
    const std::u16string name = spec.substr(start + 1, end - start - 1);
    if (!name.empty() && !(name[0] >= u'0' && name[0] <= u'9') &&
        std::all_of(name.begin(), name.end(), is_variable_unit)) {
      position = start;
      length = end - start + 1;
      return true;
    }
    start = end;  // the "%" that closed no name may open the next
  }
  return false;
}

// A spec written as in a batch file: the launcher takes "%LOCALAPPDATA%" for
// a folder of that very name, under the folder it is started from.
std::string variable_error(const std::u16string& spec, std::size_t position, std::size_t length) {
  const std::u16string name = spec.substr(position + 1, length - 2);
  const std::string what = "--spec: '%" + utf16_to_utf8(name) + "%' is an environment variable, and the launcher " +
                           "expands none: it would make a folder of that name";
  const std::string place = "\n" + pointer_lines(spec, position, length) + "\n";
  for (const VariableFolder& folder : kVariableFolders) {
    if (same_ignoring_case(name, folder.variable)) {
      return what + "; {" + folder.placeholder + "} is the same folder" + place +
             known_names(folder.placeholder, "the same folder");
    }
  }
  return what + place + known_names("");
}

// The folder under which a literally absolute spec lies, when only an
// administrator may write there; "" for any other spec.
std::string protected_folder(const std::u16string& spec) {
  static const char16_t* const kProtected[] = {u"Program Files", u"Program Files (x86)", u"Windows"};
  if (spec.size() < 3 || !is_letter(spec[0]) || spec[1] != u':' || spec[2] != u'\\') return "";
  const std::size_t end = std::min(spec.find(u'\\', 3), spec.size());
  for (const char16_t* folder : kProtected) {
    if (same_ignoring_case(spec.substr(3, end - 3), folder)) return utf16_to_utf8(spec.substr(0, end));
  }
  return "";
}

// A spec that gives every build of the product one folder makes each start
// of a new build remove the files the earlier one placed and this one has
// not; one with {BUILD} in an earlier folder name gives every build its own,
// but the launcher looks for the others beside the last folder only.
std::string build_folder_warning(const std::u16string& spec, const std::wstring& wide) {
  if (expansion::read_per_run(wide.c_str()).per_run) return "";
  const expansion::PerRunSpec per_build = expansion::read_per_build(wide.c_str());
  const std::string text = "--spec '" + utf16_to_utf8(spec) + "'";
  if (!per_build.per_run) {
    return text + " gives every build the same folder, where a new build's first start removes the files the " +
           "earlier one placed and this one has not; with {BUILD} in its last folder name each build gets its " +
           "own, the previous one stays for a downgrade and older ones are removed (--keep-builds)";
  }
  if (!per_build.in_last_component) {
    return text + " has {BUILD} before its last folder name, so no start removes the folders of older builds; " +
           "put it in the last one";
  }
  return "";
}

}  // namespace

SpecCheck check_spec(const std::u16string& spec) {
  SpecCheck check;
  const std::wstring wide(spec.begin(), spec.end());
  expansion::SpecReader reader;
  expansion::spec_reader_start(reader, wide.c_str());
  bool first_item = true;
  bool absolute = false;
  for (;;) {
    const SpecItem item = expansion::spec_read(reader);
    if (item.kind == SpecItemKind::kEnd) break;
    const std::string name = item.name != nullptr ? narrow(item.name, item.name_len) : "";
    // "{" and the name's units, and the "}" where there is one.
    const std::size_t extent = item.name_len + (item.kind == SpecItemKind::kName ? 2 : 1);
    if (item.kind == SpecItemKind::kDroppedName || item.kind == SpecItemKind::kOpenName) {
      check.error = "--spec: the name '" + name + "' is left open (no \"}\" before " +
                    (item.kind == SpecItemKind::kOpenName ? "the end" : "the next \"{\"") + "), and the launcher " +
                    "drops it\n" + pointer_lines(spec, item.position, extent) + "\n" + known_names(name);
      return check;
    }
    if (item.kind == SpecItemKind::kName) {
      const expansion::PlaceholderName* known = expansion::find_placeholder(item.name, item.name_len);
      if (known == nullptr) {
        check.error = std::string("--spec: ") + (item.name_len == 0 ? "an empty placeholder name" :
                                                 "no placeholder is named '" + name + "'") +
                      ", so the launcher could never expand it\n" + pointer_lines(spec, item.position, extent) + "\n" +
                      known_names(name);
        return check;
      }
      if (first_item) absolute = gives_absolute_path(known->placeholder);
    }
    first_item = false;
  }
  std::size_t variable = 0, variable_len = 0;
  if (find_variable(spec, variable, variable_len)) {
    check.error = variable_error(spec, variable, variable_len);
    return check;
  }
  // Literally absolute: a drive and a backslash ("C:\"), or a share ("\\").
  const bool drive = spec.size() >= 3 && is_letter(spec[0]) && spec[1] == u':' && spec[2] == u'\\';
  const bool share = spec.size() >= 2 && spec[0] == u'\\' && spec[1] == u'\\';
  if (!absolute && !drive && !share) {
    check.warnings.push_back("--spec '" + utf16_to_utf8(spec) +
                             "' is no absolute path: the launcher unpacks relative to the folder it is started from");
  }
  if (const std::string folder = protected_folder(spec); !folder.empty()) {
    check.warnings.push_back("--spec '" + utf16_to_utf8(spec) + "' lies under " + folder +
                             ", where a launcher started by a user without administrator rights cannot write");
  }
  if (const std::string warning = build_folder_warning(spec, wide); !warning.empty()) {
    check.warnings.push_back(warning);
  }
  return check;
}

std::u16string spec_as_shown(const std::u16string& spec, const std::u16string& company, const std::u16string& product,
                             const std::u16string& version, const std::u16string& build) {
  using expansion::Placeholder;
  const std::wstring wide(spec.begin(), spec.end());
  expansion::SpecReader reader;
  expansion::spec_reader_start(reader, wide.c_str());
  std::u16string shown;
  for (;;) {
    const SpecItem item = expansion::spec_read(reader);
    if (item.kind == SpecItemKind::kEnd) break;
    if (item.kind == SpecItemKind::kLiteral) {
      shown.push_back(static_cast<char16_t>(item.unit));
      continue;
    }
    const expansion::PlaceholderName* known =
        item.kind == SpecItemKind::kName ? expansion::find_placeholder(item.name, item.name_len) : nullptr;
    const std::u16string* value = nullptr;  // a baked constant, or none
    switch (known != nullptr ? known->placeholder : Placeholder::kPid) {
      case Placeholder::kCompany:
        value = &company;
        break;
      case Placeholder::kProduct:
        value = &product;
        break;
      case Placeholder::kVersion:
      case Placeholder::kFileVersion:
      case Placeholder::kProductVersion:
        value = &version;
        break;
      case Placeholder::kBuild:
        value = &build;
        break;
      default:
        break;
    }
    // Anything else as written: "{", the name, and "}" when it has one.
    shown += value != nullptr ? *value
                              : spec.substr(item.position, item.name_len + (item.kind == SpecItemKind::kName ? 2 : 1));
  }
  return shown;
}

}  // namespace quorin::packer
