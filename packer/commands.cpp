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
#include "packer/path_room.h"
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

// A user's icon: a readable .ico file whose images the launcher's icon group
// can carry. The directory of an .ico gives each image's size; a PNG image
// carries its own as well, and Windows draws a PNG whose two sizes disagree
// wrongly or not at all, so they must agree.
Result read_launcher_icon(const fs::path& path, std::vector<IconImage>& images) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) return fail("icon '" + path.string() + "': no such file");
  if (!fs::is_regular_file(status)) return fail("icon '" + path.string() + "': not a file");
  if (Result r = read_icon_file(path, images); !r) return r;
  static const std::string kPng("\x89PNG\r\n\x1a\n", 8);
  for (std::size_t i = 0; i < images.size(); ++i) {
    const IconImage& image = images[i];
    const std::string which = "icon '" + path.string() + "': image " + std::to_string(i + 1);
    if (image.data.compare(0, kPng.size(), kPng) != 0) continue;
    // The IHDR chunk comes first: length, "IHDR", width and height big-endian.
    if (image.data.size() < 24 || image.data.compare(12, 4, "IHDR") != 0) return fail(which + ": a damaged PNG");
    auto big_endian = [&image](std::size_t at) {
      std::uint32_t value = 0;
      for (int k = 0; k < 4; ++k) value = (value << 8) | static_cast<unsigned char>(image.data[at + k]);
      return value;
    };
    const std::uint32_t width = big_endian(16), height = big_endian(20);
    if (width != image.width || height != image.height) {
      return fail(which + ": its PNG is " + std::to_string(width) + "x" + std::to_string(height) +
                  " but the directory says " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                  " (icons hold images of 1 to 256 pixels a side)");
    }
  }
  return ok();
}

// The output's folder must exist and the output must not be a folder: found
// before any work is done, not by the linker at its end.
Result check_output(const fs::path& output) {
  std::error_code ec;
  const fs::path folder = output.has_parent_path() ? output.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, ec)) {
    return fail("--output '" + output.string() + "': there is no folder '" + folder.string() + "'");
  }
  if (fs::is_directory(output, ec)) return fail("--output '" + output.string() + "': a folder");
  return ok();
}

// The packing work of archive and build. The compression options were read
// (and refused as a usage error) by the caller.
Result pack_folder(const ParsedArgs& parsed, const CompressOptions& options, const fs::path& attached_output,
                   ArchiveStats& stats) {
  std::vector<InputFile> files;
  if (Result r = collect_input(parsed.values.at("--input"), parsed.values.at("--child"), files); !r) return r;
  return write_attached_data(files, options, attached_output, stats, progress_display(parsed, "packing"));
}

int run_archive(const CommandSpec& command, const ParsedArgs& parsed) {
  CompressOptions options;
  if (Result r = compress_options(parsed, options); !r) return usage_error(command, r.error);
  const fs::path output = parsed.values.at("--output");
  if (Result r = check_output(output); !r) return report(r.error);
  Scratch scratch;
  scratch.partial = partial_path_for(output);
  ArchiveStats stats;
  if (Result r = pack_folder(parsed, options, scratch.partial, stats); !r) return report(r.error);
  if (Result r = finish_output(scratch, output); !r) return report(r.error);
  return 0;
}

// The texts and numbers of build's command line; what is wrong with them is a
// usage error, found before any work is done.
Result read_build_options(const ParsedArgs& parsed, LinkInputs& inputs, VersionTexts& texts,
                          CompressOptions& options) {
  if (Result r = compress_options(parsed, options); !r) return r;
  if (Result r = read_constants(parsed, inputs.constants, texts.version_parts); !r) return r;
  texts.company = inputs.constants.company;
  texts.product = inputs.constants.product;
  texts.version = inputs.constants.version;
  if (Result r = text_option(parsed, "--original-filename", kDefaultOriginalFilename, texts.original_filename); !r) {
    return r;
  }
  if (Result r = text_option(parsed, "--internal-name", kDefaultInternalName, texts.internal_name); !r) return r;
  if (Result r = text_option(parsed, "--file-description", kDefaultOriginalFilename, texts.file_description); !r) {
    return r;
  }
  for (const std::u16string* text : {&texts.original_filename, &texts.internal_name, &texts.file_description}) {
    if (text->find(u'\0') != std::u16string::npos) return fail("a text option holds a NUL character");
  }
  return ok();
}

int run_build(const CommandSpec& command, const ParsedArgs& parsed) {
  const bool from_attached = parsed.values.count("--attached") != 0;
  LinkInputs inputs;
  inputs.command = "quorin-pack build";
  VersionTexts texts;
  CompressOptions options;
  if (Result r = read_build_options(parsed, inputs, texts, options); !r) return usage_error(command, r.error);
  const fs::path output = parsed.values.at("--output");
  if (Result r = check_output(output); !r) return report(r.error);
  if (const auto child = parsed.values.find("--child"); child != parsed.values.end()) {
    const std::string warning = path_room_warning(inputs.constants.spec, child->second);
    if (!warning.empty()) std::fprintf(stderr, "quorin-pack: warning: %s\n", warning.c_str());
  }

  std::vector<IconImage> icons;
  if (const auto icon = parsed.values.find("--icon"); icon != parsed.values.end()) {
    if (Result r = read_launcher_icon(icon->second, icons); !r) return report(r.error);
  } else {
    icons = draw_default_icon();
  }
  inputs.resources = resource_file(texts, icons);

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
    if (Result r = pack_folder(parsed, options, inputs.attached_data, stats); !r) return report(r.error);
  }
  scratch.partial = partial_path_for(output);
  if (Result r = link_launcher(inputs, scratch.work, scratch.partial); !r) return report(r.error);
  if (Result r = finish_output(scratch, output); !r) return report(r.error);
  return 0;
}

int run_generate(const CommandSpec& command, const ParsedArgs& parsed, const std::string& invocation) {
  BakedConstants constants;
  unsigned version_parts[3];
  if (Result r = read_constants(parsed, constants, version_parts); !r) return usage_error(command, r.error);
  const fs::path output = parsed.values.at("--output");
  if (Result r = check_output(output); !r) return report(r.error);
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out << constants_source(constants, invocation);
  out.close();
  if (!out) return report("'" + output.string() + "': cannot be written");
  return 0;
}

}  // namespace

ProgressFn progress_display(const ParsedArgs& parsed, const char* label) {
  if (parsed.values.count("--quiet") != 0 || !isatty(STDERR_FILENO)) return nullptr;
  const auto start = std::chrono::steady_clock::now();
  // Short work shows nothing: the first line comes after 0.3 s.
  auto last = start + std::chrono::milliseconds(300);
  bool shown = false;
  return [label, start, last, shown](std::uint64_t done, std::uint64_t total) mutable {
    const auto now = std::chrono::steady_clock::now();
    if (done < total && now - last < std::chrono::milliseconds(200)) return;
    if (done >= total && !shown) return;
    last = now;
    shown = true;
    const double seconds = std::chrono::duration<double>(now - start).count();
    const double mib = 1024.0 * 1024.0;
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    const double left = rate > 0 && total > done ? static_cast<double>(total - done) / rate : 0;
    const int percent = total > 0 ? static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(total)) : 100;
    // "\r" and the clearing of the line's rest ("\033[K") rewrite it in place.
    std::fprintf(stderr, "\r%s: %.1f of %.1f MiB (%d%%), %.1f MiB/s, %ds left\033[K", label, done / mib,
                 total / mib, percent, rate / mib, static_cast<int>(left + 0.5));
    if (done >= total) std::fputc('\n', stderr);
    std::fflush(stderr);
  };
}

int run_command(const CommandSpec& command, const ParsedArgs& parsed, const std::string& invocation) {
  const std::string name = command.name;
  if (name == "build") return run_build(command, parsed);
  if (name == "archive") return run_archive(command, parsed);
  if (name == "generate") return run_generate(command, parsed, invocation);
  if (name == "list") return run_list(parsed);
  if (name == "verify") return run_verify(parsed);
  if (name == "extract") return run_extract(parsed);
  return report("unknown command '" + name + "'");
}

}  // namespace quorin::packer
