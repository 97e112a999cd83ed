// Benchmark reference: decodes a launcher's attached data and nothing else,
// as the launcher's reader does (the frame streamed through one 128 KiB
// output window, every call filling it from the start; the output dropped).
// Talks to the system (maps the launcher exe).
//   decode_alone.exe FILE OFFSET LENGTH   -> "bytes=N ms=T" on stdout
#include <zstd.h>

#include <cstdlib>

#include "bench/programs/reference_common.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) bench::fail("usage: decode_alone.exe FILE OFFSET LENGTH");
  const bench::AttachedData attached = bench::attached_data_from(argv[1], argv[2], argv[3]);
  const double start = bench::now_ms();

  void* window = std::malloc(bench::kWindowSize);
  ZSTD_DCtx* context = ZSTD_createDCtx();
  if (window == nullptr || context == nullptr) bench::fail("out of memory");
  ZSTD_inBuffer input = {attached.frame, static_cast<std::size_t>(attached.input_size), 0};
  unsigned long long decoded = 0;
  for (;;) {
    ZSTD_outBuffer output = {window, bench::kWindowSize, 0};
    const std::size_t result = ZSTD_decompressStream(context, &output, &input);
    if (ZSTD_isError(result)) bench::fail(ZSTD_getErrorName(result));
    decoded += output.pos;
    if (result == 0) break;  // the frame is decoded and flushed
    if (input.pos == input.size && output.pos < bench::kWindowSize) bench::fail("the frame is cut short");
  }
  ZSTD_freeDCtx(context);
  std::free(window);

  std::printf("bytes=%llu ms=%.3f\n", decoded, bench::now_ms() - start);
  return 0;
}
