// The failure box's text from a reporter's format. Pure code.
#include "errors/failure_text.h"

#include <cstdio>

namespace quorin::errors {

namespace {

constexpr wchar_t kCutMark[] = L"...";
constexpr std::size_t kCutMarkLen = 3;

// The line being written: out[0 .. len) so far, and whether it was cut.
// Invariant: len + kCutMarkLen < cap, so the mark and the terminator always fit.
struct Line {
  wchar_t* out;
  std::size_t cap;
  std::size_t len;
  bool cut;
};

void put(Line& line, wchar_t unit) {
  if (line.cut) return;
  if (line.len + 1 + kCutMarkLen >= line.cap) {
    line.cut = true;
    return;
  }
  line.out[line.len++] = unit;
}

void put_narrow(Line& line, const char* text) {
  if (text == nullptr) return;
  for (; *text != '\0'; ++text) put(line, static_cast<wchar_t>(static_cast<unsigned char>(*text)));
}

void put_wide(Line& line, const wchar_t* text) {
  if (text == nullptr) return;
  for (; *text != L'\0'; ++text) put(line, *text);
}

}  // namespace

void format_failure_text(wchar_t* out, std::size_t out_cap, const char* format, const FailureArgs& args) {
  if (out_cap <= kCutMarkLen + 1) {
    if (out_cap > 0) out[0] = L'\0';
    return;
  }
  Line line{out, out_cap, 0, false};
  int next_text = 0;
  for (const char* at = format; *at != '\0'; ++at) {
    if (at[0] == '%' && at[1] == 's') {
      put_narrow(line, next_text < 2 ? args.texts[next_text] : nullptr);
      ++next_text;
      ++at;
    } else if (at[0] == '%' && at[1] == 'l' && at[2] == 's') {
      put_wide(line, args.path);
      at += 2;
    } else if (at[0] == '%' && at[1] == 'l' && at[2] == 'd') {
      char number[24];
      std::snprintf(number, sizeof number, "%ld", args.number);
      put_narrow(line, number);
      at += 2;
    } else if (at[0] == '\n' && at[1] == '\0') {
      break;
    } else {
      put(line, static_cast<wchar_t>(static_cast<unsigned char>(*at)));
    }
  }
  if (line.cut) {
    for (std::size_t i = 0; i < kCutMarkLen; ++i) line.out[line.len++] = kCutMark[i];
  }
  line.out[line.len] = L'\0';
}

}  // namespace quorin::errors
