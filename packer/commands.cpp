// The packer's commands. Touches the file system.
#include "packer/commands.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "generated/baked_layout.h"
#include "packer/archive_writer.h"
#include "packer/icon.h"
#include "packer/input_tree.h"
#include "packer/inspect.h"
#include "packer/command_parts.h"
#include "packer/pe_writer.h"
#include "packer/platform.h"
#include "packer/program_info.h"
#include "packer/resources.h"
#include "packer/stub_image.h"
#include "packer/utf16.h"

namespace quorin::packer {

namespace fs = std::filesystem;

int report(const std::string& message) {
  end_progress_line();
  std::fprintf(stderr, "quorin-pack: %s\n", message.c_str());
  return kExitFailure;
}

namespace {

// Set while a progress line stands unfinished on the terminal.
bool g_progress_line_open = false;

}  // namespace

// The partial output lies beside the final one, so the last step is a rename
// on one file system: a failed build leaves nothing at OUT.
fs::path partial_path_for(const fs::path& output) {
  return output.parent_path() / (path_text(output.filename()) + ".partial-" + std::to_string(process_id()));
}

Scratch::~Scratch() {
  remove_on_interrupt({});
  if (file != nullptr) std::fclose(file);
  std::error_code ec;
  if (!partial.empty()) fs::remove(partial, ec);
}

Result open_partial(Scratch& scratch, const fs::path& output) {
  scratch.partial = partial_path_for(output);
  scratch.file = create_output_file(scratch.partial);
  if (scratch.file != nullptr) remove_on_interrupt(scratch.partial);
  if (scratch.file == nullptr) return fail("'" + path_text(scratch.partial) + "': " + std::strerror(errno));
  return ok();
}

Result finish_output(Scratch& scratch, const fs::path& output) {
  if (scratch.file != nullptr) {
    const bool closed = std::fclose(scratch.file) == 0;
    scratch.file = nullptr;
    if (!closed) return fail("'" + path_text(scratch.partial) + "': " + std::strerror(errno));
  }
  std::error_code ec;
  fs::rename(scratch.partial, output, ec);
  if (ec) return fail("'" + path_text(output) + "': " + ec.message());
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

namespace {

// The generate command's constants, with the stub's defaults.
Result read_constants(const ParsedArgs& parsed, BakedConstants& constants, unsigned version_parts[3]) {
  const BakedConstants defaults = default_constants();
  if (Result r = text_option(parsed, "--spec", defaults.spec, constants.spec); !r) return r;
  if (Result r = text_option(parsed, "--company", defaults.company, constants.company); !r) return r;
  if (Result r = text_option(parsed, "--product", defaults.product, constants.product); !r) return r;
  if (Result r = text_option(parsed, "--version", defaults.version, constants.version); !r) return r;
  if (constants.spec.empty()) return fail("--spec: the target directory spec is empty");
  // The launcher's buffers and the room the stub keeps for each text.
  if (constants.spec.size() >= generated::kBakedSpecCap) return fail("--spec: the spec is longer than 4095 UTF-16 units");
  if (constants.company.size() >= generated::kBakedTextCap) return fail("--company: the text is longer than 1023 UTF-16 units");
  if (constants.product.size() >= generated::kBakedTextCap) return fail("--product: the text is longer than 1023 UTF-16 units");
  for (const std::u16string* text : {&constants.spec, &constants.company, &constants.product, &constants.version}) {
    if (text->find(u'\0') != std::u16string::npos) return fail("a text option holds a NUL character");
  }
  return parse_version(constants.version, version_parts);
}

}  // namespace

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
  if (ec || !fs::exists(status)) return fail("icon '" + path_text(path) + "': no such file");
  if (!fs::is_regular_file(status)) return fail("icon '" + path_text(path) + "': not a file");
  if (Result r = read_icon_file(path, images); !r) return r;
  static const std::string kPng("\x89PNG\r\n\x1a\n", 8);
  for (std::size_t i = 0; i < images.size(); ++i) {
    const IconImage& image = images[i];
    const std::string which = "icon '" + path_text(path) + "': image " + std::to_string(i + 1);
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
// before any work is done, not at its end.
Result check_output(const fs::path& output) {
  std::error_code ec;
  const fs::path folder = output.has_parent_path() ? output.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, ec)) {
    return fail("--output '" + path_text(output) + "': there is no folder '" + path_text(folder) + "'");
  }
  if (fs::is_directory(output, ec)) return fail("--output '" + path_text(output) + "': a folder");
  return ok();
}

// The packing work of archive and build. The compression options were read
// (and refused as a usage error) by the caller.
Result collect_program_folder(const ParsedArgs& parsed, std::vector<InputFile>& files) {
  const std::string child = parsed.values.at("--child");
  if (Result r = collect_input(path_from_text(parsed.values.at("--input")), child, files); !r) return r;
  // The launcher starts the first entry: it must be a program it can start.
  MappedFile program;
  if (Result r = map_whole_file(files.front().source, program); !r) return r;
  if (Result r = check_x64_program(program.data, program.size); !r) return fail("child '" + child + "': " + r.error);
  return ok();
}

// Copies a ready attached-data file, verbatim.
Result copy_attached(const fs::path& path, std::FILE* out, std::uint64_t& length) {
  std::FILE* in = open_file(path, "rb");
  if (in == nullptr) return fail("--attached '" + path_text(path) + "': " + std::strerror(errno));
  std::vector<char> buffer(std::size_t{1} << 20);
  length = 0;
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
    if (got > 0 && std::fwrite(buffer.data(), 1, got, out) != got) {
      std::fclose(in);
      return fail(std::string("writing the launcher: ") + std::strerror(errno));
    }
    length += got;
    if (got < buffer.size()) break;
  }
  const bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed) return fail("--attached '" + path_text(path) + "': cannot be read");
  return ok();
}

namespace {

int run_archive(const CommandSpec& command, const ParsedArgs& parsed) {
  CompressOptions options;
  if (Result r = compress_options(parsed, options); !r) return usage_error(command, r.error);
  const fs::path output = path_from_text(parsed.values.at("--output"));
  if (Result r = check_output(output); !r) return report(r.error);
  Scratch scratch;
  if (Result r = open_partial(scratch, output); !r) return report(r.error);
  std::vector<InputFile> files;
  if (Result r = collect_program_folder(parsed, files); !r) return report(r.error);
  ArchiveStats stats;
  if (Result r = write_attached_data(files, options, scratch.file, stats, progress_display(parsed, "packing")); !r) {
    return report(r.error);
  }
  if (Result r = finish_output(scratch, output); !r) return report(r.error);
  return 0;
}

int run_generate(const CommandSpec& command, const ParsedArgs& parsed, const std::string& invocation) {
  BakedConstants constants;
  unsigned version_parts[3];
  if (Result r = read_constants(parsed, constants, version_parts); !r) return usage_error(command, r.error);
  const fs::path output = path_from_text(parsed.values.at("--output"));
  if (Result r = check_output(output); !r) return report(r.error);
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out << constants_source(constants, invocation);
  out.close();
  if (!out) return report("'" + path_text(output) + "': cannot be written");
  return 0;
}

}  // namespace

ProgressFn progress_display(const ParsedArgs& parsed, const char* label) {
  if (parsed.values.count("--quiet") != 0 || !progress_terminal()) return nullptr;
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  // Short work shows nothing: the first line comes after 0.3 s.
  auto last = start + std::chrono::milliseconds(300);
  bool shown = false;
  std::uint64_t last_done = 0;
  double smoothed_rate = 0;  // bytes per second, averaged over the updates
  return [label, start, last, shown, last_done, smoothed_rate](std::uint64_t done, std::uint64_t total) mutable {
    const auto now = Clock::now();
    if (done < total && now - last < std::chrono::milliseconds(200)) return;
    if (done >= total && !shown) return;
    // The rate since the last update, smoothed so that the time left follows
    // a rate that falls (or rises) instead of the average since the start.
    const double interval = std::chrono::duration<double>(now - (shown ? last : start)).count();
    if (interval > 0 && done >= last_done) {
      const double recent = static_cast<double>(done - last_done) / interval;
      smoothed_rate = shown ? 0.7 * smoothed_rate + 0.3 * recent : recent;
    }
    last = now;
    last_done = done;
    shown = true;
    const double mib = 1024.0 * 1024.0;
    const double left = smoothed_rate > 0 && total > done ? static_cast<double>(total - done) / smoothed_rate : 0;
    const int percent = total > 0 ? static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(total)) : 100;
    // "\r" and the clearing of the line's rest ("\033[K") rewrite it in place.
    std::fprintf(stderr, "\r%s: %.1f of %.1f MiB (%d%%), %.1f MiB/s, %ds left\033[K", label, done / mib,
                 total / mib, percent, smoothed_rate / mib, static_cast<int>(left + 0.5));
    g_progress_line_open = done < total;
    note_progress_line(g_progress_line_open);
    if (done >= total) std::fputc('\n', stderr);
    std::fflush(stderr);
  };
}

void end_progress_line() {
  if (!g_progress_line_open) return;
  std::fputc('\n', stderr);
  g_progress_line_open = false;
  note_progress_line(false);
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
