// The packer's commands. Touches the file system and runs the toolchain.
#include "packer/commands.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "packer/archive_writer.h"
#include "packer/icon.h"
#include "packer/input_tree.h"
#include "packer/inspect.h"
#include "packer/link.h"
#include "packer/resources.h"
#include "packer/utf16.h"

namespace quorin::packer {

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* kDefaultOriginalFilename = u"Brindlex_POCKET_VARIANT_ONEFILE.exe";
constexpr const char16_t* kDefaultInternalName = u"Brindlex_POCKET_VARIANT_ONEFILE";

int report(const std::string& message) {
  std::fprintf(stderr, "quorin-pack: %s\n", message.c_str());
  return kExitFailure;
}

// A scratch folder and a partial output that are removed unless kept.
struct Scratch {
  fs::path work;
  fs::path partial;
  ~Scratch() {
    std::error_code ec;
    if (!work.empty()) fs::remove_all(work, ec);
    if (!partial.empty()) fs::remove(partial, ec);
  }
};

Result make_work_dir(Scratch& scratch) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quorin-pack.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return fail("cannot make a scratch folder in " + pattern);
  scratch.work = pattern;
  return ok();
}

// The partial output lies beside the final one, so the last step is a rename
// on one file system: a failed build leaves nothing at OUT.
fs::path partial_path_for(const fs::path& output) {
  return output.parent_path() / (output.filename().string() + ".partial-" + std::to_string(getpid()));
}

Result finish_output(Scratch& scratch, const fs::path& output) {
  std::error_code ec;
  fs::rename(scratch.partial, output, ec);
  if (ec) return fail("'" + output.string() + "': " + ec.message());
  scratch.partial.clear();
  return ok();
}

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

// X.Y.Z, each a number from 0 to 65535: the version resource holds 16 bits a part.
Result parse_version(const std::u16string& version, unsigned parts[3]) {
  const std::string text = utf16_to_utf8(version);
  const std::string why = "--version '" + text + "': give three numbers of 0 to 65535, as 1.2.3";
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t end = i < 2 ? text.find('.', start) : text.size();
    if (end == std::string::npos) return fail(why);
    const std::string part = text.substr(start, end - start);
    if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos) return fail(why);
    const unsigned long value = std::stoul(part);
    if (value > 65535) return fail(why);
    parts[i] = static_cast<unsigned>(value);
    start = end + 1;
  }
  return ok();
}

Result read_constants(const ParsedArgs& parsed, BakedConstants& constants, unsigned version_parts[3]) {
  const BakedConstants defaults = default_constants();
  if (Result r = text_option(parsed, "--spec", defaults.spec, constants.spec); !r) return r;
  if (Result r = text_option(parsed, "--company", defaults.company, constants.company); !r) return r;
  if (Result r = text_option(parsed, "--product", defaults.product, constants.product); !r) return r;
  if (Result r = text_option(parsed, "--version", defaults.version, constants.version); !r) return r;
  if (constants.spec.empty()) return fail("--spec: the target directory spec is empty");
  // The launcher's buffers: a spec it could never expand is refused here.
  if (constants.spec.size() >= 4096) return fail("--spec: the spec is longer than 4095 UTF-16 units");
  for (const std::u16string* text : {&constants.spec, &constants.company, &constants.product, &constants.version}) {
    if (text->find(u'\0') != std::u16string::npos) return fail("a text option holds a NUL character");
  }
  return parse_version(constants.version, version_parts);
}

Result compress_options(const ParsedArgs& parsed, CompressOptions& options) {
  if (Result r = number_option(parsed, "--level", 1, 22, options.level); !r) return r;
  return number_option(parsed, "--threads", 1, 256, options.threads);
}

Result require(const ParsedArgs& parsed, const char* name) {
  if (parsed.values.count(name) == 0) return fail(std::string("missing ") + name);
  return ok();
}

// Progress on a terminal: bytes, rate and time left, on one line rewritten in place.
ProgressFn progress_display(const ParsedArgs& parsed) {
  if (parsed.values.count("--quiet") != 0 || !isatty(STDERR_FILENO)) return nullptr;
  const auto start = std::chrono::steady_clock::now();
  auto last = start - std::chrono::seconds(1);
  return [start, last](std::uint64_t done, std::uint64_t total) mutable {
    const auto now = std::chrono::steady_clock::now();
    if (done < total && now - last < std::chrono::milliseconds(200)) return;
    last = now;
    const double seconds = std::chrono::duration<double>(now - start).count();
    const double mib = 1024.0 * 1024.0;
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
    std::fprintf(stderr, "\rpacking: %.1f of %.1f MiB, %.1f MiB/s, %ds left   ", done / mib, total / mib,
                 rate / mib, static_cast<int>(left + 0.5));
    if (done >= total) std::fputc('\n', stderr);
    std::fflush(stderr);
  };
}

Result pack_folder(const ParsedArgs& parsed, const fs::path& attached_output, ArchiveStats& stats) {
  if (Result r = require(parsed, "--input"); !r) return r;
  if (Result r = require(parsed, "--child"); !r) return r;
  CompressOptions options;
  if (Result r = compress_options(parsed, options); !r) return r;
  std::vector<InputFile> files;
  if (Result r = collect_input(parsed.values.at("--input"), parsed.values.at("--child"), files); !r) return r;
  return write_attached_data(files, options, attached_output, stats, progress_display(parsed));
}

int run_archive(const ParsedArgs& parsed) {
  if (Result r = require(parsed, "--output"); !r) return report(r.error);
  const fs::path output = parsed.values.at("--output");
  Scratch scratch;
  scratch.partial = partial_path_for(output);
  ArchiveStats stats;
  if (Result r = pack_folder(parsed, scratch.partial, stats); !r) return report(r.error);
  if (Result r = finish_output(scratch, output); !r) return report(r.error);
  return 0;
}

int run_build(const ParsedArgs& parsed, const std::string& invocation) {
  if (Result r = require(parsed, "--output"); !r) return report(r.error);
  const bool from_folder = parsed.values.count("--input") != 0 || parsed.values.count("--child") != 0;
  const bool from_attached = parsed.values.count("--attached") != 0;
  if (from_folder == from_attached) return report("give either --input DIR --child NAME, or --attached FILE");
  if (from_attached) {
    for (const char* option : {"--level", "--threads"}) {
      if (parsed.values.count(option) != 0) return report(std::string(option) + " has no use with --attached");
    }
  }

  LinkInputs inputs;
  inputs.command = "quorin-pack build";
  VersionTexts texts;
  if (Result r = read_constants(parsed, inputs.constants, texts.version_parts); !r) return report(r.error);
  texts.company = inputs.constants.company;
  texts.product = inputs.constants.product;
  texts.version = inputs.constants.version;
  if (Result r = text_option(parsed, "--original-filename", kDefaultOriginalFilename, texts.original_filename); !r) {
    return report(r.error);
  }
  if (Result r = text_option(parsed, "--internal-name", kDefaultInternalName, texts.internal_name); !r) {
    return report(r.error);
  }
  if (Result r = text_option(parsed, "--file-description", kDefaultOriginalFilename, texts.file_description); !r) {
    return report(r.error);
  }
  std::vector<IconImage> icons;
  if (const auto icon = parsed.values.find("--icon"); icon != parsed.values.end()) {
    if (Result r = read_icon_file(icon->second, icons); !r) return report(r.error);
  } else {
    icons = draw_default_icon();
  }
  inputs.resources = resource_file(texts, icons);

  const fs::path output = parsed.values.at("--output");
  Scratch scratch;
  if (Result r = make_work_dir(scratch); !r) return report(r.error);
  if (from_attached) {
    inputs.attached_data = parsed.values.at("--attached");
    std::error_code ec;
    if (!fs::is_regular_file(inputs.attached_data, ec)) {
      return report("--attached '" + inputs.attached_data.string() + "': not a readable file");
    }
  } else {
    inputs.attached_data = scratch.work / "attached-data";
    ArchiveStats stats;
    if (Result r = pack_folder(parsed, inputs.attached_data, stats); !r) return report(r.error);
  }
  scratch.partial = partial_path_for(output);
  if (Result r = link_launcher(inputs, scratch.work, scratch.partial); !r) return report(r.error);
  if (Result r = finish_output(scratch, output); !r) return report(r.error);
  return 0;
}

int run_generate(const ParsedArgs& parsed, const std::string& invocation) {
  if (Result r = require(parsed, "--output"); !r) return report(r.error);
  BakedConstants constants;
  unsigned version_parts[3];
  if (Result r = read_constants(parsed, constants, version_parts); !r) return report(r.error);
  const fs::path output = parsed.values.at("--output");
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out << constants_source(constants, invocation);
  out.close();
  if (!out) return report("'" + output.string() + "': cannot be written");
  return 0;
}

}  // namespace

int run_command(const CommandSpec& command, const ParsedArgs& parsed, const std::string& invocation) {
  const std::string name = command.name;
  if (name == "build") return run_build(parsed, invocation);
  if (name == "archive") return run_archive(parsed);
  if (name == "generate") return run_generate(parsed, invocation);
  if (name == "list") return run_list(parsed);
  if (name == "verify") return run_verify(parsed);
  if (name == "extract") return run_extract(parsed);
  return report("unknown command '" + name + "'");
}

}  // namespace quorin::packer
