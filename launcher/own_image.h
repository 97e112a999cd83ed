// Facts about the running program's own image, read from its headers in
// memory. Windows only.
#pragma once

#include <windows.h>

namespace quorin::launcher {

// True for a windowed (GUI-subsystem) program. The packer gives a launcher
// its child's subsystem, so a windowed launcher has a windowed child and a
// console launcher a console one.
inline bool own_image_is_windowed() {
  // The program's own module handle is the address of its first byte.
  const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
  return headers->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

}  // namespace quorin::launcher
