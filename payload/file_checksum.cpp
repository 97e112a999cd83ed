// The checksum of a file on disk, for the skip of current files. Talks to the
// system (files, mappings). Safe on any thread: all it keeps is the caller's.
#include "payload/file_checksum.h"

#include <windows.h>

#include "payload/checksum.h"

namespace quorin::payload {

std::uint32_t file_checksum(const wchar_t* path, std::uint64_t expected_size, unsigned char* buffer) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  // A small file is read whole into a buffer one byte larger than the entry,
  // so the read itself says whether the file has the entry's length: a
  // longer file fills the extra byte. Under Wine every call on a mapping is a
  // round trip to the server and a read of an open file is not, and most
  // files are small.
  if (expected_size < kReadCheckCap) {
    DWORD got = 0;
    if (ReadFile(file, buffer, static_cast<DWORD>(expected_size + 1), &got, nullptr)) {
      CloseHandle(file);
      // The system reports no failure for an empty file read to its end; an
      // empty file is current for an empty entry (CRC 0, stored as 1).
      return got == expected_size ? checksum_of(buffer, expected_size) : 0;
    }
    // A range another process has locked cannot be read, but can be mapped:
    // the mapping below checks such a file as it always has.
    if (GetLastError() != ERROR_LOCK_VIOLATION) {
      CloseHandle(file);
      return 0;
    }
  }
  // A file of another length is not current, whatever its CRC: no checksum
  // taken. GetFileSizeEx gives all 64 bits, so a file of 4 GiB or more is never
  // taken for its length modulo 2^32 (GetFileSize without its high part would).
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) != expected_size) {
    CloseHandle(file);
    return 0;
  }
  // The system refuses to map an empty file; an empty file is current for an
  // empty entry (CRC 0, stored as 1), so an unchanged tree gets no write.
  if (expected_size == 0) {
    CloseHandle(file);
    return stored_checksum(0);
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
  const std::uint32_t checksum = checksum_of(static_cast<const unsigned char*>(view), expected_size);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  CloseHandle(file);
  return checksum;
}

}  // namespace quorin::payload
