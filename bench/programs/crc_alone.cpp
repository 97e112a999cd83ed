// Benchmark reference: the launcher's check of an unpacked tree and nothing
// else. For each file of a list: open, measure, map read-only, zlib's crc32
// over the view, unmap, close. Talks to the system (files and mappings).
//   crc_alone.exe LIST   (LIST: UTF-8, one full path a line, in archive order)
//   -> "files=N mapped=M crc=X ms=T" on stdout (X: all checksums XORed)
#include <zlib.h>

#include <vector>

#include "bench/programs/reference_common.h"

namespace {

// The list, read and converted before the clock starts: one terminated path
// after another in one buffer.
std::vector<wchar_t> read_list(const wchar_t* path, std::size_t& count) {
  const bench::MappedFile list = bench::map_whole_file(path);
  std::vector<wchar_t> paths;
  count = 0;
  std::size_t at = 0;
  while (at < list.size) {
    std::size_t end = at;
    while (end < list.size && list.data[end] != '\n') ++end;
    std::size_t len = end;
    if (len > at && list.data[len - 1] == '\r') --len;
    if (len > at) {
      const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(list.data + at),
                                            static_cast<int>(len - at), nullptr, 0);
      if (units <= 0) bench::fail("the list is not UTF-8");
      const std::size_t first = paths.size();
      paths.resize(first + static_cast<std::size_t>(units) + 1);
      MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(list.data + at), static_cast<int>(len - at),
                          paths.data() + first, units);
      paths.back() = L'\0';
      ++count;
    }
    at = end + 1;
  }
  return paths;
}

// The launcher's rule: 0 for a file that cannot be opened, measured or
// mapped (an empty one among them), otherwise the checksum with 0 as 1.
unsigned long existing_checksum(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  const DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE) {
    CloseHandle(file);
    return 0;
  }
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) {
    CloseHandle(file);
    return 0;
  }
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) {
    CloseHandle(mapping);
    CloseHandle(file);
    return 0;
  }
  const uLong crc = crc32(0, static_cast<const Bytef*>(view), size);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  CloseHandle(file);
  return crc == 0 ? 1 : crc;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) bench::fail("usage: crc_alone.exe LIST");
  std::size_t count = 0;
  const std::vector<wchar_t> paths = read_list(argv[1], count);
  const double start = bench::now_ms();

  std::size_t mapped = 0;
  unsigned long combined = 0;
  for (const wchar_t* path = paths.data(); path < paths.data() + paths.size(); path += std::wcslen(path) + 1) {
    const unsigned long crc = existing_checksum(path);
    if (crc != 0) ++mapped;
    combined ^= crc;
  }

  std::printf("files=%zu mapped=%zu crc=%08lx ms=%.3f\n", count, mapped, combined, bench::now_ms() - start);
  return 0;
}
