// What build and archive pack. Reads the input files.
#include "packer/pack_inputs.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "packer/output_staging.h"
#include "packer/platform.h"
#include "packer/program_info.h"
#include "packer/utf16.h"

namespace quorin::packer {

namespace fs = std::filesystem;

namespace {

std::u16string archive_text(const fs::path& part) { return utf8_to_utf16(path_text(part)).value_or(u""); }

// The archive name that output has when it lies inside input (its folder
// under input's, symbolic links resolved as the system will when it writes),
// or "" when it lies elsewhere.
std::u16string name_inside(const fs::path& input, const fs::path& output) {
  std::error_code ec;
  const fs::path top = fs::weakly_canonical(input, ec);
  if (ec) return u"";
  const fs::path folder = fs::weakly_canonical(output.has_parent_path() ? output.parent_path() : fs::path("."), ec);
  if (ec) return u"";
  const fs::path relative = folder.lexically_relative(top);
  if (relative.empty() || *relative.begin() == "..") return u"";
  std::u16string name;
  for (const fs::path& part : relative) {
    if (part != ".") name += archive_text(part) + u'\\';
  }
  return name + archive_text(output.filename());
}

// Whether name is output_name or a partial file of it in the same folder.
bool is_output_or_partial(const std::u16string& output_name, const std::u16string& name) {
  if (name == output_name) return true;
  const std::size_t cut = output_name.rfind(u'\\') + 1;  // 0 for a name at the top
  if (name.compare(0, cut, output_name, 0, cut) != 0 || name.find(u'\\', cut) != std::u16string::npos) return false;
  return partial_process(utf16_to_utf8(output_name.substr(cut)), utf16_to_utf8(name.substr(cut))) != 0;
}

}  // namespace

Result collect_program_folder(const ParsedArgs& parsed, std::vector<InputFile>& files, std::string& warning) {
  const std::string child = parsed.values.at("--child");
  const fs::path input = path_from_text(parsed.values.at("--input"));
  const fs::path output = path_from_text(parsed.values.at("--output"));
  if (Result r = collect_input(input, child, files); !r) return r;
  warning.clear();
  if (const std::u16string output_name = name_inside(input, output); !output_name.empty()) {
    if (files.front().name == output_name) {
      return fail("--output '" + path_text(output) + "' is the child '" + child +
                  "': writing it would replace the program being packed");
    }
    std::string left_out;
    std::vector<InputFile> kept;
    for (InputFile& file : files) {
      if (is_output_or_partial(output_name, file.name)) {
        left_out += (left_out.empty() ? "'" : ", '") + utf16_to_utf8(file.name) + "'";
      } else {
        kept.push_back(std::move(file));
      }
    }
    files = std::move(kept);
    if (!left_out.empty()) {
      warning = "--output '" + path_text(output) + "' lies inside --input, so what earlier runs wrote there is not " +
                "packed: " + left_out;
    }
  }
  // The launcher starts the first entry: it must be a program it can start.
  MappedFile program;
  if (Result r = map_whole_file(files.front().source, program); !r) return r;
  if (Result r = check_x64_program(program.data, program.size); !r) return fail("child '" + child + "': " + r.error);
  return ok();
}

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

}  // namespace quorin::packer
