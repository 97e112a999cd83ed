// The imports check over an application folder. Reads the input files.
#include "packer/folder_imports.h"

#include <cstdio>

#include "packer/platform.h"
#include "packer/utf16.h"

namespace quorin::packer {

namespace {

// Whether the file starts as a Windows program does: only those are mapped,
// as mapping reads a file whole and data files may be large.
bool starts_with_mz(const std::filesystem::path& path) {
  std::FILE* in = open_file(path, "rb");
  if (in == nullptr) return false;
  char start[2] = {};
  const bool mz = std::fread(start, 1, 2, in) == 2 && start[0] == 'M' && start[1] == 'Z';
  std::fclose(in);
  return mz;
}

}  // namespace

Result allowed_missing_dlls(const ParsedArgs& parsed, std::vector<std::string>& names) {
  const auto given_names = parsed.repeated.find("--allow-missing-dll");
  if (given_names == parsed.repeated.end()) return ok();
  for (const std::string& name : given_names->second) {
    if (name.empty() || name.find_first_of("\\/") != std::string::npos) {
      return fail("--allow-missing-dll '" + name + "': give the DLL's file name, as programs import it");
    }
  }
  names = given_names->second;
  return ok();
}

ImportFindings check_folder_imports(const std::vector<InputFile>& files, const std::vector<std::string>& allowed) {
  std::vector<std::u16string> names;
  std::vector<PackedImports> importers;
  std::vector<std::string> unreadable;
  for (const InputFile& file : files) {
    names.push_back(file.name);
    MappedFile bytes;
    if (!starts_with_mz(file.source) || !map_whole_file(file.source, bytes)) continue;
    PackedImports entry;
    entry.name = file.name;
    std::string problem;
    if (!read_packed_imports(bytes.data, bytes.size, entry, problem)) continue;
    if (!problem.empty()) {
      unreadable.push_back(utf16_to_utf8(file.name) + ": " + problem + "; the DLLs it imports are not checked");
    }
    importers.push_back(std::move(entry));
  }
  ImportFindings findings = check_imports(names, importers, allowed);
  findings.warnings.insert(findings.warnings.begin(), unreadable.begin(), unreadable.end());
  return findings;
}

}  // namespace quorin::packer
