// Whether the DLLs the packed files import will be found. Pure code.
#include "packer/import_check.h"

#include <cstring>

#include "packer/little_endian.h"
#include "packer/name_clash.h"
#include "packer/system_dlls.h"
#include "packer/utf16.h"

namespace quorin::packer {

namespace {

constexpr std::uint16_t kFileDll = 0x2000;
// Kernel-mode and firmware images: no user-mode loader resolves their imports.
constexpr std::uint16_t kSubsystemNative = 1;
constexpr std::uint16_t kSubsystemEfiFirst = 10;  // EFI application, boot and runtime drivers, ROM
constexpr std::uint16_t kSubsystemEfiLast = 13;
// At most this many importers are named in a line; the rest are counted.
constexpr std::size_t kNamedImporters = 3;

// "MZ", and "PE\0\0" where e_lfanew points: a PE image, whatever its name.
bool has_pe_signature(const unsigned char* data, std::uint64_t size) {
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return false;
  const std::uint64_t nt = read_le(data + 0x3C, 4);
  return nt <= size && size - nt >= 4 && std::memcmp(data + nt, "PE\0\0", 4) == 0;
}

std::string ascii_lower(std::string text) {
  for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

// The file the loader looks for: a name without an extension gets ".dll";
// a trailing dot says "no extension" and goes.
std::string file_name_of(const std::string& imported) {
  if (!imported.empty() && imported.back() == '.') return imported.substr(0, imported.size() - 1);
  const std::size_t slash = imported.find_last_of("\\/");
  const std::size_t dot = imported.rfind('.');
  return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? imported + ".dll" : imported;
}

// Import names are ANSI text; one that is no UTF-8 is taken as Latin-1,
// which then matches no packed name.
std::u16string folded_text(const std::string& text) {
  if (auto wide = utf8_to_utf16(text)) return folded_name(*wide);
  std::u16string wide;
  for (unsigned char c : text) wide.push_back(c);
  return folded_name(wide);
}

std::u16string folder_of(const std::u16string& name) {
  const std::size_t at = name.rfind(u'\\');
  return at == std::u16string::npos ? u"" : name.substr(0, at);
}

std::u16string leaf_of(const std::u16string& name) {
  const std::size_t at = name.rfind(u'\\');
  return at == std::u16string::npos ? name : name.substr(at + 1);
}

// One line of the findings: a DLL and the packed files that import it.
struct Finding {
  std::string key;  // the DLL's lower-case name, for a refusal with the folder it is missing from
  std::string dll;  // as the first importer spells it
  std::vector<std::string> importers;
  bool all_delayed = true;
  std::string elsewhere;  // a refusal: where else it is packed, or ""
  std::string beside;     // a refusal: the program in whose folder it is looked for
  const char* runtime = nullptr;
};

Finding& finding_for(std::vector<Finding>& findings, const std::string& key) {
  for (Finding& finding : findings) {
    if (finding.key == key) return finding;
  }
  findings.push_back({});
  findings.back().key = key;
  return findings.back();
}

void add_importer(Finding& finding, const std::string& importer, const ImportedDll& dll) {
  if (finding.importers.empty()) finding.dll = dll.name;
  if (finding.importers.empty() || finding.importers.back() != importer) finding.importers.push_back(importer);
  finding.all_delayed = finding.all_delayed && dll.delayed;
}

// "a imports", "a and b import", "a, b and c import", "a, b, c and 2 more
// import"; "delay-load" when every one of them delay-loads it.
std::string importers_text(const Finding& finding) {
  const std::vector<std::string>& names = finding.importers;
  const std::size_t named = names.size() > kNamedImporters ? kNamedImporters : names.size();
  std::string text = names[0];
  for (std::size_t i = 1; i < named; ++i) text += (i + 1 == named && named == names.size() ? " and " : ", ") + names[i];
  if (named < names.size()) text += " and " + std::to_string(names.size() - named) + " more";
  const char* verb = finding.all_delayed ? " delay-load" : " import";
  return text + verb + (names.size() == 1 ? "s " : " ") + finding.dll;
}

std::string refusal_text(const Finding& finding) {
  const std::string dll = file_name_of(finding.dll);
  if (!finding.elsewhere.empty()) {
    return importers_text(finding) + ", which is in the input folder only as " + finding.elsewhere + ", not beside " +
           finding.beside + " where Windows looks for it (move it there, or --allow-missing-dll " + dll +
           " if the program loads it from there itself)";
  }
  return importers_text(finding) +
         ", which is neither in the input folder nor part of Windows (add it to the input, or --allow-missing-dll " +
         dll + " if the user's machines have it)";
}

std::string runtime_text(const Finding& finding) {
  return importers_text(finding) + ", which is not in the input folder: the user's machines need " + finding.runtime +
         " (or add " + file_name_of(finding.dll) + " to the input)";
}

}  // namespace

bool read_packed_imports(const unsigned char* data, std::uint64_t size, PackedImports& entry, std::string& problem) {
  if (!has_pe_signature(data, size)) return false;
  PeImage image;
  if (Result r = read_pe_image(data, size, image); !r) {
    problem = r.error;
    return true;
  }
  if (image.subsystem == kSubsystemNative ||
      (image.subsystem >= kSubsystemEfiFirst && image.subsystem <= kSubsystemEfiLast)) {
    return false;
  }
  entry.program = (image.characteristics & kFileDll) == 0;
  if (Result r = read_pe_imports(data, size, image, entry.dlls); !r) {
    problem = r.error;
    entry.dlls.clear();  // what a damaged table seems to name may be anything
  }
  return true;
}

ImportFindings check_imports(const std::vector<std::u16string>& packed, const std::vector<PackedImports>& importers,
                             const std::vector<std::string>& allowed) {
  ImportFindings out;
  if (packed.empty()) return out;
  std::vector<std::u16string> folded_packed;
  for (const std::u16string& name : packed) folded_packed.push_back(folded_name(name));
  std::vector<std::string> allowed_names;
  for (const std::string& name : allowed) allowed_names.push_back(ascii_lower(file_name_of(name)));
  std::vector<bool> allowed_used(allowed.size());
  std::vector<Finding> refusals, runtimes;
  for (const PackedImports& importer : importers) {
    const std::u16string& program = importer.program ? importer.name : packed.front();
    const std::u16string folder = folded_name(folder_of(program));
    const std::u16string prefix = folder.empty() ? u"" : folder + u"\\";
    const std::string importer_name = utf16_to_utf8(importer.name);
    for (const ImportedDll& dll : importer.dlls) {
      const std::string file = file_name_of(dll.name);
      const std::string lower = ascii_lower(file);
      if (is_windows_dll(lower)) continue;
      const std::u16string folded = folded_text(file);
      bool found = false;
      for (const std::u16string& name : folded_packed) found = found || name == prefix + folded;
      if (found) continue;
      bool let_through = false;
      for (std::size_t i = 0; i < allowed_names.size(); ++i) {
        if (allowed_names[i] == lower) let_through = allowed_used[i] = true;
      }
      if (let_through) continue;
      if (const char* runtime = runtime_of_dll(lower)) {
        Finding& finding = finding_for(runtimes, lower);
        finding.runtime = runtime;
        add_importer(finding, importer_name, dll);
        continue;
      }
      Finding& finding = finding_for(refusals, lower + "\n" + utf16_to_utf8(folder));
      if (finding.importers.empty()) {
        finding.beside = utf16_to_utf8(program);
        for (std::size_t i = 0; i < packed.size() && finding.elsewhere.empty(); ++i) {
          if (leaf_of(folded_packed[i]) == folded) finding.elsewhere = utf16_to_utf8(packed[i]);
        }
      }
      add_importer(finding, importer_name, dll);
    }
  }
  for (const Finding& finding : refusals) out.refusals.push_back(refusal_text(finding));
  for (const Finding& finding : runtimes) out.warnings.push_back(runtime_text(finding));
  for (std::size_t i = 0; i < allowed.size(); ++i) {
    if (!allowed_used[i]) out.warnings.push_back("--allow-missing-dll " + allowed[i] + ": no packed file misses it");
  }
  return out;
}

}  // namespace quorin::packer
