// The resources of a packed launcher, read back as Windows reads them: the
// version information, the icon group and the application manifest; and the
// subsystem that keeps a console from opening.
#ifndef UNICODE
#define UNICODE  // RT_* as wide resource names
#endif
#include <windows.h>
#include <imagehlp.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

// The file's version information block, empty when it has none.
std::string version_block(const std::wstring& exe) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  std::string block(size, '\0');
  if (size == 0 || !GetFileVersionInfoW(exe.c_str(), 0, size, block.data())) return "";
  return block;
}

// The value at key, or an empty text when there is none.
std::string version_value(const std::wstring& exe, const std::wstring& key) {
  std::string block = version_block(exe);
  void* value = nullptr;
  UINT length = 0;
  if (block.empty() || !VerQueryValueW(block.data(), key.c_str(), &value, &length)) return "";
  // Text values count UTF-16 units, the others bytes.
  const bool text = key.rfind(L"\\StringFileInfo", 0) == 0;
  return std::string(static_cast<const char*>(value), text ? 2 * length : length);
}

std::wstring version_text(const std::wstring& exe, const wchar_t* name) {
  const std::string bytes = version_value(exe, std::wstring(L"\\StringFileInfo\\000004B0\\") + name);
  if (bytes.empty()) return L"<missing>";
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()));
}

VS_FIXEDFILEINFO fixed_info(const std::wstring& exe) {
  VS_FIXEDFILEINFO info = {};
  const std::string bytes = version_value(exe, L"\\");
  if (bytes.size() == sizeof info) std::memcpy(&info, bytes.data(), sizeof info);
  return info;
}

DWORD translation(const std::wstring& exe) {
  const std::string bytes = version_value(exe, L"\\VarFileInfo\\Translation");
  DWORD value = 0xFFFFFFFF;
  if (bytes.size() == sizeof value) std::memcpy(&value, bytes.data(), sizeof value);
  return value;
}

struct Resources {
  HMODULE module = nullptr;
  explicit Resources(const std::wstring& exe)
      : module(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~Resources() {
    if (module != nullptr) FreeLibrary(module);
  }
  std::string bytes(LPCWSTR type, LPCWSTR name) const {
    HRSRC found = FindResourceW(module, name, type);
    if (found == nullptr) return "";
    HGLOBAL loaded = LoadResource(module, found);
    return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));
  }
};

BOOL CALLBACK count_manifest(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

// The default texts follow the child and the output's name; given texts and
// versions are kept as given, non-ASCII included.
TEST(Resources, VersionTextsOfEachLauncher) {
  struct Case {
    const wchar_t* launcher;
    std::vector<std::pair<const wchar_t*, std::wstring>> texts;
  };
  const Case cases[] = {
      {L"resources_default",
       {{L"CompanyName", L"app"},
        {L"ProductName", L"app"},
        {L"FileVersion", L"1.0.0.0"},
        {L"OriginalFilename", L"resources_default.exe"},
        {L"FileDescription", L"resources_default.exe"},
        {L"InternalName", L"resources_default"}}},
      {L"Brindlex_POCKET_VARIANT_ONEFILE",
       {{L"CompanyName", L"Quadrel"},
        {L"ProductName", L"Brindlex Pocket Variant"},
        {L"FileVersion", L"3.1.95.0"},
        {L"ProductVersion", L"3.1.95.0"},
        {L"OriginalFilename", L"Brindlex_POCKET_VARIANT_ONEFILE.exe"},
        {L"FileDescription", L"Brindlex_POCKET_VARIANT_ONEFILE.exe"},
        {L"InternalName", L"Brindlex_POCKET_VARIANT_ONEFILE"}}},
      {L"resources_custom",
       {{L"CompanyName", L"Acme \u00dcml\u00e4ut"},
        {L"ProductName", L"R\u00e9sum\u00e9 Tool"},
        {L"FileVersion", L"12.0.65535.7"},
        {L"ProductVersion", L"12.0.65535.7"},
        {L"OriginalFilename", L"resume.exe"},
        {L"InternalName", L"resume"},
        {L"FileDescription", L"R\u00e9sum\u00e9 editor"}}},
  };
  for (const Case& c : cases) {
    const std::wstring exe = launcher_path(c.launcher);
    for (const auto& [name, value] : c.texts) {
      EXPECT_EQ(version_text(exe, name), value) << narrow(c.launcher) << " " << narrow(name);
    }
  }
}

TEST(Resources, FixedVersionInfo) {
  EXPECT_EQ(fixed_info(launcher_path(L"resources_default")).dwFileVersionMS, 1u << 16);
  const VS_FIXEDFILEINFO custom = fixed_info(launcher_path(L"resources_custom"));
  EXPECT_EQ(custom.dwFileVersionMS, 12u << 16);
  EXPECT_EQ(custom.dwFileVersionLS, 65535u << 16 | 7u);
  EXPECT_EQ(custom.dwProductVersionLS, 65535u << 16 | 7u);
  const std::wstring exe = launcher_path(L"Brindlex_POCKET_VARIANT_ONEFILE");
  EXPECT_EQ(translation(exe), 0x04B00000u);  // language 0x0000, code page 0x04B0
  const VS_FIXEDFILEINFO info = fixed_info(exe);
  EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(info.dwFileVersionMS, (3u << 16) | 1u);
  EXPECT_EQ(info.dwFileVersionLS, 95u << 16);
  EXPECT_EQ(info.dwProductVersionMS, (3u << 16) | 1u);
  EXPECT_EQ(info.dwProductVersionLS, 95u << 16);
  EXPECT_EQ(info.dwFileFlags, 0u);
  EXPECT_EQ(info.dwFileOS, 4u);
  EXPECT_EQ(info.dwFileType, 1u);
}

TEST(Resources, IconGroupOfTenTrueColourImages) {
  const Resources resources(launcher_path(L"resources_default"));
  ASSERT_NE(resources.module, nullptr);
  const std::string group = resources.bytes(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
  ASSERT_GE(group.size(), 6u);
  const auto count = static_cast<unsigned char>(group[4]) | static_cast<unsigned char>(group[5]) << 8;
  ASSERT_EQ(count, 10);
  ASSERT_EQ(group.size(), 6u + 14u * count);
  const unsigned sizes[] = {16, 20, 24, 32, 40, 48, 64, 96, 128, 256};
  for (int i = 0; i < count; ++i) {
    const char* entry = group.data() + 6 + 14 * i;
    const unsigned width = static_cast<unsigned char>(entry[0]) == 0 ? 256 : static_cast<unsigned char>(entry[0]);
    const unsigned bits = static_cast<unsigned char>(entry[6]) | static_cast<unsigned char>(entry[7]) << 8;
    const unsigned id = static_cast<unsigned char>(entry[12]) | static_cast<unsigned char>(entry[13]) << 8;
    EXPECT_EQ(width, sizes[i]);
    EXPECT_EQ(bits, 32u);
    // Each image loads as an icon of its size.
    const std::string image = resources.bytes(RT_ICON, MAKEINTRESOURCEW(id));
    HICON icon = CreateIconFromResourceEx(reinterpret_cast<PBYTE>(const_cast<char*>(image.data())),
                                          static_cast<DWORD>(image.size()), TRUE, 0x00030000, 0, 0, 0);
    EXPECT_NE(icon, nullptr) << "image " << id;
    if (icon != nullptr) DestroyIcon(icon);
  }
}

TEST(Resources, OneManifestAsInvokerLongPathAware) {
  const Resources resources(launcher_path(L"resources_default"));
  ASSERT_NE(resources.module, nullptr);
  int manifests = 0;
  EnumResourceNamesW(resources.module, RT_MANIFEST, count_manifest, reinterpret_cast<LONG_PTR>(&manifests));
  EXPECT_EQ(manifests, 1);
  const std::string manifest = resources.bytes(RT_MANIFEST, MAKEINTRESOURCEW(1));
  for (const char* part : {"name=\"app\" version=\"1.0.0.0\"", "<ws2:longPathAware>true</ws2:longPathAware>",
                           "level=\"asInvoker\"", "uiAccess=\"false\"", "Microsoft.Windows.Common-Controls",
                           "version=\"6.0.0.0\"", "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
                           "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
  // The product as an assembly name, and the four-part version.
  const Resources custom(launcher_path(L"resources_custom"));
  ASSERT_NE(custom.module, nullptr);
  EXPECT_NE(custom.bytes(RT_MANIFEST, MAKEINTRESOURCEW(1)).find("name=\"R.sum.Tool\" version=\"12.0.65535.7\""),
            std::string::npos);
}

// The child is a GUI program: so is its launcher (subsystem_test.cpp has
// the console child's).
TEST(Resources, GuiSubsystemSoNoConsoleOpens) {
  const std::string exe = read_file(launcher_path(L"resources_default"));
  ASSERT_GT(exe.size(), 0x200u);
  const auto pe = *reinterpret_cast<const DWORD*>(exe.data() + 0x3C);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS64*>(exe.data() + pe);
  EXPECT_EQ(headers->Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(headers->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(headers->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  EXPECT_EQ(headers->FileHeader.TimeDateStamp, 0u);  // no link time: the same inputs give the same bytes
}

TEST(Resources, ImageChecksumIsTheOneTheSystemComputes) {
  DWORD in_header = 0, computed = 0;
  ASSERT_EQ(MapFileAndCheckSumW(launcher_path(L"resources_default").c_str(), &in_header, &computed), CHECKSUM_SUCCESS);
  EXPECT_NE(in_header, 0u);
  EXPECT_EQ(in_header, computed);
}

}  // namespace
