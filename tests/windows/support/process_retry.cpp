// GoogleTest's death tests start the test program again with CreateProcessA:
// the test programs are linked with --wrap=__imp_CreateProcessA (see
// windows_tests.cmake), so that call comes here and gets the same retries as
// the harness's own starts. Without it one refused creation under load ends
// the whole test program mid-run.
#include "tests/windows/support/process_retry.h"

extern "C" decltype(&CreateProcessA) __real___imp_CreateProcessA;

namespace {

BOOL WINAPI create_process_a_with_retries(LPCSTR application, LPSTR command_line, LPSECURITY_ATTRIBUTES process,
                                          LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                                          LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION created) {
  return quorin::testing::create_process_with_retries([&] {
    return __real___imp_CreateProcessA(application, command_line, process, thread, inherit, flags, environment,
                                       directory, startup, created);
  });
}

}  // namespace

// The import's address slot as the wrapped callers read it.
extern "C" {
extern decltype(&CreateProcessA) __wrap___imp_CreateProcessA;
decltype(&CreateProcessA) __wrap___imp_CreateProcessA = create_process_a_with_retries;
}
