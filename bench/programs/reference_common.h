// What the benchmark's reference programs share: decimal arguments, a
// read-only mapping of a whole file, a clock and one line of output.
// Talks to the system (files, mappings, the performance counter, stdout).
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace bench {

// The launcher's output window: the decoder fills at most this much per call.
constexpr std::size_t kWindowSize = 131072;

[[noreturn]] inline void fail(const char* what) {
  const DWORD code = GetLastError();
  std::fprintf(stderr, "bench reference: %s (error %lu)\n", what, static_cast<unsigned long>(code));
  std::fflush(stderr);
  ExitProcess(2);
}

inline unsigned long long parse_u64(const wchar_t* text) {
  wchar_t* end = nullptr;
  const unsigned long long value = std::wcstoull(text, &end, 10);
  if (end == text || *end != L'\0') fail("a number was expected");
  return value;
}

struct MappedFile {
  const unsigned char* data;
  unsigned long long size;
};

// The whole file, mapped read-only for the rest of the process.
inline MappedFile map_whole_file(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) fail("cannot open the file");
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) fail("cannot measure the file");
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) fail("cannot map the file");
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) fail("cannot view the file");
  return {static_cast<const unsigned char*>(view), static_cast<unsigned long long>(size.QuadPart)};
}

inline double now_ms() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The attached data named by FILE OFFSET LENGTH on the command line: the
// decoder's input starts after the three signature bytes, as in the launcher.
struct AttachedData {
  const unsigned char* frame;
  unsigned long long input_size;
};

inline AttachedData attached_data_from(const wchar_t* path, const wchar_t* offset_text, const wchar_t* length_text) {
  const MappedFile file = map_whole_file(path);
  const unsigned long long offset = parse_u64(offset_text);
  const unsigned long long length = parse_u64(length_text);
  if (length < 16 || offset > file.size || length > file.size - offset) fail("the attached data is not in the file");
  if (std::memcmp(file.data + offset, "QZY", 3) != 0) fail("no attached data signature at the offset");
  return {file.data + offset + 3, length - 3};
}

}  // namespace bench
