// Benchmark reference: decodes a launcher's attached data and writes every
// file of its archive plainly into an empty folder: no checksum test, each
// file created, written straight from the 128 KiB output window and closed,
// its folders made when the first create finds them missing.
// Talks to the system (maps the launcher exe, writes files).
//   unpack_plain.exe FILE OFFSET LENGTH FOLDER   -> "files=N bytes=B ms=T"
#include <zstd.h>

#include <cstdlib>

#include "bench/programs/reference_common.h"

namespace {

constexpr std::size_t kPathCap = 4096;

ZSTD_DCtx* g_context = nullptr;
ZSTD_inBuffer g_input = {nullptr, 0, 0};
unsigned char* g_window = nullptr;
// Invariant: g_read <= g_fill <= kWindowSize.
std::size_t g_fill = 0;
std::size_t g_read = 0;

// Refills an empty window; fails when the frame has nothing more to give.
void refill() {
  for (;;) {
    ZSTD_outBuffer output = {g_window, bench::kWindowSize, 0};
    const bool input_left = g_input.pos < g_input.size;
    const std::size_t result = ZSTD_decompressStream(g_context, &output, &g_input);
    if (ZSTD_isError(result)) bench::fail(ZSTD_getErrorName(result));
    g_fill = output.pos;
    g_read = 0;
    if (g_fill > 0) return;
    if (!input_left) bench::fail("the archive is cut short");
  }
}

void read_exact(void* destination, std::size_t count) {
  auto* out = static_cast<unsigned char*>(destination);
  while (count > 0) {
    if (g_read == g_fill) refill();
    const std::size_t take = count < g_fill - g_read ? count : g_fill - g_read;
    std::memcpy(out, g_window + g_read, take);
    g_read += take;
    out += take;
    count -= take;
  }
}

// Makes every folder above the file, from the top down; existing ones are fine.
void make_parents(wchar_t* path) {
  for (wchar_t* at = path + 3; *at != L'\0'; ++at) {
    if (*at != L'\\') continue;
    *at = L'\0';
    if (!CreateDirectoryW(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) bench::fail("cannot make a folder");
    *at = L'\\';
  }
}

HANDLE create_for_writing(wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
    make_parents(path);
    file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) bench::fail("cannot create a file");
  return file;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) bench::fail("usage: unpack_plain.exe FILE OFFSET LENGTH FOLDER");
  const bench::AttachedData attached = bench::attached_data_from(argv[1], argv[2], argv[3]);
  static wchar_t path[kPathCap];
  const std::size_t folder_len = std::wcslen(argv[4]);
  if (folder_len < 3 || folder_len + 2 >= kPathCap) bench::fail("the folder must be a full path");
  std::wmemcpy(path, argv[4], folder_len);
  path[folder_len] = L'\\';
  const double start = bench::now_ms();

  g_window = static_cast<unsigned char*>(std::malloc(bench::kWindowSize));
  g_context = ZSTD_createDCtx();
  if (g_window == nullptr || g_context == nullptr) bench::fail("out of memory");
  g_input = {attached.frame, static_cast<std::size_t>(attached.input_size), 0};

  unsigned long long files = 0;
  unsigned long long bytes = 0;
  for (;;) {
    // The name, up to its 0 unit; an empty name ends the archive.
    std::size_t len = folder_len + 1;
    for (;;) {
      wchar_t unit = 0;
      read_exact(&unit, 2);
      if (len + 1 >= kPathCap) bench::fail("a name is too long");
      path[len] = unit;
      if (unit == L'\0') break;
      ++len;
    }
    if (len == folder_len + 1) break;
    unsigned long long size = 0;
    unsigned int checksum = 0;
    read_exact(&size, 8);
    read_exact(&checksum, 4);

    HANDLE file = create_for_writing(path);
    while (size > 0) {
      if (g_read == g_fill) refill();
      const std::size_t available = g_fill - g_read;
      const DWORD take = static_cast<DWORD>(size < available ? size : available);
      DWORD written = 0;
      if (!WriteFile(file, g_window + g_read, take, &written, nullptr) || written != take) bench::fail("cannot write");
      g_read += take;
      size -= take;
      bytes += take;
    }
    CloseHandle(file);
    ++files;
  }
  ZSTD_freeDCtx(g_context);
  std::free(g_window);

  std::printf("files=%llu bytes=%llu ms=%.3f\n", files, bytes, bench::now_ms() - start);
  return 0;
}
