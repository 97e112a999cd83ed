// A test seam of the fuzzers that decode attached data: they link with
// -Wl,--wrap=ZSTD_createDCtx, so every decompression context (the reader's
// and a harness's own) comes from here and refuses windows over 4 MiB; a run
// then allocates a few MiB, not the default limit's 128. (The __wrap_ and
// __real_ prefixes are the linker's convention.)
#include <zstd.h>

#include <cstdlib>

namespace {

constexpr int kFuzzWindowLog = 22;

}  // namespace

extern "C" ZSTD_DCtx* __real_ZSTD_createDCtx(void);
extern "C" ZSTD_DCtx* __wrap_ZSTD_createDCtx(void) {
  ZSTD_DCtx* context = __real_ZSTD_createDCtx();
  if (context != nullptr && ZSTD_isError(ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, kFuzzWindowLog))) {
    std::abort();
  }
  return context;
}
