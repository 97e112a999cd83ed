// The target directory spec expander, called in-process: the reading of the
// spec, every placeholder, trimming, the remembered values, capacities and the
// hard stops (in death tests). Talks to the system (environment, folders,
// module path); also starts copies of itself to see PROGRAM at other paths.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "generated/baked.h"
#include "launcher/wide_text.h"
#include "template/expand.h"
#include "tests/windows/support/process.h"

namespace {

using quorin::expansion::expand_spec;
using namespace quorin::testing;

constexpr std::size_t kPathCap = quorin::launcher::kPathCap;
constexpr wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr int kHardStop = 3;

struct Expansion {
  bool ok;
  std::wstring text;
};

// Expands into a buffer of exactly capacity units followed by guard units,
// and checks that nothing was written past the capacity.
Expansion expand(const std::wstring& spec, std::size_t capacity = kPathCap) {
  constexpr std::size_t kGuard = 16;
  constexpr wchar_t kGuardUnit = 0xFFFF;
  std::vector<wchar_t> buffer(capacity + kGuard, kGuardUnit);
  const bool ok = expand_spec(buffer.data(), spec.c_str(), capacity);
  for (std::size_t i = capacity; i < buffer.size(); ++i) {
    EXPECT_EQ(buffer[i], kGuardUnit) << "written past the capacity at " << i;
  }
  if (capacity == 0) return {ok, L""};
  std::size_t len = 0;
  while (len < capacity && buffer[len] != L'\0') ++len;
  EXPECT_LT(len, capacity) << "output not terminated";
  return {ok, std::wstring(buffer.data(), len)};
}

void set_env(const wchar_t* name, const std::wstring& value) { SetEnvironmentVariableW(name, value.c_str()); }
void unset_env(const wchar_t* name) { SetEnvironmentVariableW(name, nullptr); }
std::wstring get_env(const wchar_t* name) {
  static wchar_t value[32768];
  const DWORD n = GetEnvironmentVariableW(name, value, 32768);
  return n > 0 && n < 32768 ? std::wstring(value) : L"<unset>";
}

void forget_run_values() {
  unset_env(L"QUORIN_ONEFILE_RANDOM");
  unset_env(L"QUORIN_ONEFILE_TIME_US");
  unset_env(L"QUORIN_ONEFILE_START");
  unset_env(L"QUORIN_ONEFILE_PARENT");
}

std::wstring module_path() {
  wchar_t path[kPathCap];
  const DWORD n = GetModuleFileNameW(nullptr, path, kPathCap);
  return std::wstring(path, n);
}

std::wstring without_last_component(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

std::wstring raw_temp_path() {
  wchar_t path[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, path);
  return std::wstring(path, n);
}

std::wstring profile_folder() {
  wchar_t folder[MAX_PATH];
  if (SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, folder) != S_OK) return L"";
  return folder;
}

bool all_digits(const std::wstring& text) {
  return !text.empty() && text.find_first_not_of(L"0123456789") == std::wstring::npos;
}

// Started again as a copy of itself under another name (see
// ProgramPlaceholders.AtOtherPaths), this program prints what the three
// program placeholders give there and ends before any test runs.
constexpr wchar_t kPrintProgramVariable[] = L"QUORIN_TEMPLATE_PRINT_PROGRAM";
[[maybe_unused]] const bool g_print_program_mode = [] {
  if (GetEnvironmentVariableW(kPrintProgramVariable, nullptr, 0) == 0) return false;
  static wchar_t output[kPathCap];
  for (const wchar_t* name : {L"PROGRAM", L"PROGRAM_BASE", L"PROGRAM_DIR"}) {
    const bool ok = expand_spec(output, (L"{" + std::wstring(name) + L"}").c_str(), kPathCap);
    std::printf("%s=%s\n", narrow(name).c_str(), ok ? narrow(output).c_str() : "<false>");
  }
  std::fflush(stdout);
  ExitProcess(0);
}();

// --- Reading the spec ---------------------------------------------------------

struct ReadCase {
  const wchar_t* spec;
  bool ok;
  const wchar_t* expected;
};

// The reading itself is tested on the host (tests/host/template_text_test.cpp);
// here, that the expander follows it with the baked constants.
TEST(Reading, TheExpanderFollowsTheSpecReader) {
  const ReadCase cases[] = {
      {L"", true, L""},
      {L"{COMPANY}\\{PRODUCT}\\{vErSiOn}", true, L"Quadrel\\Brindlex Pocket Variant\\3.1.95"},
      {L"ab{VERSION", true, L"ab"},
      {L"x{NOPE{COMPANY}y", true, L"xQuadrely"},
      {L"}{VERSION}}", true, L"}3.1.95}"},
      {L"x\\{NOPE}\\y", false, L"x\\"},
      {L"x{}y", false, L"x"},
      {L"{VERS\u0130ON}", false, L""},
  };
  for (const ReadCase& c : cases) {
    const Expansion result = expand(c.spec);
    EXPECT_EQ(result.ok, c.ok) << narrow(c.spec);
    EXPECT_EQ(result.text, c.expected) << narrow(c.spec);
  }
}

TEST(Reading, LongNamesFailWithoutOverrunWhenLookedUpAndAreDroppedOtherwise) {
  for (const std::size_t name_len : {std::size_t{1022}, std::size_t{1023}, std::size_t{1024}, std::size_t{5000}}) {
    const std::wstring name(name_len, L'A');
    EXPECT_EQ(expand(L"x{" + name + L"}y").ok, false) << name_len;
    EXPECT_EQ(expand(L"x{" + name + L"}y").text, L"x") << name_len;
    // Restarted by a later "{", or left open at the end: dropped.
    const Expansion restarted = expand(L"x{" + name + L"{VERSION}y");
    EXPECT_TRUE(restarted.ok) << name_len;
    EXPECT_EQ(restarted.text, L"x3.1.95y") << name_len;
    const Expansion open = expand(L"x{" + name);
    EXPECT_TRUE(open.ok) << name_len;
    EXPECT_EQ(open.text, L"x") << name_len;
  }
  // A placeholder name with a long prefix before a restart still matches.
  const Expansion long_then_real = expand(L"{" + std::wstring(1023, L'z') + L"{company}");
  EXPECT_EQ(long_then_real.text, L"Quadrel");
}

// --- Capacity -------------------------------------------------------------------

TEST(Capacity, LiteralsFitUpToCapacityMinusOne) {
  for (const std::size_t capacity : {std::size_t{1}, std::size_t{2}, std::size_t{7}, kPathCap}) {
    const Expansion fits = expand(std::wstring(capacity - 1, L'a'), capacity);
    EXPECT_TRUE(fits.ok) << capacity;
    EXPECT_EQ(fits.text.size(), capacity - 1) << capacity;
    const Expansion over = expand(std::wstring(capacity, L'a'), capacity);
    EXPECT_FALSE(over.ok) << capacity;
    EXPECT_EQ(over.text, std::wstring(capacity - 1, L'a')) << capacity;
  }
  EXPECT_FALSE(expand(L"", 0).ok);
  EXPECT_FALSE(expand(L"a", 0).ok);
}

TEST(Capacity, ValueWithRoomForItsTerminatorFits) {
  EXPECT_EQ(expand(L"{COMPANY}", 8).text, L"Quadrel");
  EXPECT_EQ(expand(L"x{VERSION}", 8).text, L"x3.1.95");
  // The literal after the value is the one that does not fit: false, not a stop.
  const Expansion literal_after = expand(L"x{VERSION}y", 8);
  EXPECT_FALSE(literal_after.ok);
  EXPECT_EQ(literal_after.text, L"x3.1.95");
  set_env(L"QUORIN_ONEFILE_RANDOM", L"abc");
  EXPECT_EQ(expand(L"{RANDOM}", 4).text, L"abc");
  set_env(L"QUORIN_ONEFILE_PARENT", L"4711");
  EXPECT_EQ(expand(L"{PID}", 5).text, L"4711");
  forget_run_values();
}

TEST(CapacityDeathTest, ConstantWithNoRoomForTheTerminatorIsAHardStop) {
  EXPECT_EXIT(expand(L"{COMPANY}", 7), ::testing::ExitedWithCode(kHardStop), "");
  EXPECT_EXIT(expand(L"x{VERSION}", 7), ::testing::ExitedWithCode(kHardStop), "");
}

TEST(CapacityDeathTest, RememberedValueWithNoRoomIsAHardStop) {
  EXPECT_EXIT(
      {
        set_env(L"QUORIN_ONEFILE_RANDOM", L"abc");
        expand(L"{RANDOM}", 3);
      },
      ::testing::ExitedWithCode(kHardStop), "");
}

TEST(CapacityDeathTest, FolderThatDoesNotFitIsAHardStop) {
  EXPECT_EXIT(expand(L"{HOME}", 4), ::testing::ExitedWithCode(kHardStop), "");
}

// The system writes TEMP and PROGRAM itself within the room left; a text that
// did not fit is false, never a path built from a cut text.
TEST(Capacity, TempThatDoesNotFitIsFalseNotACutPath) {
  const std::wstring raw = raw_temp_path();
  ASSERT_FALSE(raw.empty());
  const std::size_t n = raw.size();  // with its trailing backslash
  EXPECT_EQ(expand(L"{TEMP}", n + 1).text, temp_dir());
  EXPECT_TRUE(expand(L"{TEMP}", n + 1).ok);
  const Expansion short_by_one = expand(L"{TEMP}", n);
  EXPECT_FALSE(short_by_one.ok);
  EXPECT_EQ(short_by_one.text, L"");
  EXPECT_TRUE(expand(L"ab{TEMP}", n + 3).ok);
  const Expansion after_literal = expand(L"ab{TEMP}", n + 2);
  EXPECT_FALSE(after_literal.ok);
  EXPECT_EQ(after_literal.text, L"ab");
}

TEST(Capacity, ModulePathThatDoesNotFitIsFalseNotACutPath) {
  const std::wstring path = module_path();
  const std::size_t m = path.size();
  for (const wchar_t* spec : {L"{PROGRAM}", L"{PROGRAM_BASE}", L"{PROGRAM_DIR}"}) {
    EXPECT_TRUE(expand(spec, m + 1).ok) << narrow(spec);
    const Expansion short_by_one = expand(spec, m);
    EXPECT_FALSE(short_by_one.ok) << narrow(spec);
    EXPECT_EQ(short_by_one.text, L"") << narrow(spec);
    const Expansion after_literal = expand(L"ab" + std::wstring(spec), m + 2);
    EXPECT_FALSE(after_literal.ok) << narrow(spec);
    EXPECT_EQ(after_literal.text, L"ab") << narrow(spec);
  }
  EXPECT_EQ(expand(L"{PROGRAM}", m + 1).text, path);
}

// --- Folders and trimming -------------------------------------------------------

TEST(Folders, TempIsTrimmedOfItsTrailingBackslash) {
  ASSERT_EQ(raw_temp_path().back(), L'\\');
  EXPECT_EQ(expand(L"{TEMP}").text, temp_dir());
  EXPECT_EQ(expand(L"{temp}").text, temp_dir());
  EXPECT_EQ(expand(L"{Temp}").text, temp_dir());
  // Exactly one backslash before the x.
  EXPECT_EQ(expand(L"{TEMP}\\x").text, temp_dir() + L"\\x");
  // Literal backslashes after the value are kept: only the value's end is trimmed.
  EXPECT_EQ(expand(L"{TEMP}\\\\x\\").text, temp_dir() + L"\\\\x\\");
  EXPECT_EQ(expand(L"{AB{TEMP}").text, temp_dir());
}

// Sets TMP, which GetTempPathW reads first, for the life of the object.
struct ScopedTmp {
  std::wstring saved = get_env(L"TMP");
  explicit ScopedTmp(const wchar_t* value) { set_env(L"TMP", value); }
  ~ScopedTmp() {
    if (saved == L"<unset>") {
      unset_env(L"TMP");
    } else {
      set_env(L"TMP", saved);
    }
  }
};

TEST(Folders, TempAtADriveRootLeavesTheDriveAlone) {
  const ScopedTmp tmp(L"C:\\");
  const Expansion root = expand(L"{TEMP}");
  ASSERT_TRUE(root.ok);
  EXPECT_EQ(root.text, L"C:");
  EXPECT_EQ(expand(L"{TEMP}\\x").text, L"C:\\x");
}

// The trimming looks at the end of the whole output and removes every
// trailing backslash, but never looks before the output's start.
TEST(Folders, TrimmingOfATempMadeOfBackslashesStopsAtTheStart) {
  const ScopedTmp tmp(L"\\\\");
  const std::wstring raw = raw_temp_path();
  if (raw.empty() || raw.find_first_not_of(L'\\') != std::wstring::npos) {
    GTEST_SKIP() << "GetTempPathW makes " << narrow(raw) << " of TMP=\\\\ here";
  }
  const ReadCase cases[] = {
      {L"{TEMP}", true, L""},
      {L"\\\\{TEMP}", true, L""},
      {L"a\\\\{TEMP}", true, L"a"},
      {L"a\\{TEMP}\\b", true, L"a\\b"},
  };
  for (const ReadCase& c : cases) {
    const Expansion result = expand(c.spec);
    EXPECT_EQ(result.ok, c.ok) << narrow(c.spec);
    EXPECT_EQ(result.text, c.expected) << narrow(c.spec);
  }
}

TEST(Folders, HomeAndCacheDirAreTheShellFolders) {
  ASSERT_FALSE(profile_folder().empty());
  ASSERT_FALSE(local_app_data().empty());
  EXPECT_EQ(expand(L"{HOME}").text, profile_folder());
  EXPECT_EQ(expand(L"{home}\\x").text, profile_folder() + L"\\x");
  EXPECT_EQ(expand(L"{CACHE_DIR}").text, local_app_data());
  EXPECT_EQ(expand(L"{Cache_Dir}\\x").text, local_app_data() + L"\\x");
}

// QUORIN_CACHE_DIR moves the cache when it holds an absolute folder, trimmed
// as the folder it replaces; any other value leaves the cache where it was.
TEST(Folders, CacheDirVariableMovesTheCacheOnlyToAnAbsoluteFolder) {
  const struct {
    const wchar_t* value;  // nullptr: unset
    std::wstring expected;
  } cases[] = {
      {L"D:\\moved\\cache\\\\", L"D:\\moved\\cache\\x"},
      {L"\\\\server\\share\\cache", L"\\\\server\\share\\cache\\x"},
      {L"D:\\", L"D:\\x"},
      {L"moved\\cache", local_app_data() + L"\\x"},
      {L"", local_app_data() + L"\\x"},
      {nullptr, local_app_data() + L"\\x"},
  };
  for (const auto& c : cases) {
    if (c.value == nullptr) {
      unset_env(L"QUORIN_CACHE_DIR");
    } else {
      set_env(L"QUORIN_CACHE_DIR", c.value);
    }
    const Expansion result = expand(L"{CACHE_DIR}\\x");
    EXPECT_TRUE(result.ok) << narrow(c.value != nullptr ? c.value : L"<unset>");
    EXPECT_EQ(result.text, c.expected) << narrow(c.value != nullptr ? c.value : L"<unset>");
  }
  unset_env(L"QUORIN_CACHE_DIR");
  // HOME is not moved with it.
  set_env(L"QUORIN_CACHE_DIR", L"D:\\moved");
  EXPECT_EQ(expand(L"{HOME}").text, profile_folder());
  unset_env(L"QUORIN_CACHE_DIR");
}

TEST(Folders, BakedDefaultSpecLandsUnderTheLocalApplicationDataFolder) {
  const Expansion result = expand(quorin::generated::kTargetDirectorySpec);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.text, local_app_data() + L"\\Brindlex\\PocketVariant\\3.1.95\\20260923_175815");
}

// --- Program placeholders ---------------------------------------------------------

TEST(ProgramPlaceholders, ThisTestProgram) {
  const std::wstring path = module_path();
  ASSERT_EQ(path.substr(path.size() - 4), L".exe");
  EXPECT_EQ(expand(L"{PROGRAM}").text, path);
  EXPECT_EQ(expand(L"{program_base}").text, path.substr(0, path.size() - 4));
  EXPECT_EQ(expand(L"{PROGRAM_DIR}").text, without_last_component(path));
  // The cut looks at the value alone, not at backslashes before it.
  EXPECT_EQ(expand(L"a\\b\\{PROGRAM_DIR}\\x").text, L"a\\b\\" + without_last_component(path) + L"\\x");
  EXPECT_EQ(expand(L"a\\{PROGRAM_BASE}.log").text, L"a\\" + path.substr(0, path.size() - 4) + L".log");
}

// Runs a copy of this program at path and returns what it printed.
std::string run_copy_at(const std::wstring& path) {
  if (!CopyFileW(module_path().c_str(), path.c_str(), FALSE)) return "<not copied>";
  ProcessOptions options;
  options.env = {{kPrintProgramVariable, L"1"}};
  const ProcessResult run = run_process(quoted(path), options);
  DeleteFileW(path.c_str());
  EXPECT_EQ(run.exit_code, 0u) << narrow(path) << run.err;
  return run.out;
}

TEST(ProgramPlaceholders, AtOtherPaths) {
  const std::wstring folder = temp_dir() + L"\\quorin-tests\\template_program";
  CreateDirectoryW((temp_dir() + L"\\quorin-tests").c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);

  const std::string upper = run_copy_at(folder + L"\\Tool.EXE");
  EXPECT_EQ(report_value(upper, "PROGRAM"), narrow(folder + L"\\Tool.EXE"));
  EXPECT_EQ(report_value(upper, "PROGRAM_BASE"), narrow(folder + L"\\Tool"));
  EXPECT_EQ(report_value(upper, "PROGRAM_DIR"), narrow(folder));

  // Another ending is kept.
  const std::string other = run_copy_at(folder + L"\\Tool.exe.run");
  EXPECT_EQ(report_value(other, "PROGRAM_BASE"), narrow(folder + L"\\Tool.exe.run"));
  remove_tree(folder);

  // At a drive root the directory is the drive alone.
  const std::wstring at_root = L"C:\\quorin-template-probe.EXE";
  const std::string root = run_copy_at(at_root);
  if (root == "<not copied>") GTEST_SKIP() << "the root of C: is not writable here";
  EXPECT_EQ(report_value(root, "PROGRAM"), narrow(at_root));
  EXPECT_EQ(report_value(root, "PROGRAM_BASE"), "C:\\quorin-template-probe");
  EXPECT_EQ(report_value(root, "PROGRAM_DIR"), "C:");
}

// --- PID ------------------------------------------------------------------------

TEST(Pid, FromTheVariableOrTheProcessId) {
  forget_run_values();
  const std::wstring own = std::to_wstring(GetCurrentProcessId());
  EXPECT_EQ(expand(L"{PID}").text, own);
  // An empty variable reads as no value.
  set_env(L"QUORIN_ONEFILE_PARENT", L"");
  EXPECT_EQ(expand(L"{pid}").text, own);
  set_env(L"QUORIN_ONEFILE_PARENT", L"4711");
  EXPECT_EQ(expand(L"x{PID}y").text, L"x4711y");
  // Appended unchanged, leading zeros and all; never written back.
  set_env(L"QUORIN_ONEFILE_PARENT", L"0047");
  EXPECT_EQ(expand(L"{PID}").text, L"0047");
  EXPECT_EQ(get_env(L"QUORIN_ONEFILE_PARENT"), L"0047");
  // The runtime's digit class, not only 0 to 9: superscripts, other scripts.
  set_env(L"QUORIN_ONEFILE_PARENT", L"47\u00B2\u0664");
  EXPECT_EQ(expand(L"{PID}").text, L"47\u00B2\u0664");
  unset_env(L"QUORIN_ONEFILE_PARENT");
  EXPECT_EQ(expand(L"{PID}").text, own);
  EXPECT_EQ(get_env(L"QUORIN_ONEFILE_PARENT"), L"<unset>");
}

TEST(PidDeathTest, MalformedVariableIsAHardStop) {
  for (const wchar_t* value : {L"47a1", L"-1", L"47 ", L"4\u00BD"}) {
    EXPECT_EXIT(
        {
          set_env(L"QUORIN_ONEFILE_PARENT", value);
          expand(L"{PID}");
        },
        ::testing::ExitedWithCode(kHardStop), "")
        << narrow(value);
  }
}

// --- RANDOM -----------------------------------------------------------------------

TEST(Random, SameTextTwiceAndRememberedInTheVariable) {
  forget_run_values();
  const Expansion result = expand(L"{RANDOM}-{random}");
  ASSERT_TRUE(result.ok);
  ASSERT_EQ(result.text.size(), 23u);
  const std::wstring first = result.text.substr(0, 11);
  EXPECT_EQ(result.text, first + L"-" + first);
  EXPECT_EQ(first.find_first_not_of(kAlphabet), std::wstring::npos) << narrow(first);
  EXPECT_EQ(get_env(L"QUORIN_ONEFILE_RANDOM"), first);
  // A later call reuses it.
  EXPECT_EQ(expand(L"{RANDOM}").text, first);
}

TEST(Random, AnyRememberedTextIsUsedUnchanged) {
  const std::wstring remembered = L"x\u00E9{TEMP}" + std::wstring(3000, L'r');
  set_env(L"QUORIN_ONEFILE_RANDOM", remembered);
  EXPECT_EQ(expand(L"{RANDOM}").text, remembered);
  EXPECT_EQ(get_env(L"QUORIN_ONEFILE_RANDOM"), remembered);
  forget_run_values();
}

// --- TIME_US and TIME ---------------------------------------------------------------

std::uint64_t now() {
  FILETIME time;
  GetSystemTimeAsFileTime(&time);
  return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

TEST(Time, ClockValuesAreMadeOnceAndRemembered) {
  forget_run_values();
  const std::uint64_t before = now();
  const Expansion time = expand(L"{TIME}");
  const std::uint64_t after = now();
  ASSERT_TRUE(time.ok);
  ASSERT_TRUE(all_digits(time.text)) << narrow(time.text);
  EXPECT_EQ(time.text.size(), 18u);
  const std::uint64_t t = std::stoull(time.text);
  EXPECT_GE(t, before);
  EXPECT_LE(t, after);
  EXPECT_EQ(get_env(L"QUORIN_ONEFILE_START"), time.text);

  const Expansion us = expand(L"{TIME_US}.{time_us}");
  ASSERT_TRUE(us.ok);
  ASSERT_EQ(us.text.size(), 13u);
  const std::wstring first = us.text.substr(0, 6);
  EXPECT_TRUE(all_digits(first)) << narrow(first);
  EXPECT_EQ(us.text, first + L"." + first);
  EXPECT_EQ(get_env(L"QUORIN_ONEFILE_TIME_US"), first);

  // Later calls reuse both.
  EXPECT_EQ(expand(L"{TIME}_{TIME_US}").text, time.text + L"_" + first);
  forget_run_values();
}

TEST(Time, RememberedTextsAreUsedUnchanged) {
  set_env(L"QUORIN_ONEFILE_TIME_US", L"not a time");
  set_env(L"QUORIN_ONEFILE_START", L"42");
  EXPECT_EQ(expand(L"{TIME}|{TIME_US}").text, L"42|not a time");
  forget_run_values();
}

}  // namespace
