// The exact-length reader over the attached data's zstd stream. Uses libzstd
// and the heap; no system calls.
#include "payload/reader.h"

#include <zstd.h>

#include <cstdlib>
#include <cstring>

#include "errors/fatal.h"
#include "payload/format.h"

namespace quorin::payload {

namespace {

constexpr char kDecodeMessage[] = "Error, couldn't decode attached data.";

ZSTD_DCtx* g_context = nullptr;
ZSTD_inBuffer g_input = {nullptr, 0, 0};
// The window between decoder calls: size holds the fill (bytes the latest call
// wrote), pos the read position. Invariant: 0 <= pos <= size <= kWindowSize.
ZSTD_outBuffer g_window = {nullptr, 0, 0};
// The latest call filled the whole window, so the decoder may hold more
// output even when no input is left.
bool g_window_filled = false;

}  // namespace

void payload_reader_open(const unsigned char* attached_data, std::uint64_t length) {
  void* window = std::malloc(kWindowSize);
  if (window == nullptr) errors::fail_plain("Error, couldn't allocate memory.");
  g_context = ZSTD_createDCtx();
  if (g_context == nullptr) errors::fail_plain("Error, couldn't allocate memory.");
  g_input = {attached_data + kSignatureSize, static_cast<std::size_t>(length - kSignatureSize), 0};
  g_window = {window, 0, 0};
  g_window_filled = false;
}

void payload_read(void* dest, std::uint64_t count) {
  auto* out = static_cast<unsigned char*>(dest);
  while (count > 0) {
    const std::size_t available = g_window.size - g_window.pos;
    if (available > 0) {
      const std::size_t take = count < available ? static_cast<std::size_t>(count) : available;
      std::memcpy(out, static_cast<const unsigned char*>(g_window.dst) + g_window.pos, take);
      g_window.pos += take;
      out += take;
      count -= take;
      continue;
    }
    if (g_input.pos >= g_input.size && !g_window_filled) errors::fail_plain(kDecodeMessage);
    ZSTD_outBuffer call = {g_window.dst, kWindowSize, 0};
    const std::size_t result = ZSTD_decompressStream(g_context, &call, &g_input);
    if (ZSTD_isError(result)) errors::fail_plain(kDecodeMessage);
    // Any other result (0 at a frame's end, or a hint) is not needed: a call
    // that only took input is simply followed by the next one.
    g_window.size = call.pos;
    g_window.pos = 0;
    g_window_filled = call.pos == kWindowSize;
  }
}

void payload_reader_close() {
  ZSTD_freeDCtx(g_context);
  g_context = nullptr;
  std::free(g_window.dst);
  g_window = {nullptr, 0, 0};
}

}  // namespace quorin::payload
