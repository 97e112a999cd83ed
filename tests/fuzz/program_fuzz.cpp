// Fuzzing what build reads of a child program (--child) and of every packed
// program and DLL: the PE headers, the check that it is a Windows x64
// program, its file version from the version resource, and the DLLs it
// imports. The input is the whole file. Every section and directory that
// rva_to_offset places must lie in the file; a program the check takes is
// PE32+ for AMD64; a version is three 16-bit numbers; an imported name is a
// file name of fewer than 260 bytes, and an image whose tables cannot be
// read imports nothing. Pure test code.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "packer/import_check.h"
#include "packer/pe_image.h"
#include "packer/program_info.h"
#include "tests/fuzz/fuzz_units.h"

namespace {

using namespace quorin::packer;

// Programs are larger, but the headers and the resources they point to fit.
constexpr std::size_t kMaxInput = 1 << 20;

// The bytes an RVA leads to, as the readers see them: inside the file.
void check_rva(const PeImage& image, const std::uint8_t* data, std::size_t size, std::uint32_t rva) {
  std::uint64_t offset = 0, available = 0;
  if (!rva_to_offset(image, size, rva, offset, available)) return;
  QUORIN_FUZZ_CHECK(offset < size && available > 0 && available <= size - offset);
  quorin::fuzz::touch_range(data + offset, available);
}

// "X.Y.Z", each part at most 65535.
bool is_version(const std::string& text) {
  int parts = 0;
  for (std::size_t at = 0; at <= text.size(); ++parts) {
    std::size_t end = text.find('.', at);
    if (end == std::string::npos) end = text.size();
    if (end == at || end - at > 5 || text.find_first_not_of("0123456789", at) < end) return false;
    if (std::stoul(text.substr(at, end - at)) > 0xFFFF) return false;
    at = end + 1;
  }
  return parts == 4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  PeImage image;
  const bool whole = static_cast<bool>(read_pe_image(data, size, image));
  if (whole) {
    QUORIN_FUZZ_CHECK(image.section_table_offset + std::uint64_t{kSectionHeaderSize} * image.sections.size() <= size);
    for (const PeSection& section : image.sections) check_rva(image, data, size, section.rva);
    for (const PeDirectory& directory : image.directories) check_rva(image, data, size, directory.rva);
  }
  const Result program = check_x64_program(data, size);
  if (program) {
    QUORIN_FUZZ_CHECK(whole && image.machine == kMachineAmd64 && image.optional_magic == kMagicPe32Plus);
  } else {
    QUORIN_FUZZ_CHECK(!program.error.empty());
  }
  const std::optional<std::string> version = program_file_version(data, size);
  if (version) QUORIN_FUZZ_CHECK(whole && is_version(*version));
  // The string table's texts: never empty, never with a blank at either end.
  for (const char16_t* key : {u"CompanyName", u"ProductName"}) {
    const std::optional<std::u16string> text = program_version_text(data, size, key);
    if (!text) continue;
    QUORIN_FUZZ_CHECK(whole && !text->empty() && text->front() != u' ' && text->back() != u' ');
  }
  program_subsystem(data, size);
  PackedImports imports;
  imports.name = u"app.exe";
  std::string problem;
  if (read_packed_imports(data, size, imports, problem)) {
    QUORIN_FUZZ_CHECK(problem.empty() || imports.dlls.empty());
    for (const ImportedDll& dll : imports.dlls) {
      QUORIN_FUZZ_CHECK(!dll.name.empty() && dll.name.size() < 260 && dll.name.find('\0') == std::string::npos);
    }
    // Every DLL is missing from a folder that holds only the file itself.
    const ImportFindings findings = check_imports({u"app.exe"}, {imports}, {});
    QUORIN_FUZZ_CHECK(findings.refusals.size() + findings.warnings.size() <= imports.dlls.size());
  } else {
    QUORIN_FUZZ_CHECK(problem.empty() && imports.dlls.empty());
  }
  return 0;
}
