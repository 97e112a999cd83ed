// The launcher's resources. Pure code.
#include "packer/resources.h"

#include <cstdint>

#include "packer/little_endian.h"
#include "packer/resource_section.h"

namespace quorin::packer {

namespace {

void pad4(std::string& out) {
  while (out.size() % 4 != 0) out.push_back('\0');
}

void put_utf16z(std::string& out, const std::u16string& text) {
  for (char16_t unit : text) put_le(out, unit, 2);
  put_le(out, 0, 2);
}

// One node of the version tree: wLength, wValueLength, wType, key, padding,
// value, padding, children. Offsets count from the node's start, which lies on
// a 4-byte boundary of the whole block.
std::string version_node(const std::u16string& key, const std::string& value, std::size_t value_length,
                         bool text, const std::vector<std::string>& children) {
  std::string node;
  put_le(node, 0, 2);  // wLength, set below
  put_le(node, value_length, 2);
  put_le(node, text ? 1 : 0, 2);
  put_utf16z(node, key);
  pad4(node);
  node += value;
  for (const std::string& child : children) {
    pad4(node);
    node += child;
  }
  set_le(reinterpret_cast<unsigned char*>(node.data()), node.size(), 2);
  return node;
}

std::string text_value(const std::u16string& key, const std::u16string& value) {
  std::string bytes;
  put_utf16z(bytes, value);
  return version_node(key, bytes, value.size() + 1, true, {});  // length in units, terminator included
}

std::u16string ascii(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

}  // namespace

std::u16string four_part_version(const VersionTexts& texts) {
  std::string text;
  for (int i = 0; i < 4; ++i) text += (i > 0 ? "." : "") + std::to_string(texts.version_parts[i]);
  return std::u16string(text.begin(), text.end());
}

std::string assembly_name(const std::u16string& product) {
  std::string name;
  bool gap = false;
  for (char16_t unit : product) {
    const bool kept = (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z') ||
                      (unit >= u'0' && unit <= u'9') || unit == u'-' || unit == u'_' || unit == u'.';
    if (!kept || unit == u'.') {
      gap = true;
      continue;
    }
    if (gap && !name.empty()) name.push_back('.');
    gap = false;
    name.push_back(static_cast<char>(unit));
  }
  return name.empty() ? "Application" : name;
}

std::string application_manifest(const VersionTexts& texts) {
  const std::u16string version = four_part_version(texts);
  return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name=")" +
         assembly_name(texts.product) + R"(" version=")" + std::string(version.begin(), version.end()) + R"("/>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application>
      <supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>
      <supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>
      <supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>
      <supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>
      <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
    </application>
  </compatibility>
  <application xmlns="urn:schemas-microsoft-com:asm.v3">
    <windowsSettings xmlns:ws2="http://schemas.microsoft.com/SMI/2016/WindowsSettings">
      <ws2:longPathAware>true</ws2:longPathAware>
    </windowsSettings>
  </application>
  <dependency>
    <dependentAssembly>
      <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0" processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>
    </dependentAssembly>
  </dependency>
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
</assembly>
)";
}

std::string version_info(const VersionTexts& texts) {
  const std::uint32_t most = texts.version_parts[0] << 16 | texts.version_parts[1];
  const std::uint32_t least = texts.version_parts[2] << 16 | texts.version_parts[3];
  std::string fixed;  // VS_FIXEDFILEINFO
  put_le(fixed, kFixedFileInfoSignature, 4);
  put_le(fixed, 0x00010000, 4);
  put_le(fixed, most, 4);   // file version
  put_le(fixed, least, 4);
  put_le(fixed, most, 4);   // product version
  put_le(fixed, least, 4);
  put_le(fixed, 0x3F, 4);   // flags mask
  put_le(fixed, 0, 4);      // no flags
  put_le(fixed, 4, 4);      // VOS__WINDOWS32
  put_le(fixed, 1, 4);      // VFT_APP
  put_le(fixed, 0, 4);
  put_le(fixed, 0, 4);      // no date
  put_le(fixed, 0, 4);

  const std::u16string full_version = four_part_version(texts);
  const std::string table = version_node(
      u"000004B0", "", 0, true,
      {text_value(u"CompanyName", texts.company), text_value(u"ProductName", texts.product),
       text_value(u"FileVersion", full_version), text_value(u"ProductVersion", full_version),
       text_value(u"OriginalFilename", texts.original_filename),
       text_value(u"FileDescription", texts.file_description),
       text_value(u"InternalName", texts.internal_name)});
  const std::string strings = version_node(u"StringFileInfo", "", 0, true, {table});
  std::string translation;
  put_le(translation, 0x0000, 2);
  put_le(translation, 0x04B0, 2);
  const std::string var = version_node(u"Translation", translation, translation.size(), false, {});
  const std::string vars = version_node(u"VarFileInfo", "", 0, true, {var});
  return version_node(ascii("VS_VERSION_INFO"), fixed, fixed.size(), false, {strings, vars});
}

std::vector<Resource> launcher_resources(const VersionTexts& texts, const std::vector<IconImage>& icons) {
  std::vector<Resource> resources;
  std::string group;  // GRPICONDIR with an icon id in place of each file offset
  put_le(group, 0, 2);
  put_le(group, 1, 2);
  put_le(group, icons.size(), 2);
  for (std::size_t i = 0; i < icons.size(); ++i) {
    const IconImage& icon = icons[i];
    group.push_back(static_cast<char>(icon.width >= 256 ? 0 : icon.width));
    group.push_back(static_cast<char>(icon.height >= 256 ? 0 : icon.height));
    group.push_back(0);  // colour count
    group.push_back(0);
    put_le(group, icon.planes, 2);
    put_le(group, icon.bit_count, 2);
    put_le(group, icon.data.size(), 4);
    put_le(group, i + 1, 2);
    resources.push_back({kResourceTypeIcon, static_cast<std::uint16_t>(i + 1), kLanguageNeutral, icon.data});
  }
  resources.push_back({kResourceTypeGroupIcon, 1, kLanguageNeutral, group});
  resources.push_back({kResourceTypeVersion, 1, kLanguageNeutral, version_info(texts)});
  resources.push_back({kResourceTypeManifest, 1, kLanguageNeutral, application_manifest(texts)});
  return resources;
}

}  // namespace quorin::packer
