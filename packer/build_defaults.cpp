// What a build takes when the user does not say. Pure code, apart from
// reading SOURCE_DATE_EPOCH.
#include "packer/build_defaults.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "packer/utf16.h"
#include "payload/entry_name.h"

namespace quorin::packer {

namespace {

constexpr std::int64_t kLastSecondOf9999 = 253402300799;  // 9999-12-31 23:59:59 UTC

}  // namespace

std::u16string default_spec() {
  const std::string_view spec = kDefaultSpec;
  return std::u16string(spec.begin(), spec.end());
}

std::u16string date_time_stamp(std::int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds time{std::chrono::seconds(seconds)};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02u%02u_%02d%02d%02d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

std::u16string content_stamp(std::uint64_t hash) {
  char text[16];
  std::snprintf(text, sizeof text, "%012llx", static_cast<unsigned long long>(hash >> 16));
  return std::u16string(text, text + 12);
}

Result source_date_epoch(std::optional<std::int64_t>& epoch) {
  const char* value = std::getenv("SOURCE_DATE_EPOCH");
  if (value == nullptr || *value == '\0') return ok();
  const std::string text = value;
  if (text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos ||
      std::stoll(text) > kLastSecondOf9999) {
    return fail("SOURCE_DATE_EPOCH '" + text + "': give the build's time as seconds since 1970");
  }
  epoch = std::stoll(text);
  return ok();
}

std::u16string stem_of(std::u16string name) {
  const std::size_t slash = name.find_last_of(u"\\/");
  if (slash != std::u16string::npos) name = name.substr(slash + 1);
  const std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string::npos && dot > 0) name.resize(dot);
  return name;
}

Result check_folder_name(const char* what, const std::u16string& value) {
  const std::wstring wide(value.begin(), value.end());
  const payload::NameProblem problem = payload::entry_name_problem(wide.data(), wide.size());
  const std::string text = utf16_to_utf8(value);
  if (problem == payload::NameProblem::kNone && value.find(u'\\') != std::u16string::npos) {
    return fail(std::string(what) + " '" + text + "' holds a backslash, and the default spec makes one " +
                "folder of it (give --spec to place it otherwise)");
  }
  if (problem != payload::NameProblem::kNone) {
    return fail(std::string(what) + " '" + text + "' cannot be a folder name on Windows (" +
                payload::name_problem_text(problem) + "), and the default spec makes a folder of it (give --spec " +
                "or another value)");
  }
  return ok();
}

std::u16string folder_name_from(std::u16string text) {
  static constexpr std::u16string_view kForbidden = u"<>:\"/\\|?*";
  for (char16_t& unit : text) {
    if (unit < 0x20 || kForbidden.find(unit) != std::u16string_view::npos) unit = u'_';
  }
  if (text.size() > payload::kMaxComponentUnits) {
    text.resize(payload::kMaxComponentUnits);
    if (text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();  // no half of a pair
  }
  while (!text.empty() && (text.back() == u'.' || text.back() == u' ')) text.pop_back();
  if (text.empty()) return text;
  // A device name ("CON", "Aux.Corp"): one more unit after its first part.
  const std::wstring wide(text.begin(), text.end());
  if (payload::entry_name_problem(wide.data(), wide.size()) == payload::NameProblem::kDeviceName) {
    const std::size_t dot = text.find(u'.');
    const std::size_t at = dot == std::u16string::npos ? text.size() : dot;
    text = text.substr(0, at) + u'_' + text.substr(at);
  }
  return text;
}

SubsystemChoice choose_subsystem(const std::string& option, std::uint16_t child, const std::u16string& child_name) {
  constexpr std::uint16_t kGui = kSubsystemWindowsGui, kConsole = kSubsystemWindowsConsole;
  if (option == subsystem_name(kConsole)) return {kConsole, ""};
  if (option == subsystem_name(kGui)) return {kGui, ""};
  if (child == kConsole || child == kGui || child_name.empty()) return {child == kConsole ? kConsole : kGui, ""};
  const std::string name = "'" + utf16_to_utf8(child_name) + "'";
  return {kGui, child == 0 ? "the child " + name + " is no Windows program whose subsystem can be read, so the " +
                                 "launcher keeps the GUI subsystem (give --subsystem console for a console program)"
                           : "the child " + name + " has subsystem " + std::to_string(child) +
                                 ", neither console nor Windows GUI, so the launcher keeps the GUI subsystem " +
                                 "(give --subsystem to choose)"};
}

std::string subsystem_name(std::uint16_t subsystem) {
  if (subsystem == kSubsystemWindowsConsole) return "console";
  if (subsystem == kSubsystemWindowsGui) return "windows";
  return std::to_string(subsystem);
}

}  // namespace quorin::packer
