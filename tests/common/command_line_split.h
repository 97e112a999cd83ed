// Splitting a Windows command line into arguments by the rules the launcher's
// quoting inverts, for tests and the fuzzer on the host (under Wine the tests
// split with CommandLineToArgvW itself). Pure code.
//
//   - blanks and tabs separate arguments outside double quotes;
//   - backslashes are literal unless a double quote follows them;
//   - 2k backslashes and a double quote: k backslashes, the quote opens or
//     closes a quoted part;
//   - 2k+1 backslashes and a double quote: k backslashes and a literal quote;
//   - argument 0 is taken up to the first blank or tab, or between quotes
//     when it starts with one, with no escapes.
// Two quotes in a row inside a quoted part, which the launcher never writes,
// are read as closing and opening again.
#pragma once

#include <string>
#include <vector>

namespace quorin::test_split {

inline std::vector<std::wstring> split_command_line(const std::wstring& line) {
  std::vector<std::wstring> args;
  std::size_t at = 0;
  // Argument 0.
  std::wstring first;
  if (at < line.size() && line[at] == L'"') {
    for (++at; at < line.size() && line[at] != L'"'; ++at) first += line[at];
    if (at < line.size()) ++at;
  } else {
    for (; at < line.size() && line[at] != L' ' && line[at] != L'\t'; ++at) first += line[at];
  }
  args.push_back(first);
  for (;;) {
    while (at < line.size() && (line[at] == L' ' || line[at] == L'\t')) ++at;
    if (at >= line.size()) return args;
    std::wstring arg;
    bool quoted = false;
    while (at < line.size() && (quoted || (line[at] != L' ' && line[at] != L'\t'))) {
      std::size_t backslashes = 0;
      while (at < line.size() && line[at] == L'\\') {
        ++backslashes;
        ++at;
      }
      if (at < line.size() && line[at] == L'"') {
        arg.append(backslashes / 2, L'\\');
        if (backslashes % 2 == 1) {
          arg += L'"';
        } else {
          quoted = !quoted;
        }
        ++at;
      } else {
        arg.append(backslashes, L'\\');
        if (at < line.size() && (quoted || (line[at] != L' ' && line[at] != L'\t'))) arg += line[at++];
      }
    }
    args.push_back(arg);
  }
}

}  // namespace quorin::test_split
