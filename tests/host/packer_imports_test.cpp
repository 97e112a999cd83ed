// What build says about the DLLs the packed programs and DLLs import: a DLL
// neither packed beside the child nor part of Windows refuses the build with
// the importer and the DLL named, a separately installed runtime's DLL is a
// warning, --allow-missing-dll lets one through, and tables that cannot be
// read are a warning. Runs the packer on crafted images.
#include <gtest/gtest.h>

#include <algorithm>

#include "packer/import_check.h"
#include "tests/host/packer_support.h"

namespace {

using namespace quorin::packer_test;
using quorin::test_archive::image_with_imports;
using quorin::test_archive::kImportSectionOffset;

std::string dll(const std::vector<std::string>& imports, const std::vector<std::string>& delayed = {}) {
  return image_with_imports(imports, delayed, 0x2022);
}

// The child's import table with its first name's RVA pointing past its only section.
std::string damaged_child() {
  std::string image = image_with_imports({"zlib1.dll"});
  image[kImportSectionOffset + 8 + 12 + 1] = 0x70;  // RVA 0x70xx
  return image;
}

const std::string kRefusedSqlite =
    "quorin-pack: app.exe imports sqlite3.dll, which is neither in the input folder nor part of Windows (add it to "
    "the input, or --allow-missing-dll sqlite3.dll if the user's machines have it)";

TEST(PackerImports, EveryImportedDllMustBePackedBesideTheChildOrBePartOfWindows) {
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;  // the child first, as app.exe
    std::vector<std::string> options;
    int code;
    std::vector<std::string> lines;  // all of stderr (--quiet)
  } cases[] = {
      {"a missing DLL", {{"app.exe", image_with_imports({"KERNEL32.dll", "sqlite3.dll"})}}, {}, 1, {kRefusedSqlite}},
      {"packed beside the child, in another letter case",
       {{"app.exe", image_with_imports({"SQLite3.DLL"})}, {"sqlite3.dll", dll({"KERNEL32.dll"})}}, {}, 0, {}},
      {"Windows' own DLLs and API sets; a file that only starts as a program does",
       {{"app.exe", image_with_imports({"KERNEL32.dll", "msvcrt.dll", "USER32.dll", "WINSPOOL.DRV", "ws2_32",
                                        "api-ms-win-crt-runtime-l1-1-0.dll", "ext-ms-win-ntuser-window-l1-1-0.dll"},
                                       {"d3d11.dll"})},
        {"readme.txt", "MZ is how it starts"}},
       {}, 0, {}},
      {"a missing delay-loaded DLL",
       {{"app.exe", image_with_imports({"KERNEL32.dll"}, {"sqlite3.dll"})}},
       {}, 1,
       {"quorin-pack: app.exe delay-loads sqlite3.dll, which is neither in the input folder nor part of Windows (add "
        "it to the input, or --allow-missing-dll sqlite3.dll if the user's machines have it)"}},
      {"the Visual C++ runtime",
       {{"app.exe", image_with_imports({"VCRUNTIME140.dll", "KERNEL32.dll"})}},
       {}, 0,
       {"quorin-pack: warning: app.exe imports VCRUNTIME140.dll, which is not in the input folder: the user's "
        "machines need the Microsoft Visual C++ Redistributable (or add VCRUNTIME140.dll to the input)"}},
      {"its debug build comes with no runtime",
       {{"app.exe", image_with_imports({"MSVCP140D.dll"})}},
       {}, 1,
       {"quorin-pack: app.exe imports MSVCP140D.dll, which is neither in the input folder nor part of Windows (add "
        "it to the input, or --allow-missing-dll MSVCP140D.dll if the user's machines have it)"}},
      {"let through, by name without extension and in any case",
       {{"app.exe", image_with_imports({"sqlite3.dll", "python3.dll"})}},
       {"--allow-missing-dll", "SQLITE3", "--allow-missing-dll=python3.dll"}, 0, {}},
      {"let through, but nothing misses it",
       {{"app.exe", image_with_imports({"KERNEL32.dll"})}},
       {"--allow-missing-dll", "sqlite3.dll"}, 0,
       {"quorin-pack: warning: --allow-missing-dll sqlite3.dll: no packed file misses it"}},
      {"a packed DLL, known by its content, that imports a missing DLL; every missing DLL one line",
       {{"app.exe", image_with_imports({"sqlite3.dll", "core.pyd"})},
        {"core.pyd", dll({"zlib1.dll", "sqlite3.dll"})},
        {"lib/extra.bin", dll({"zlib1.dll"})}},
       {}, 1,
       {"quorin-pack: app.exe and core.pyd import sqlite3.dll, which is neither in the input folder nor part of "
        "Windows (add it to the input, or --allow-missing-dll sqlite3.dll if the user's machines have it)",
        "quorin-pack: core.pyd and lib\\extra.bin import zlib1.dll, which is neither in the input folder nor part of "
        "Windows (add it to the input, or --allow-missing-dll zlib1.dll if the user's machines have it)"}},
      {"packed, but not where the loader looks",
       {{"app.exe", image_with_imports({"core.dll"})},
        {"core.dll", dll({"sqlite3.dll"})},
        {"lib/sqlite3.dll", dll({})}},
       {}, 1,
       {"quorin-pack: core.dll imports sqlite3.dll, which is in the input folder only as lib\\sqlite3.dll, not "
        "beside app.exe where Windows looks for it (move it there, or --allow-missing-dll sqlite3.dll if the program "
        "loads it from there itself)"}},
      {"another program finds DLLs in its own folder",
       {{"app.exe", image_with_imports({"KERNEL32.dll"})},
        {"tools/helper.exe", image_with_imports({"helper.dll"})},
        {"tools/helper.dll", dll({})}},
       {}, 0, {}},
      {"an import table that cannot be read",
       {{"app.exe", damaged_child()}},
       {}, 0,
       {"quorin-pack: warning: app.exe: import table: a DLL name lies outside the file's sections; the DLLs it "
        "imports are not checked"}},
  };
  for (const auto& c : cases) {
    Scratch scratch("imports");
    for (const auto& [name, bytes] : c.files) write_file(scratch / "app" / name, bytes);
    std::vector<std::string> args = {"build", "--input", (scratch / "app").string(), "--child", "app.exe",
                                     "--output", (scratch / "out.exe").string(), "--quiet"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const ProgramRun run = run_pack(args);
    EXPECT_EQ(run.code, c.code) << c.what << "\n" << run.err;
    EXPECT_EQ(lines_of(run.err), c.lines) << c.what;
    EXPECT_EQ(fs::exists(scratch / "out.exe"), c.code == 0) << c.what;
  }
}

TEST(PackerImports, AllowMissingDllTakesAFileNameAndNoAttachedData) {
  Scratch scratch("imports_usage");
  write_file(scratch / "app" / "app.exe", image_with_imports({"KERNEL32.dll"}));
  write_file(scratch / "attached", "QZY");
  const struct {
    std::vector<std::string> args;
    std::string first_line;
  } cases[] = {
      {{"--input", (scratch / "app").string(), "--child", "app.exe", "--allow-missing-dll", "lib\\x.dll"},
       "quorin-pack build: --allow-missing-dll 'lib\\x.dll': give the DLL's file name, as programs import it"},
      {{"--attached", (scratch / "attached").string(), "--allow-missing-dll", "x.dll"},
       "quorin-pack build: --allow-missing-dll has no use with --attached"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"build", "--output", (scratch / "out.exe").string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProgramRun run = run_pack(args);
    EXPECT_EQ(run.code, 2) << run.err;
    ASSERT_FALSE(lines_of(run.err).empty());
    EXPECT_EQ(lines_of(run.err)[0], c.first_line);
  }
}

// build takes attached data verbatim: archive, which writes it, refuses alike.
TEST(PackerImports, ArchiveRefusesWhatBuildRefuses) {
  Scratch scratch("imports_archive");
  write_file(scratch / "app" / "app.exe", image_with_imports({"sqlite3.dll"}));
  const std::vector<std::string> archive = {"archive", "--input", (scratch / "app").string(), "--child", "app.exe",
                                            "--output", (scratch / "out.qzy").string()};
  const ProgramRun refused = run_pack(archive);
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(lines_of(refused.err), std::vector<std::string>{kRefusedSqlite});
  EXPECT_FALSE(fs::exists(scratch / "out.qzy"));
  std::vector<std::string> allowed = archive;
  allowed.insert(allowed.end(), {"--allow-missing-dll", "sqlite3.dll"});
  const ProgramRun run = run_pack(allowed);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(fs::exists(scratch / "out.qzy"));
}

// A real mingw program linked against a DLL of its own and the mingw
// runtime's DLLs (which import one more): refused until every one is packed.
// Which runtime DLL imports which differs between mingw releases: each line
// is found by its DLL and its first importer.
TEST(PackerImports, ALinkedProgramIsRefusedUntilItsDllsAreBesideIt) {
  const fs::path linked = fs::path(QUORIN_WINDOWS_PROGRAMS) / "linked";
  Scratch scratch("imports_linked");
  fs::create_directories(scratch / "app");
  fs::copy_file(linked / "linked_child.exe", scratch / "app" / "linked_child.exe");
  const std::vector<std::string> build = {"build", "--input", (scratch / "app").string(), "--child",
                                          "linked_child.exe", "--output", (scratch / "out.exe").string(), "-q"};
  const struct {
    std::vector<fs::path> added;  // beside the child
    std::vector<std::pair<std::string, std::string>> missing;  // first importer, DLL
  } steps[] = {
      {{},
       {{"linked_child.exe", "libgcc_s_seh-1.dll"},
        {"linked_child.exe", "libstdc++-6.dll"},
        {"linked_child.exe", "linked_store.dll"}}},
      {{linked / "linked_store.dll", linked / "runtime" / "libstdc++-6.dll"},
       {{"linked_child.exe", "libgcc_s_seh-1.dll"}, {"libstdc++-6.dll", "libwinpthread-1.dll"}}},
      {{linked / "runtime" / "libgcc_s_seh-1.dll", linked / "runtime" / "libwinpthread-1.dll"}, {}},
  };
  for (const auto& step : steps) {
    for (const fs::path& dll : step.added) fs::copy_file(dll, scratch / "app" / dll.filename());
    const ProgramRun run = run_pack(build);
    EXPECT_EQ(run.code, step.missing.empty() ? 0 : 1) << run.err;
    const std::vector<std::string> lines = lines_of(run.err);
    EXPECT_EQ(lines.size(), step.missing.size()) << run.err;
    for (const auto& [importer, dll] : step.missing) {
      const std::string end = " " + dll +
                              ", which is neither in the input folder nor part of Windows (add it to the input, or "
                              "--allow-missing-dll " + dll + " if the user's machines have it)";
      const auto names = [&](const std::string& line) {
        return line.rfind("quorin-pack: " + importer + " ", 0) == 0 && line.size() > end.size() &&
               line.compare(line.size() - end.size(), end.size(), end) == 0;
      };
      EXPECT_EQ(std::count_if(lines.begin(), lines.end(), names), 1) << dll << "\n" << run.err;
    }
  }
}

// The reader on its own: which files count, and 32-bit images and old
// delay-load tables whose fields are addresses.
TEST(PackerImports, ImagesAreKnownByContentAndTheirKind) {
  using quorin::packer::PackedImports;
  std::string native = image_with_imports({"ntoskrnl.exe"});
  native[0x40 + 24 + 68] = 1;  // a driver: the native subsystem
  std::string pe32 = image_with_imports({"zlib1.dll"}, {}, 0x2102);  // a 32-bit DLL
  pe32[0x40 + 4] = 0x4C;
  pe32[0x40 + 5] = 0x01;
  pe32[0x40 + 24] = 0x0B;
  pe32[0x40 + 25] = 0x01;
  // The PE32 directories and their count begin 16 bytes earlier: move them there.
  pe32[0x40 + 24 + 92] = 16;
  pe32.replace(0x40 + 24 + 96 + 8, 8, pe32.substr(0x40 + 24 + 112 + 8, 8));
  std::string by_address = image_with_imports({}, {"late.dll"});
  by_address[kImportSectionOffset + 8 + 20] = 0;  // attributes: addresses, the image based at 0
  const struct {
    const char* what;
    std::string bytes;
    bool image;
    bool program;
    std::vector<std::string> dlls;
  } cases[] = {
      {"a program", image_with_imports({"a.dll"}, {"b.dll"}), true, true, {"a.dll", "b.dll"}},
      {"a DLL", dll({"a.dll"}), true, false, {"a.dll"}},
      {"a 32-bit DLL", pe32, true, false, {"zlib1.dll"}},
      {"a delay-load table of addresses", by_address, true, true, {"late.dll"}},
      {"a driver", native, false, false, {}},
      {"text", "MZ and more text than a DOS header holds, but no PE header anywhere in it at all", false, false, {}},
  };
  for (const auto& c : cases) {
    PackedImports entry;
    std::string problem;
    const auto* data = reinterpret_cast<const unsigned char*>(c.bytes.data());
    EXPECT_EQ(quorin::packer::read_packed_imports(data, c.bytes.size(), entry, problem), c.image) << c.what;
    EXPECT_EQ(problem, "") << c.what;
    EXPECT_EQ(entry.program, c.program) << c.what;
    std::vector<std::string> names;
    for (const auto& imported : entry.dlls) names.push_back(imported.name);
    EXPECT_EQ(names, c.dlls) << c.what;
  }
}

}  // namespace
