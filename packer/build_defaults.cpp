// What a build takes when the user does not say. Pure code, apart from
// reading SOURCE_DATE_EPOCH.
#include "packer/build_defaults.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "packer/utf16.h"
#include "payload/entry_name.h"

namespace quorin::packer {

namespace {

constexpr std::int64_t kStampEpoch = 946684800;  // 2000-01-01 00:00:00 UTC
constexpr std::uint64_t kStampSpan = 36524ull * 86400;
constexpr std::int64_t kLastSecondOf9999 = 253402300799;  // 9999-12-31 23:59:59 UTC

}  // namespace

std::u16string default_spec(const std::u16string& stamp) {
  const std::string_view prefix = kDefaultSpecPrefix;
  return std::u16string(prefix.begin(), prefix.end()) + stamp;
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
  return date_time_stamp(kStampEpoch + static_cast<std::int64_t>(hash % kStampSpan));
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

}  // namespace quorin::packer
