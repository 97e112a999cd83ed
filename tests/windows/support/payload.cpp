// Test support for the payload tests: hand-written archives and frames,
// CRC-32 forging, tree snapshots. Talks to the system (files, times, handles).
#include "tests/windows/support/payload.h"

#include <windows.h>

#include <io.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>

#include "launcher/state.h"
#include "launcher/wide_text.h"
#include "payload/reader.h"
#include "payload/temporary_name.h"
#include "payload/unpack.h"

namespace quorin::testing {

namespace {

using test_archive::put_le;

std::uint32_t crc_continued(std::uint32_t crc, const void* data, std::size_t size) {
  return static_cast<std::uint32_t>(crc32(crc, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

void walk(const std::wstring& root, const std::wstring& relative, std::map<std::wstring, TreeItem>& items) {
  WIN32_FIND_DATAW found;
  const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (relative.empty() && (name == payload::kRecordName || name == payload::kLockName)) continue;
    const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
    TreeItem item;
    item.written = static_cast<std::uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32 |
                   found.ftLastWriteTime.dwLowDateTime;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      items[child + L"\\"] = item;
      walk(root, child, items);
    } else {
      item.size = static_cast<std::uint64_t>(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
      items[child] = item;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

void set_write_time(const std::wstring& path, bool folder, std::uint64_t filetime) {
  HANDLE handle = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, folder ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  FILETIME time = {static_cast<DWORD>(filetime), static_cast<DWORD>(filetime >> 32)};
  SetFileTime(handle, nullptr, nullptr, &time);
  CloseHandle(handle);
}

}  // namespace

std::string forge_crc_suffix(const std::string& data, std::uint32_t target) {
  // With the data fixed, the CRC of data + four bytes x is affine in x over
  // GF(2): crc(x) = M x + crc(0). Solve M x = target + crc(0) by elimination
  // on the 32 columns M e_i, keeping which bits of x make up each row.
  const std::uint32_t base = crc_continued(0, data.data(), data.size());
  auto crc_with = [&](std::uint32_t x) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(x), static_cast<unsigned char>(x >> 8),
                                    static_cast<unsigned char>(x >> 16), static_cast<unsigned char>(x >> 24)};
    return crc_continued(base, bytes, 4);
  };
  const std::uint32_t zero = crc_with(0);
  std::uint32_t value[32];
  std::uint32_t made_of[32];
  for (int i = 0; i < 32; ++i) {
    value[i] = crc_with(1u << i) ^ zero;
    made_of[i] = 1u << i;
  }
  int rows = 0;
  int pivot_bit[32];
  for (int bit = 31; bit >= 0 && rows < 32; --bit) {
    int found = -1;
    for (int r = rows; r < 32; ++r) {
      if (value[r] >> bit & 1) {
        found = r;
        break;
      }
    }
    if (found < 0) continue;
    std::swap(value[found], value[rows]);
    std::swap(made_of[found], made_of[rows]);
    for (int r = 0; r < 32; ++r) {
      if (r != rows && (value[r] >> bit & 1)) {
        value[r] ^= value[rows];
        made_of[r] ^= made_of[rows];
      }
    }
    pivot_bit[rows++] = bit;
  }
  std::uint32_t want = target ^ zero;
  std::uint32_t x = 0;
  for (int r = 0; r < rows; ++r) {
    if (want >> pivot_bit[r] & 1) {
      want ^= value[r];
      x ^= made_of[r];
    }
  }
  std::string suffix;
  put_le(suffix, x, 4);
  return suffix;
}

void stdout_to_stderr() {
  std::fflush(stdout);
  _dup2(_fileno(stderr), _fileno(stdout));
}

std::map<std::wstring, TreeItem> snapshot_tree(const std::wstring& root) {
  std::map<std::wstring, TreeItem> items;
  walk(root, L"", items);
  return items;
}

void set_write_times(const std::wstring& root, std::uint64_t filetime) {
  for (const auto& [relative, item] : snapshot_tree(root)) {
    const bool folder = relative.back() == L'\\';
    set_write_time(root + L"\\" + (folder ? relative.substr(0, relative.size() - 1) : relative), folder, filetime);
  }
  set_write_time(root, true, filetime);
}

void make_folders(const std::wstring& path) {
  for (std::size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
    CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryW(path.c_str(), nullptr);
}

std::string attached_archive(const std::vector<ArchiveEntry>& entries, bool end_marker) {
  return attached_of(frame_of(raw_blocks(archive_bytes(entries, end_marker))));
}

void unpack_into(const std::wstring& target, const std::string& attached) {
  launcher::copy_text(launcher::g_target_directory, launcher::kPathCap, target.c_str());
  launcher::g_child_program_path[0] = L'\0';
  payload::payload_reader_open(reinterpret_cast<const unsigned char*>(attached.data()), attached.size());
  payload::unpack_payload();
  payload::payload_reader_close();
}

void unpack_and_exit(const std::wstring& target, const std::string& attached) {
  stdout_to_stderr();
  unpack_into(target, attached);
  std::exit(0);
}

std::vector<std::wstring> temporaries_in(const std::wstring& root) {
  std::vector<std::wstring> found;
  for (const auto& [relative, item] : snapshot_tree(root)) {
    if (relative.back() == L'\\') continue;
    const std::size_t slash = relative.rfind(L'\\');
    const std::wstring name = slash == std::wstring::npos ? relative : relative.substr(slash + 1);
    if (payload::is_temporary_name(name.c_str(), name.size())) found.push_back(relative);
  }
  return found;
}

int count_from_env(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

}  // namespace quorin::testing
