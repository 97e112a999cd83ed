// The build command: an application folder (or ready attached data) into a
// launcher, with the values a user did not give taken from the child and the
// output's name, a spec checked before any work, and one summary line.
// Touches the file system.
#include "packer/build_command.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "generated/baked_layout.h"
#include "packer/attached_problems.h"
#include "packer/attached_reader.h"
#include "packer/build_defaults.h"
#include "packer/exit_status.h"
#include "packer/generated_source.h"
#include "packer/folder_imports.h"
#include "packer/json.h"
#include "packer/option_values.h"
#include "packer/output_staging.h"
#include "packer/pack_inputs.h"
#include "packer/path_room.h"
#include "packer/pe_image.h"
#include "packer/pe_writer.h"
#include "packer/platform.h"
#include "packer/program_info.h"
#include "packer/progress.h"
#include "packer/resources.h"
#include "packer/spec_check.h"
#include "packer/stub_image.h"
#include "packer/user_icon.h"
#include "packer/utf16.h"
#include "payload/checksum.h"
#include "payload/format.h"

namespace quorin::packer {

namespace fs = std::filesystem;

namespace {

// What the command line asks for.
struct BuildRequest {
  fs::path output;
  bool from_attached = false;
  CompressOptions options;
  BakedConstants constants;  // the given texts, the rest filled in by the defaults
  VersionTexts texts;
  std::vector<std::string> spec_warnings;
  std::optional<std::int64_t> epoch;  // SOURCE_DATE_EPOCH
  std::string subsystem_option;       // --subsystem, empty when not given
  std::uint16_t subsystem = 0;        // the launcher's, once chosen
  std::vector<std::string> allowed_dlls;  // --allow-missing-dll
};

// What is packed, and what the defaults are taken from.
struct BuildInputs {
  std::vector<IconImage> icons;
  std::vector<InputFile> files;  // --input
  fs::path attached;             // --attached
  MappedFile attached_bytes;
  std::uint64_t attached_hash = 0;
  std::u16string child_name;
  std::optional<std::string> child_version;
  std::optional<std::u16string> child_company, child_product;  // from its version information
  std::uint16_t child_subsystem = 0;  // 0: not read
  bool child_warned = false;          // the warnings said it is no program
  std::vector<IndexRecord> records;  // --attached: its index, when its walk gives one
};

// What the build made, for the summary line and --json.
struct BuildFacts {
  std::uint64_t exe_bytes = 0;
  std::uint64_t attached_bytes = 0;
  std::uint64_t archive_bytes = 0;
  std::uint64_t files = 0;
  double seconds = 0;
  std::vector<std::string> warnings;
};

void warn(BuildFacts& facts, const std::string& warning) {
  facts.warnings.push_back(warning);
  std::fprintf(stderr, "quorin-pack: warning: %s\n", warning.c_str());
}

// Explorer and the command prompt start a program by a name that ends in
// .exe, in any letter case; a launcher named otherwise must be renamed first.
std::string output_name_warning(const fs::path& output) {
  std::string name = path_text(output.filename());
  for (char& c : name) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".exe") == 0) return "";
  return "--output '" + path_text(output) + "' does not end in .exe: Windows will not start the launcher by that name";
}

// The options; what is wrong with them is a usage error, found before any
// work is done.
Result read_build_options(const ParsedArgs& parsed, BuildRequest& request) {
  request.from_attached = given(parsed, "--attached");
  if (Result r = compress_options(parsed, request.options); !r) return r;
  BakedConstants& constants = request.constants;
  VersionTexts& texts = request.texts;
  const std::pair<const char*, std::u16string*> options[] = {
      {"--spec", &constants.spec},
      {"--company", &constants.company},
      {"--product", &constants.product},
      {"--version", &constants.version},
      {"--original-filename", &texts.original_filename},
      {"--internal-name", &texts.internal_name},
      {"--file-description", &texts.file_description}};
  for (const auto& [option, text] : options) {
    if (Result r = text_option(parsed, option, u"", *text); !r) return r;
  }
  if (given(parsed, "--spec")) {
    if (Result r = check_baked_text("--spec", constants.spec); !r) return r;
    const SpecCheck check = check_spec(constants.spec);
    if (!check.error.empty()) return fail(check.error);
    request.spec_warnings = check.warnings;
  }
  for (const auto& [option, text] : options) {
    if (std::string(option) == "--spec") continue;  // checked above when given, else made below
    if (Result r = check_baked_text(option, *text); !r) return r;
  }
  if (given(parsed, "--version")) {
    if (Result r = parse_version(constants.version, texts.version_parts); !r) return r;
  }
  if (const auto it = parsed.values.find("--subsystem"); it != parsed.values.end()) {
    if (it->second != subsystem_name(kSubsystemWindowsConsole) && it->second != subsystem_name(kSubsystemWindowsGui)) {
      return fail("--subsystem '" + it->second + "': give console or windows");
    }
    request.subsystem_option = it->second;
  }
  if (Result r = source_date_epoch(request.epoch); !r) return r;
  if (Result r = keep_builds_option(parsed, request.constants.keep_builds); !r) return r;
  if (Result r = progress_window_option(parsed, request.constants.progress_window); !r) return r;
  if (Result r = allowed_missing_dlls(parsed, request.allowed_dlls); !r) return r;
  request.output = path_from_text(parsed.values.at("--output"));
  return ok();
}

// What the defaults take from the child's file: its version information and
// its subsystem.
void read_child_facts(const unsigned char* data, std::uint64_t size, BuildInputs& inputs) {
  inputs.child_version = program_file_version(data, size);
  inputs.child_company = program_version_text(data, size, u"CompanyName");
  inputs.child_product = program_version_text(data, size, u"ProductName");
  inputs.child_subsystem = program_subsystem(data, size);
}

// The attached data's first entry (the child), decoded; of a child over
// 256 MiB only its first 256 MiB, which hold its headers (the subsystem) but
// perhaps not its version information.
std::string first_entry_bytes(const unsigned char* attached, std::uint64_t length) {
  constexpr std::size_t kMostBytes = std::size_t{256} << 20;
  std::string bytes;
  if (length < payload::kSignatureSize) return bytes;
  EntryHooks hooks;
  hooks.data = [&bytes](const EntryRecord&, const unsigned char* data, std::size_t size) {
    bytes.append(reinterpret_cast<const char*>(data), std::min(size, kMostBytes - bytes.size()));
    return bytes.size() < kMostBytes ? ok() : fail("enough of the child");
  };
  hooks.end = [](const EntryRecord&) { return fail("the child is read"); };
  walk_archive(attached, length, hooks, nullptr);
  return bytes;
}

// Ready attached data, taken verbatim, but every problem verify would
// report is said; its summary gives the child's name.
Result read_attached_input(const ParsedArgs& parsed, BuildInputs& inputs, BuildFacts& facts) {
  inputs.attached = path_from_text(parsed.values.at("--attached"));
  if (Result r = map_whole_file(inputs.attached, inputs.attached_bytes); !r) return fail("--attached " + r.error);
  const MappedFile& bytes = inputs.attached_bytes;
  AttachedSummary summary;
  if (bytes.size < 3) {
    warn(facts, path_text(inputs.attached) + ": " + std::to_string(bytes.size) + " bytes are too few for attached data");
  } else {
    for (const std::string& problem : attached_data_problems(bytes.data, bytes.size, nullptr, &summary)) {
      warn(facts, path_text(inputs.attached) + ": " + problem);
    }
  }
  inputs.child_name = summary.first_name;
  inputs.records = std::move(summary.records);
  facts.files = summary.files;
  facts.archive_bytes = summary.archive_bytes;
  facts.attached_bytes = bytes.size;
  const std::string child = first_entry_bytes(bytes.data, bytes.size);
  read_child_facts(reinterpret_cast<const unsigned char*>(child.data()), child.size(), inputs);
  // A first entry that is no program was warned of above: no second warning.
  inputs.child_warned = inputs.child_subsystem == 0;
  const std::uint32_t crc = payload::crc32_update(0, bytes.data, bytes.size);
  inputs.attached_hash = content_hash_update(content_hash_update(0, &crc, sizeof crc), &bytes.size, sizeof bytes.size);
  return ok();
}

// The icon, then the folder or the attached data.
Result read_build_inputs(const ParsedArgs& parsed, const BuildRequest& request, BuildInputs& inputs,
                         BuildFacts& facts) {
  if (const auto icon = parsed.values.find("--icon"); icon != parsed.values.end()) {
    if (Result r = read_launcher_icon(path_from_text(icon->second), inputs.icons); !r) return r;
  } else if (Result r = default_icon(inputs.icons); !r) {
    return r;
  }
  if (request.from_attached) return read_attached_input(parsed, inputs, facts);
  std::string left_out;
  if (Result r = collect_program_folder(parsed, inputs.files, left_out); !r) return r;
  if (!left_out.empty()) warn(facts, left_out);
  inputs.child_name = inputs.files.front().name;
  MappedFile child;
  if (map_whole_file(inputs.files.front().source, child)) read_child_facts(child.data, child.size, inputs);
  return ok();
}

// A company or product from the child's version information: the text for
// the version resource as it is, the baked value made a folder name (a
// warning says when that changed it); false when nothing is left of it.
bool take_child_text(const char* what, const std::optional<std::u16string>& child, std::u16string& resource,
                     std::u16string& baked, std::vector<std::string>& warnings) {
  if (!child) return false;
  std::u16string folder = folder_name_from(*child);
  if (folder.empty() || folder.size() >= generated::kBakedTextCap || !check_folder_name(what, folder)) return false;
  if (folder != *child) {
    warnings.push_back(std::string("the child's ") + what + " '" + utf16_to_utf8(*child) + "' cannot be a folder " +
                       "name; the launcher's is '" + utf16_to_utf8(folder) + "' (give --" + what +
                       " to choose another)");
  }
  resource = child->size() < generated::kBakedTextCap ? *child : folder;
  baked = std::move(folder);
  return true;
}

// Every packed program and DLL must find what it imports on a user's
// machine; each DLL that will not be found is one line, and the build is
// refused.
bool imports_found(const BuildRequest& request, const BuildInputs& inputs, BuildFacts& facts) {
  const ImportFindings findings = check_folder_imports(inputs.files, request.allowed_dlls);
  for (const std::string& warning : findings.warnings) warn(facts, warning);
  for (const std::string& refusal : findings.refusals) report(refusal);
  return findings.refusals.empty();
}

// The values not given: never the constants of some other launcher, so that
// two applications never share a folder. The company and product come from
// the child's version information when it has them.
std::vector<std::string> apply_defaults(const ParsedArgs& parsed, const BuildInputs& inputs, BuildRequest& request) {
  std::vector<std::string> warnings;
  BakedConstants& constants = request.constants;
  VersionTexts& texts = request.texts;
  const std::u16string output_name = utf8_to_utf16(path_text(request.output.filename())).value_or(u"launcher.exe");
  std::u16string product_text, company_text;  // for the version resource
  if (!given(parsed, "--product") &&
      !take_child_text("product", inputs.child_product, product_text, constants.product, warnings)) {
    constants.product = inputs.child_name.empty() ? stem_of(output_name) : stem_of(inputs.child_name);
    product_text = constants.product;
  }
  if (!given(parsed, "--company") &&
      !take_child_text("company", inputs.child_company, company_text, constants.company, warnings)) {
    constants.company = constants.product;
    company_text = given(parsed, "--product") ? constants.product : product_text;
  }
  if (!given(parsed, "--version")) {
    const auto child_version = inputs.child_version ? utf8_to_utf16(*inputs.child_version) : std::nullopt;
    constants.version = child_version.value_or(kDefaultVersion);
    if (!parse_version(constants.version, texts.version_parts)) {
      constants.version = kDefaultVersion;
      parse_version(constants.version, texts.version_parts);
    }
  }
  if (!given(parsed, "--original-filename")) texts.original_filename = output_name;
  if (!given(parsed, "--internal-name")) texts.internal_name = stem_of(output_name);
  if (!given(parsed, "--file-description")) texts.file_description = output_name;
  texts.company = given(parsed, "--company") ? constants.company : company_text;
  texts.product = given(parsed, "--product") ? constants.product : product_text;
  texts.version = constants.version;
  return warnings;
}

// The default spec makes a folder of the company, product and version. A
// value from the command line (the company may come from --product) is a
// usage error (usage set); one taken from the child is a failure.
Result check_default_folders(const ParsedArgs& parsed, const BakedConstants& constants, bool& usage) {
  const struct {
    const char* what;
    const std::u16string& value;
    bool from_option;
  } folders[] = {{"the product", constants.product, given(parsed, "--product")},
                 {"the company", constants.company, given(parsed, "--company") || given(parsed, "--product")},
                 {"the version", constants.version, given(parsed, "--version")}};
  for (const auto& folder : folders) {
    if (Result r = check_folder_name(folder.what, folder.value); !r) {
      usage = folder.from_option;
      return r;
    }
  }
  return ok();
}

// The build's stamp: SOURCE_DATE_EPOCH, else the content's. For a folder it
// is known once the archive is: a stamp of its length until then.
std::u16string first_stamp(const BuildRequest& request, const BuildInputs& inputs) {
  if (request.epoch) return date_time_stamp(*request.epoch);
  return content_stamp(request.from_attached ? inputs.attached_hash : 0);
}

// The longest entry name, the first of its length; "" when the attached data
// gave no names.
std::u16string longest_name(const BuildInputs& inputs) {
  std::u16string longest;
  for (const InputFile& file : inputs.files) {
    if (file.name.size() > longest.size()) longest = file.name;
  }
  for (const IndexRecord& record : inputs.records) {
    if (record.name.size() > longest.size()) longest = record.name;
  }
  return longest;
}

// Writes the launcher under OUT.partial-PID and renames it over OUT; facts
// get what was written.
Result write_build(const ParsedArgs& parsed, const BuildInputs& inputs, BuildRequest& request, BuildFacts& facts) {
  const bool stamp_from_content = !request.epoch;
  AttachedWriter write_attached = [&](std::FILE* out, std::uint64_t& length, std::string& index) {
    if (request.from_attached) {
      if (Result r = copy_attached(inputs.attached, out, length); !r) return r;
      if (!inputs.records.empty()) index = index_bytes(inputs.records, length);
      return ok();
    }
    ArchiveStats stats;
    if (Result r = write_attached_data(inputs.files, request.options, out, stats, progress_display(parsed, "packing"));
        !r) {
      return r;
    }
    length = stats.attached_bytes;
    index = index_bytes(stats.records, length);
    facts.files = stats.files;
    facts.archive_bytes = stats.archive_bytes;
    facts.attached_bytes = stats.attached_bytes;
    if (stamp_from_content) request.constants.build = content_stamp(stats.content_hash);
    return ok();
  };
  StagedFile staged;
  if (Result r = open_partial(staged, request.output, FileKind::kProgram); !r) return r;
  const std::vector<Resource> resources = launcher_resources(request.texts, inputs.icons);
  if (Result r = write_launcher(stub_image(), request.constants, resources, write_attached, staged.file,
                                request.subsystem);
      !r) {
    return r;
  }
  if (Result r = staged_size(staged, facts.exe_bytes); !r) return r;
  return finish_staged(staged, request.output);
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

double ratio_of(const BuildFacts& facts) {
  return facts.attached_bytes > 0 ? static_cast<double>(facts.archive_bytes) / facts.attached_bytes : 0;
}

// The spec as the launcher will expand it, but for the user's folders.
std::string shown_spec(const BakedConstants& constants) {
  return utf16_to_utf8(
      spec_as_shown(constants.spec, constants.company, constants.product, constants.version, constants.build));
}

void print_summary(const fs::path& output, const BakedConstants& constants, const BuildFacts& facts) {
  std::fprintf(stderr, "quorin-pack: wrote %s (%s; %s in %" PRIu64 " file%s, ratio %.2f) in %.1f s; unpacks into %s\n",
               path_text(output).c_str(), size_text(facts.exe_bytes).c_str(), size_text(facts.archive_bytes).c_str(),
               facts.files, facts.files == 1 ? "" : "s", ratio_of(facts), facts.seconds,
               shown_spec(constants).c_str());
}

void print_json(const fs::path& output, const BakedConstants& constants, std::uint16_t subsystem,
                const BuildFacts& facts) {
  std::vector<std::string> warnings;
  for (const std::string& warning : facts.warnings) warnings.push_back(json_string(warning));
  const std::string out = json_document({{"output", json_string(path_text(output))},
                                         {"bytes", std::to_string(facts.exe_bytes)},
                                         {"attached_bytes", std::to_string(facts.attached_bytes)},
                                         {"archive_bytes", std::to_string(facts.archive_bytes)},
                                         {"files", std::to_string(facts.files)},
                                         {"ratio", json_fixed(ratio_of(facts), 4)},
                                         {"seconds", json_fixed(facts.seconds, 3)},
                                         {"spec", json_string(shown_spec(constants))},
                                         {"company", json_string(utf16_to_utf8(constants.company))},
                                         {"product", json_string(utf16_to_utf8(constants.product))},
                                         {"version", json_string(utf16_to_utf8(constants.version))},
                                         {"subsystem", json_string(subsystem_name(subsystem))},
                                         {"warnings", json_line_array(warnings)}});
  std::fputs(out.c_str(), stdout);
}

}  // namespace

int run_build(const CommandSpec& command, const ParsedArgs& parsed) {
  const auto started = std::chrono::steady_clock::now();
  // 1. The options, then the output's place.
  BuildRequest request;
  if (Result r = read_build_options(parsed, request); !r) return usage_error(command, r.error);
  if (Result r = check_output(request.output); !r) return report(r.error);
  BuildFacts facts;
  if (const std::string warning = output_name_warning(request.output); !warning.empty()) warn(facts, warning);
  for (const std::string& warning : request.spec_warnings) warn(facts, warning);
  // 2. The inputs, and whether what they import will be found.
  BuildInputs inputs;
  if (Result r = read_build_inputs(parsed, request, inputs, facts); !r) return report(r.error);
  if (!request.from_attached && !imports_found(request, inputs, facts)) return kExitFailure;
  // 3. The values not given.
  for (const std::string& warning : apply_defaults(parsed, inputs, request)) warn(facts, warning);
  const SubsystemChoice subsystem = choose_subsystem(request.subsystem_option, inputs.child_subsystem,
                                                     inputs.child_warned ? u"" : inputs.child_name);
  request.subsystem = subsystem.subsystem;
  if (!subsystem.warning.empty()) warn(facts, subsystem.warning);
  // 4. The spec, when not given, and the room it leaves for the child's path
  // and every entry's.
  if (!given(parsed, "--spec")) {
    bool usage = false;
    if (Result r = check_default_folders(parsed, request.constants, usage); !r) {
      return usage ? usage_error(command, r.error) : report(r.error);
    }
    request.constants.spec = default_spec();
  }
  request.constants.build = first_stamp(request, inputs);
  if (!request.from_attached) {
    const std::string warning = path_room_warning(request.constants.spec, parsed.values.at("--child"));
    if (!warning.empty()) warn(facts, warning);
  }
  if (const std::string warning = entry_room_warning(request.constants, longest_name(inputs)); !warning.empty()) {
    warn(facts, warning);
  }
  // 5. The launcher.
  if (Result r = write_build(parsed, inputs, request, facts); !r) return report(r.error);
  // 6. What was built.
  facts.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // The JSON carries what the summary line says, so a pipeline's stderr holds
  // only warnings and errors.
  if (given(parsed, "--json")) {
    print_json(request.output, request.constants, request.subsystem, facts);
  } else if (!given(parsed, "--quiet")) {
    print_summary(request.output, request.constants, facts);
  }
  return 0;
}

}  // namespace quorin::packer
