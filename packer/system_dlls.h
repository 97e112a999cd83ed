// Where a DLL that an application imports comes from when the application
// does not bring it: Windows itself, or a runtime that users install on
// their own. The one list of both. Pure code.
#pragma once

#include <string>

namespace quorin::packer {

// True for a DLL every Windows 10 and 11 x64 install has (in System32 and,
// for 32-bit programs, SysWOW64) or resolves itself: the KnownDLLs, the
// API sets (api-ms-win-*, ext-ms-*) and the system DLLs programs commonly
// import. name is lower case, with its extension.
bool is_windows_dll(const std::string& name);

// The separately installed runtime that brings the DLL, as a phrase ("the
// Microsoft Visual C++ Redistributable"), or nullptr when it is none of
// theirs. name is lower case, with its extension.
const char* runtime_of_dll(const std::string& name);

}  // namespace quorin::packer
