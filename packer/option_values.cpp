// The values of the packer's options. Pure code.
#include "packer/option_values.h"

#include <cstring>

#include "generated/baked_layout.h"
#include "packer/utf16.h"

namespace quorin::packer {

Result text_option(const ParsedArgs& parsed, const char* name, std::u16string fallback, std::u16string& out) {
  const auto it = parsed.values.find(name);
  if (it == parsed.values.end()) {
    out = std::move(fallback);
    return ok();
  }
  const auto wide = utf8_to_utf16(it->second);
  if (!wide) return fail(std::string(name) + ": the text is not valid UTF-8");
  out = *wide;
  return ok();
}

namespace {

Result number_option(const ParsedArgs& parsed, const char* name, int low, int high, int& out) {
  const auto it = parsed.values.find(name);
  if (it == parsed.values.end()) return ok();
  const std::string& text = it->second;
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(text) < low || std::stoi(text) > high) {
    return fail(std::string(name) + " '" + text + "': give a whole number from " + std::to_string(low) + " to " +
                std::to_string(high));
  }
  out = std::stoi(text);
  return ok();
}

}  // namespace

Result parse_version(const std::u16string& version, unsigned parts[4]) {
  const std::string text = utf16_to_utf8(version);
  const std::string why = "--version '" + text + "': give one to four numbers of 0 to 65535, as 1.2.3.4";
  unsigned values[4] = {0, 0, 0, 0};
  std::size_t start = 0;
  for (int i = 0;; ++i) {
    if (i == 4) return fail(why);
    std::size_t end = text.find('.', start);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(start, end - start);
    if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos) return fail(why);
    const unsigned long value = std::stoul(part);
    if (value > 65535) return fail(why);
    values[i] = static_cast<unsigned>(value);
    if (end == text.size()) break;
    start = end + 1;
  }
  for (int i = 0; i < 4; ++i) parts[i] = values[i];
  return ok();
}

Result compress_options(const ParsedArgs& parsed, CompressOptions& options) {
  if (Result r = number_option(parsed, "--level", kLowestLevel, kHighestLevel, options.level); !r) return r;
  return number_option(parsed, "--threads", 1, kMostThreads, options.threads);
}

Result keep_builds_option(const ParsedArgs& parsed, std::uint32_t& keep) {
  const auto it = parsed.values.find("--keep-builds");
  if (it == parsed.values.end()) return ok();
  if (it->second == "all") {
    keep = generated::kKeepEveryBuild;
    return ok();
  }
  int count = 0;
  if (Result r = number_option(parsed, "--keep-builds", 0, kMostKeptBuilds, count); !r) {
    return fail(r.error + ", or all");
  }
  keep = static_cast<std::uint32_t>(count);
  return ok();
}

Result progress_window_option(const ParsedArgs& parsed, std::uint32_t& shown) {
  const auto it = parsed.values.find("--progress-window");
  if (it == parsed.values.end()) return ok();
  if (it->second != "auto" && it->second != "never") {
    return fail("--progress-window '" + it->second + "': give auto or never");
  }
  shown = it->second == "auto" ? 1 : 0;
  return ok();
}

Result check_baked_text(const char* option, const std::u16string& text) {
  const std::string name = option;
  if (text.find(u'\0') != std::u16string::npos) return fail(name + ": the text holds a NUL character");
  if (name == "--spec") {
    if (text.empty()) return fail("--spec: the target directory spec is empty");
    if (text.size() >= generated::kBakedSpecCap) {
      return fail("--spec: the spec is longer than " + std::to_string(generated::kBakedSpecCap - 1) + " UTF-16 units");
    }
  }
  if ((name == "--company" || name == "--product") && text.size() >= generated::kBakedTextCap) {
    return fail(name + ": the text is longer than " + std::to_string(generated::kBakedTextCap - 1) + " UTF-16 units");
  }
  return ok();
}

}  // namespace quorin::packer
