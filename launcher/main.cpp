// The launcher's entry point: the start-up sequence, in its order, from the
// environment to the child's exit code. Talks to the system.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "child/run.h"
#include "errors/fatal.h"
#include "errors/messages.h"
#include "generated/baked.h"
#include "launcher/env.h"
#include "launcher/widen.h"
#include "launcher/state.h"
#include "payload/format.h"
#include "payload/reader.h"
#include "payload/unpack.h"
#include "template/expand.h"

// The image's own first byte: the attached data lies at an RVA from it, in a
// section the packer adds after the stub's own.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

using namespace quorin;

bool starts_with_signature(const unsigned char* data, std::uint64_t length) {
  return length >= payload::kSignatureSize &&
         std::memcmp(data, payload::kSignature, payload::kSignatureSize) == 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // 1. The runtime's wide argument vector, for QUORIN_ORIGINAL_ARGV0.
  wchar_t** argv = __wargv;

  // 2. Keep the current directory out of the DLL search order.
  SetDllDirectoryW(L"");

  // 3. Values remembered by a parent launcher are never reused.
  launcher::env_unset("QUORIN_ONEFILE_START");
  launcher::env_unset("QUORIN_ONEFILE_TIME_US");
  launcher::env_unset("QUORIN_ONEFILE_RANDOM");

  // 4. Our own process id, before the first expansion reads it for PID.
  char pid_narrow[launcher::kNumberTextCap];
  std::snprintf(pid_narrow, sizeof pid_narrow, "%ld", static_cast<long>(GetCurrentProcessId()));
  wchar_t pid[launcher::kNumberTextCap];
  launcher::widen_ascii(pid, launcher::kNumberTextCap, pid_narrow);
  launcher::env_set("QUORIN_ONEFILE_PARENT", pid);

  // 5-8. The target directory. A failed expansion is reported before the
  // path is resolved, so it never ends in a silent hard stop.
  if (!expansion::expand_spec(launcher::g_target_directory, generated::kTargetDirectorySpec,
                              launcher::kPathCap)) {
    errors::fail_spec(generated::kTargetDirectorySpec);
  }
  launcher::make_absolute(launcher::g_target_directory);
  const unsigned char* attached_data = reinterpret_cast<const unsigned char*>(&__ImageBase) +
                                      generated::kBaked.attached_rva;
  const std::uint64_t attached_length = generated::kBaked.attached_length;

  // 9.
  if (!SetConsoleCtrlHandler(child::console_control_handler, TRUE)) {
    errors::fail_plain(errors::kSignalHandlerMessage);
  }

  // 10.
  if (!starts_with_signature(attached_data, attached_length)) {
    errors::fail_plain(errors::kHeaderMessage);
  }

  // 11-13. Unpack through the reader; the first entry names the child program.
  if (!payload::payload_reader_open(attached_data, attached_length)) {
    errors::fail_plain(errors::kAllocationMessage);
  }
  payload::unpack_payload();
  payload::payload_reader_close();

  // 14. Where the launcher lives, without a trailing backslash.
  launcher::copy_text(launcher::g_launcher_directory, launcher::kOwnPathCap, launcher::own_path());
  launcher::cut_at_last_backslash(launcher::g_launcher_directory);
  launcher::env_set("QUORIN_ONEFILE_DIRECTORY", launcher::g_launcher_directory);

  // 15. How the launcher was called, as the runtime parsed it.
  if (argv != nullptr && argv[0] != nullptr) launcher::env_set("QUORIN_ORIGINAL_ARGV0", argv[0]);

  // 16-18.
  const unsigned long exit_code = child::run_child();
  child::stop_child();
  return static_cast<int>(exit_code);
}
