// What build and archive pack. Reads the input files.
#include "packer/pack_inputs.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "packer/platform.h"
#include "packer/program_info.h"

namespace quorin::packer {

namespace fs = std::filesystem;

Result collect_program_folder(const ParsedArgs& parsed, std::vector<InputFile>& files) {
  const std::string child = parsed.values.at("--child");
  if (Result r = collect_input(path_from_text(parsed.values.at("--input")), child, files); !r) return r;
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
