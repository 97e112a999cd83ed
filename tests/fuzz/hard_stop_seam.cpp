// A test seam of every fuzzer: the host hard stop ends the process with
// _exit, which libFuzzer would not notice (no message, no input kept). The
// fuzzers link with -Wl,--wrap=_exit, so the hard stop's call lands here and
// aborts instead: libFuzzer reports a deadly signal and keeps the input.
// (The __wrap_ prefix is the linker's convention.)
#include <cstdio>
#include <cstdlib>

extern "C" [[noreturn]] void __wrap__exit(int status) {
  std::fprintf(stderr, "fuzz: hard stop (exit status %d) while running an input\n", status);
  std::abort();
}
