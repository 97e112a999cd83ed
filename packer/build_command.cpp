// The build command: an application folder (or ready attached data) into a
// launcher, with the values a user did not give taken from the child and the
// output's name, a spec checked before any work, and one summary line.
// Touches the file system.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "generated/baked_layout.h"
#include "packer/attached_reader.h"
#include "packer/command_parts.h"
#include "packer/commands.h"
#include "packer/inspect.h"
#include "packer/path_room.h"
#include "packer/pe_writer.h"
#include "packer/platform.h"
#include "packer/program_info.h"
#include "packer/resources.h"
#include "packer/spec_check.h"
#include "packer/stub_image.h"
#include "packer/utf16.h"
#include "payload/checksum.h"
#include "payload/entry_name.h"

namespace quorin::packer {

namespace fs = std::filesystem;

namespace {

constexpr char16_t kDefaultVersion[] = u"1.0.0";
// A default spec's last folder: a stamp of the build in the date-and-time
// form, from 2000-01-01 on, over a hundred years of seconds.
constexpr std::int64_t kStampEpoch = 946684800;  // 2000-01-01 00:00:00 UTC
constexpr std::uint64_t kStampSpan = 36524ull * 86400;

bool given(const ParsedArgs& parsed, const char* name) { return parsed.values.count(name) != 0; }

std::string text_of(const std::u16string& text) { return utf16_to_utf8(text); }

// "YYYYMMDD_HHMMSS" for seconds since 1970 in UTC (the civil calendar, so
// every system gives the same text).
std::u16string date_time_stamp(std::int64_t seconds) {
  std::int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Days since 1970-01-01 to a year, month and day (proleptic Gregorian).
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_index = (5 * day_of_year + 2) / 153;
  const std::int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const std::int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
  const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  char text[96];
  std::snprintf(text, sizeof text, "%04" PRId64 "%02" PRId64 "%02" PRId64 "_%02" PRId64 "%02" PRId64 "%02" PRId64,
                year, month, day, rest / 3600, rest / 60 % 60, rest % 60);
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

std::u16string content_stamp(std::uint64_t hash) {
  return date_time_stamp(kStampEpoch + static_cast<std::int64_t>(hash % kStampSpan));
}

// SOURCE_DATE_EPOCH, the reproducible-builds convention: a decimal count of
// seconds since 1970 (UTC).
Result source_date_epoch(std::optional<std::int64_t>& epoch) {
  const char* value = std::getenv("SOURCE_DATE_EPOCH");
  if (value == nullptr || *value == '\0') return ok();
  const std::string text = value;
  // Up to the end of the year 9999.
  if (text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos ||
      std::stoll(text) > 253402300799ll) {
    return fail("SOURCE_DATE_EPOCH '" + text + "': give the build's time as seconds since 1970");
  }
  epoch = std::stoll(text);
  return ok();
}

// The file name's part before its last dot: "bin\MyApp.exe" -> "MyApp".
std::u16string stem_of(std::u16string name) {
  const std::size_t slash = name.find_last_of(u"\\/");
  if (slash != std::u16string::npos) name = name.substr(slash + 1);
  const std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string::npos && dot > 0) name.resize(dot);
  return name;
}

// A value a default spec makes a folder of must be one folder name.
Result folder_name(const char* what, const std::u16string& value) {
  const std::wstring wide(value.begin(), value.end());
  payload::NameProblem problem = payload::entry_name_problem(wide.data(), wide.size());
  if (problem == payload::NameProblem::kNone && value.find(u'\\') != std::u16string::npos) {
    return fail(std::string(what) + " '" + text_of(value) + "' holds a backslash, and the default spec makes one " +
                "folder of it (give --spec to place it otherwise)");
  }
  if (problem != payload::NameProblem::kNone) {
    return fail(std::string(what) + " '" + text_of(value) + "' cannot be a folder name on Windows (" +
                payload::name_problem_text(problem) + "), and the default spec makes a folder of it (give --spec " +
                "or another value)");
  }
  return ok();
}

std::string size_text(std::uint64_t bytes) {
  char text[32];
  if (bytes < (1u << 20)) {
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  }
  return text;
}

std::string json_text(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// What the build made, for the summary line and --json.
struct BuildFacts {
  std::uint64_t exe_bytes = 0;
  std::uint64_t attached_bytes = 0;
  std::uint64_t archive_bytes = 0;
  std::uint64_t files = 0;
  double seconds = 0;
  std::vector<std::string> warnings;
};

void print_summary(const fs::path& output, const BakedConstants& constants, const BuildFacts& facts) {
  const double ratio = facts.attached_bytes > 0 ? static_cast<double>(facts.archive_bytes) / facts.attached_bytes : 0;
  std::fprintf(stderr, "quorin-pack: wrote %s (%s; %s in %" PRIu64 " file%s, ratio %.2f) in %.1f s; unpacks into %s\n",
               path_text(output).c_str(), size_text(facts.exe_bytes).c_str(), size_text(facts.archive_bytes).c_str(),
               facts.files, facts.files == 1 ? "" : "s", ratio, facts.seconds, text_of(constants.spec).c_str());
}

void print_json(const fs::path& output, const BakedConstants& constants, const BuildFacts& facts) {
  char ratio[32], seconds[32];
  std::snprintf(ratio, sizeof ratio, "%.4f",
                facts.attached_bytes > 0 ? static_cast<double>(facts.archive_bytes) / facts.attached_bytes : 0.0);
  std::snprintf(seconds, sizeof seconds, "%.3f", facts.seconds);
  std::string out = "{\n  \"output\": " + json_text(path_text(output)) +
                    ",\n  \"bytes\": " + std::to_string(facts.exe_bytes) +
                    ",\n  \"attached_bytes\": " + std::to_string(facts.attached_bytes) +
                    ",\n  \"archive_bytes\": " + std::to_string(facts.archive_bytes) +
                    ",\n  \"files\": " + std::to_string(facts.files) + ",\n  \"ratio\": " + ratio +
                    ",\n  \"seconds\": " + seconds + ",\n  \"spec\": " + json_text(text_of(constants.spec)) +
                    ",\n  \"company\": " + json_text(text_of(constants.company)) +
                    ",\n  \"product\": " + json_text(text_of(constants.product)) +
                    ",\n  \"version\": " + json_text(text_of(constants.version)) + ",\n  \"warnings\": [";
  for (std::size_t i = 0; i < facts.warnings.size(); ++i) out += (i ? ", " : "") + json_text(facts.warnings[i]);
  out += "]\n}\n";
  std::fputs(out.c_str(), stdout);
}

void warn(BuildFacts& facts, const std::string& warning) {
  facts.warnings.push_back(warning);
  std::fprintf(stderr, "quorin-pack: warning: %s\n", warning.c_str());
}

// The texts given on the command line; what is wrong with them is a usage
// error, found before any work is done.
Result read_given_texts(const ParsedArgs& parsed, BakedConstants& constants, VersionTexts& texts,
                        std::vector<std::string>& spec_warnings) {
  for (const auto& [option, text] : {std::pair{"--spec", &constants.spec}, std::pair{"--company", &constants.company},
                                     std::pair{"--product", &constants.product}, std::pair{"--version", &constants.version},
                                     std::pair{"--original-filename", &texts.original_filename},
                                     std::pair{"--internal-name", &texts.internal_name},
                                     std::pair{"--file-description", &texts.file_description}}) {
    if (Result r = text_option(parsed, option, u"", *text); !r) return r;
    if (text->find(u'\0') != std::u16string::npos) return fail(std::string(option) + ": the text holds a NUL character");
  }
  if (given(parsed, "--spec")) {
    if (constants.spec.empty()) return fail("--spec: the target directory spec is empty");
    if (constants.spec.size() >= generated::kBakedSpecCap) return fail("--spec: the spec is longer than 4095 UTF-16 units");
    const SpecCheck check = check_spec(constants.spec);
    if (!check.error.empty()) return fail(check.error);
    spec_warnings = check.warnings;
  }
  for (const auto& [option, text] : {std::pair{"--company", &constants.company}, std::pair{"--product", &constants.product}}) {
    if (text->size() >= generated::kBakedTextCap) return fail(std::string(option) + ": the text is longer than 1023 UTF-16 units");
  }
  if (given(parsed, "--version")) return parse_version(constants.version, texts.version_parts);
  return ok();
}

}  // namespace

int run_build(const CommandSpec& command, const ParsedArgs& parsed) {
  const auto started = std::chrono::steady_clock::now();
  const bool from_attached = given(parsed, "--attached");
  const bool json = given(parsed, "--json");
  const bool quiet = given(parsed, "--quiet");
  BakedConstants constants;
  VersionTexts texts;
  CompressOptions options;
  std::vector<std::string> spec_warnings;
  if (Result r = compress_options(parsed, options); !r) return usage_error(command, r.error);
  if (Result r = read_given_texts(parsed, constants, texts, spec_warnings); !r) return usage_error(command, r.error);
  std::optional<std::int64_t> epoch;
  if (Result r = source_date_epoch(epoch); !r) return usage_error(command, r.error);
  const fs::path output = path_from_text(parsed.values.at("--output"));
  if (Result r = check_output(output); !r) return report(r.error);

  BuildFacts facts;
  for (const std::string& warning : spec_warnings) warn(facts, warning);
  std::vector<IconImage> icons;
  if (const auto icon = parsed.values.find("--icon"); icon != parsed.values.end()) {
    if (Result r = read_launcher_icon(path_from_text(icon->second), icons); !r) return report(r.error);
  } else {
    icons = draw_default_icon();
  }

  // The inputs, and what the defaults are taken from: the child's name and
  // its own file version.
  std::vector<InputFile> files;
  fs::path attached;
  MappedFile attached_bytes;
  std::u16string child_name;
  std::optional<std::string> child_version;
  std::uint64_t attached_hash = 0;
  if (from_attached) {
    attached = path_from_text(parsed.values.at("--attached"));
    if (Result r = map_whole_file(attached, attached_bytes); !r) return report("--attached " + r.error);
    // Taken verbatim, but every problem verify would report is said.
    AttachedSummary summary;
    if (attached_bytes.size < 3) {
      warn(facts, path_text(attached) + ": " + std::to_string(attached_bytes.size) +
                              " bytes are too few for attached data");
    } else {
      for (const std::string& problem : attached_data_problems(attached_bytes.data, attached_bytes.size, nullptr, &summary)) {
        warn(facts, path_text(attached) + ": " + problem);
      }
    }
      child_name = summary.first_name;
    facts.files = summary.files;
    facts.archive_bytes = summary.archive_bytes;
    const std::uint32_t crc = payload::crc32_update(0, attached_bytes.data, attached_bytes.size);
    attached_hash = content_hash_update(content_hash_update(0, &crc, sizeof crc), &attached_bytes.size,
                                        sizeof attached_bytes.size);
  } else {
    if (Result r = collect_program_folder(parsed, files); !r) return report(r.error);
    child_name = files.front().name;
    MappedFile child;
    if (map_whole_file(files.front().source, child)) child_version = program_file_version(child.data, child.size);
  }

  // The defaults: never the constants of some other launcher, so that two
  // applications never share a folder.
  const std::u16string output_name = utf8_to_utf16(path_text(output.filename())).value_or(u"launcher.exe");
  if (!given(parsed, "--product")) constants.product = child_name.empty() ? stem_of(output_name) : stem_of(child_name);
  if (!given(parsed, "--company")) constants.company = constants.product;
  if (!given(parsed, "--version")) {
    constants.version = child_version ? utf8_to_utf16(*child_version).value_or(kDefaultVersion) : kDefaultVersion;
    if (!parse_version(constants.version, texts.version_parts)) {
      constants.version = kDefaultVersion;
      parse_version(constants.version, texts.version_parts);
    }
  }
  if (!given(parsed, "--original-filename")) texts.original_filename = output_name;
  if (!given(parsed, "--internal-name")) texts.internal_name = stem_of(output_name);
  if (!given(parsed, "--file-description")) texts.file_description = output_name;
  texts.company = constants.company;
  texts.product = constants.product;
  texts.version = constants.version;
  const bool default_spec = !given(parsed, "--spec");
  if (default_spec) {
    // A value from the command line (the company may come from --product)
    // is a usage error; one taken from the child is a failure.
    const bool company_given = given(parsed, "--company") || given(parsed, "--product");
    const struct {
      const char* what;
      const std::u16string& value;
      bool from_option;
    } folders[] = {{"the product", constants.product, given(parsed, "--product")},
                   {"the company", constants.company, company_given},
                   {"the version", constants.version, given(parsed, "--version")}};
    for (const auto& folder : folders) {
      if (Result r = folder_name(folder.what, folder.value); !r) {
        return folder.from_option ? usage_error(command, r.error) : report(r.error);
      }
    }
    // The stamp is known once the archive is: a placeholder of its length until then.
    constants.spec = u"{CACHE_DIR}\\{COMPANY}\\{PRODUCT}\\{VERSION}\\" +
                     (epoch ? date_time_stamp(*epoch) : from_attached ? content_stamp(attached_hash) : content_stamp(0));
  }

  // A child path of 260 units or more starts only by its short form.
  if (!from_attached) {
    const std::string warning = path_room_warning(constants.spec, parsed.values.at("--child"));
    if (!warning.empty()) warn(facts, warning);
  }

  AttachedWriter write_attached;
  if (from_attached) {
    write_attached = [&attached](std::FILE* out, std::uint64_t& length) { return copy_attached(attached, out, length); };
  } else {
    write_attached = [&](std::FILE* out, std::uint64_t& length) {
      ArchiveStats stats;
      if (Result r = write_attached_data(files, options, out, stats, progress_display(parsed, "packing")); !r) return r;
      length = stats.attached_bytes;
      facts.files = stats.files;
      facts.archive_bytes = stats.archive_bytes;
      facts.attached_bytes = stats.attached_bytes;
      if (default_spec && !epoch) {
        constants.spec = u"{CACHE_DIR}\\{COMPANY}\\{PRODUCT}\\{VERSION}\\" + content_stamp(stats.content_hash);
      }
      return ok();
    };
  }
  Scratch scratch;
  if (Result r = open_partial(scratch, output); !r) return report(r.error);
  if (Result r = write_launcher(stub_image(), constants, launcher_resources(texts, icons), write_attached, scratch.file);
      !r) {
    return report(r.error);
  }
  if (Result r = finish_output(scratch, output); !r) return report(r.error);
  std::error_code ec;
  facts.exe_bytes = fs::file_size(output, ec);
  if (from_attached) facts.attached_bytes = attached_bytes.size;
  facts.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (json) print_json(output, constants, facts);
  if (!quiet) print_summary(output, constants, facts);
  return 0;
}

}  // namespace quorin::packer
