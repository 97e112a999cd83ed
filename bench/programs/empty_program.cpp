// Benchmark reference: an empty program that imports the same system DLLs as
// the launcher under test, so starting it costs what loading the launcher
// costs before any work. No system calls. The benchmark builds it with a
// header, empty_program_imports.h, holding one BENCH_IMPORT(function) per DLL
// the launcher imports, taken from the launcher's import table.

// Referring to a function's import slot is enough for the linker to list its
// DLL; the function is never called.
#define BENCH_IMPORT(function) extern "C" void* __imp_##function;
#include "empty_program_imports.h"
#undef BENCH_IMPORT

#define BENCH_IMPORT(function) &__imp_##function,
void* const volatile g_imports[] = {
#include "empty_program_imports.h"
    nullptr};
#undef BENCH_IMPORT

int wmain() { return 0; }
