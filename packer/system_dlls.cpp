// The DLLs Windows brings and those separately installed runtimes bring.
// Pure code.
//
// The Windows list is what an x64 install of Windows 10 (1809 and later) or
// 11 has in System32, limited to the DLLs programs import. Not on it: DLLs
// only some editions have (Media Foundation is missing from the N editions),
// those that come with a graphics driver (opencl.dll, vulkan-1.dll,
// nvcuda.dll) and those of the DirectX End-User Runtime (d3dx9_43.dll,
// xinput1_3.dll): some machines lack them. Every name lower case.
#include "packer/system_dlls.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace quorin::packer {

namespace {

constexpr std::string_view kWindowsDlls[] = {
    "activeds.dll", "advapi32.dll", "advpack.dll", "amsi.dll", "apphelp.dll", "authz.dll", "avifil32.dll",
    "avrt.dll", "bcrypt.dll", "bcryptprimitives.dll", "cabinet.dll", "cfgmgr32.dll", "clbcatq.dll",
    "combase.dll", "comctl32.dll", "comdlg32.dll", "coml2.dll", "comsvcs.dll", "credui.dll", "crypt32.dll",
    "cryptbase.dll", "cryptnet.dll", "cryptsp.dll", "cryptui.dll", "d2d1.dll", "d3d10.dll", "d3d10_1.dll",
    "d3d10core.dll", "d3d11.dll", "d3d12.dll", "d3d9.dll", "d3dcompiler_47.dll", "dbgeng.dll", "dbghelp.dll",
    "dcomp.dll", "ddraw.dll", "devobj.dll", "dhcpcsvc.dll", "dinput.dll", "dinput8.dll", "dnsapi.dll",
    "dpapi.dll", "dsound.dll", "dwmapi.dll", "dwrite.dll", "dxgi.dll", "dxva2.dll", "esent.dll", "fltlib.dll",
    "fwpuclnt.dll", "gdi32.dll", "gdi32full.dll", "gdiplus.dll", "glu32.dll", "hid.dll", "hlink.dll",
    "httpapi.dll", "icm32.dll", "imagehlp.dll", "imm32.dll", "iphlpapi.dll", "kernel32.dll", "kernelbase.dll",
    "ksuser.dll", "ktmw32.dll", "logoncli.dll", "mlang.dll", "mmdevapi.dll", "mpr.dll", "msacm32.dll",
    "mscms.dll", "mscoree.dll", "msctf.dll", "msi.dll", "msimg32.dll", "msvcp_win.dll", "msvcrt.dll",
    "msvfw32.dll", "mswsock.dll", "ncrypt.dll", "netapi32.dll", "netutils.dll", "newdev.dll", "normaliz.dll",
    "nsi.dll", "ntdll.dll", "ntdsapi.dll", "ntmarta.dll", "odbc32.dll", "ole32.dll", "oleacc.dll",
    "oleaut32.dll", "oledlg.dll", "opengl32.dll", "pdh.dll", "powrprof.dll", "profapi.dll", "propsys.dll",
    "psapi.dll", "rasapi32.dll", "rpcrt4.dll", "rstrtmgr.dll", "rtworkq.dll", "samcli.dll", "sechost.dll",
    "secur32.dll", "sensapi.dll", "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll", "slc.dll",
    "srvcli.dll", "sspicli.dll", "tbs.dll", "tdh.dll", "ucrtbase.dll", "uiautomationcore.dll", "umpdc.dll",
    "urlmon.dll", "user32.dll", "userenv.dll", "usp10.dll", "uxtheme.dll", "version.dll", "virtdisk.dll",
    "webio.dll", "wevtapi.dll", "win32u.dll", "windowscodecs.dll", "winhttp.dll", "wininet.dll", "winmm.dll",
    "winscard.dll", "winspool.drv", "wintrust.dll", "winusb.dll", "wkscli.dll", "wlanapi.dll", "wldap32.dll",
    "ws2_32.dll", "wsock32.dll", "wtsapi32.dll", "xinput1_4.dll", "xinput9_1_0.dll", "xmllite.dll",
};

// API sets are names, not files: the loader maps them to the DLL that
// implements them on the running version of Windows.
constexpr std::string_view kApiSetPrefixes[] = {"api-ms-win-", "ext-ms-"};

struct Runtime {
  std::string_view prefix;  // a name, or the start of a family of names
  bool whole_name;
  const char* runtime;
};

// The release builds only: the debug DLLs (msvcp140d.dll, ...) come with
// Visual Studio, never with a redistributable, and are refused like any
// other DLL missing from the folder.
constexpr Runtime kRuntimes[] = {
    {"vcruntime140.dll", true, "the Microsoft Visual C++ Redistributable"},
    {"vcruntime140_1.dll", true, "the Microsoft Visual C++ Redistributable"},
    {"vcruntime140_threads.dll", true, "the Microsoft Visual C++ Redistributable"},
    {"msvcp140.dll", true, "the Microsoft Visual C++ Redistributable"},
    {"msvcp140_1.dll", true, "the Microsoft Visual C++ Redistributable"},
    {"msvcp140_2.dll", true, "the Microsoft Visual C++ Redistributable"},
    {"msvcp140_atomic_wait.dll", true, "the Microsoft Visual C++ Redistributable"},
    {"msvcp140_codecvt_ids.dll", true, "the Microsoft Visual C++ Redistributable"},
    {"concrt140.dll", true, "the Microsoft Visual C++ Redistributable"},
    {"vccorlib140.dll", true, "the Microsoft Visual C++ Redistributable"},
    {"vcomp140.dll", true, "the Microsoft Visual C++ Redistributable"},
    {"vcamp140.dll", true, "the Microsoft Visual C++ Redistributable"},
    {"msvcr120.dll", true, "the Microsoft Visual C++ 2013 Redistributable"},
    {"msvcp120.dll", true, "the Microsoft Visual C++ 2013 Redistributable"},
    {"msvcr110.dll", true, "the Microsoft Visual C++ 2012 Redistributable"},
    {"msvcp110.dll", true, "the Microsoft Visual C++ 2012 Redistributable"},
    {"msvcr100.dll", true, "the Microsoft Visual C++ 2010 Redistributable"},
    {"msvcp100.dll", true, "the Microsoft Visual C++ 2010 Redistributable"},
    {"d3dx9_", false, "the DirectX End-User Runtime"},
    {"d3dx10_", false, "the DirectX End-User Runtime"},
    {"d3dx11_", false, "the DirectX End-User Runtime"},
    {"d3dcompiler_43.dll", true, "the DirectX End-User Runtime"},
    {"xinput1_3.dll", true, "the DirectX End-User Runtime"},
    {"xaudio2_7.dll", true, "the DirectX End-User Runtime"},
};

bool starts_with(const std::string& name, std::string_view prefix) {
  return name.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool is_windows_dll(const std::string& name) {
  for (std::string_view prefix : kApiSetPrefixes) {
    if (starts_with(name, prefix)) return true;
  }
  return std::find(std::begin(kWindowsDlls), std::end(kWindowsDlls), std::string_view(name)) != std::end(kWindowsDlls);
}

const char* runtime_of_dll(const std::string& name) {
  for (const Runtime& runtime : kRuntimes) {
    if (runtime.whole_name ? name == runtime.prefix : starts_with(name, runtime.prefix)) return runtime.runtime;
  }
  return nullptr;
}

}  // namespace quorin::packer
