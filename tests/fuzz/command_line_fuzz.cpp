// Fuzzing the child's command line: the input is a list of arguments in
// UTF-16LE, each ended by a 0 unit (the last one may lack it), at most 8192
// units in all. With a fixed argument 0 they are joined into a buffer of
// exactly the length a re-statement of the quoting rule predicts (so one unit
// more than needed is a hard stop, and one too few an overflow ASan sees),
// and split again by the Windows rules: the split must give the arguments
// back. Pure test code.
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "child/command_line.h"
#include "child/quote.h"
#include "tests/common/command_line_split.h"
#include "tests/fuzz/fuzz_units.h"

namespace {

constexpr std::size_t kMaxInputUnits = 8192;
constexpr wchar_t kArgument0[] = L"C:\\Program Files\\Tool\\launcher.exe";

std::vector<std::wstring> arguments_of(const std::wstring& units) {
  std::vector<std::wstring> args = {kArgument0};
  std::size_t start = 0;
  while (start < units.size()) {
    std::size_t end = units.find(L'\0', start);
    if (end == std::wstring::npos) end = units.size();
    args.push_back(units.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

// The written length of one argument: bare when it needs no quotes; else two
// quotes around it, one more backslash before each inner quote and each of
// the backslashes before it doubled, and the backslashes at its end doubled.
std::size_t written_length(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg.size();
  std::size_t length = 2 + arg.size();
  std::size_t run = 0;  // backslashes right before the unit at hand
  for (const wchar_t unit : arg) {
    if (unit == L'"') length += 1 + run;
    run = unit == L'\\' ? run + 1 : 0;
  }
  return length + run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 2 * kMaxInputUnits) return 0;
  const std::vector<std::wstring> args = arguments_of(quorin::fuzz::utf16le_units(data, size));

  std::size_t expected = args.size() - 1;  // the blanks between arguments
  for (const std::wstring& arg : args) expected += written_length(arg);
  // The launcher's buffer; a longer line is its documented hard stop.
  if (expected + 1 > quorin::child::kCommandLineCap) return 0;

  std::vector<const wchar_t*> pointers;
  for (const std::wstring& arg : args) pointers.push_back(arg.c_str());
  std::vector<wchar_t> line(expected + 1);
  quorin::child::join_command_line(line.data(), line.size(), pointers.data(), static_cast<int>(pointers.size()));
  QUORIN_FUZZ_CHECK(std::wcslen(line.data()) == expected);
  QUORIN_FUZZ_CHECK(quorin::test_split::split_command_line(line.data()) == args);
  return 0;
}
