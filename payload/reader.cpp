// The exact-length reader over the attached data's zstd stream. Pure code:
// libzstd and the heap, no system calls.
#include "payload/reader.h"

#include <zstd.h>

#include <cstdlib>
#include <cstring>

#include "errors/fatal.h"
#include "errors/messages.h"
#include "payload/format.h"

namespace quorin::payload {

namespace {

ZSTD_DCtx* g_context = nullptr;
ZSTD_inBuffer g_input = {nullptr, 0, 0};
// The window between decoder calls: size holds the fill (bytes the latest call
// wrote), pos the read position. Invariant: 0 <= pos <= size <= kWindowSize.
ZSTD_outBuffer g_window = {nullptr, 0, 0};
// The latest call filled the whole window, so the decoder may hold more
// output even when no input is left.
bool g_window_filled = false;
std::uint64_t g_handed_out = 0;
bool g_frame_ended = false;
std::uint64_t g_frame_end_position = 0;
const char* g_failure = "";

}  // namespace

bool payload_reader_open(const unsigned char* attached_data, std::uint64_t length) {
  void* window = std::malloc(kWindowSize);
  if (window == nullptr) return false;
  g_context = ZSTD_createDCtx();
  if (g_context == nullptr) {
    std::free(window);
    return false;
  }
  g_input = {attached_data + kSignatureSize, static_cast<std::size_t>(length - kSignatureSize), 0};
  g_window = {window, 0, 0};
  g_window_filled = false;
  g_handed_out = 0;
  g_frame_ended = false;
  g_frame_end_position = 0;
  g_failure = "";
  return true;
}

Refill payload_refill() {
  if (g_input.pos >= g_input.size && !g_window_filled) {
    g_failure = "the data ends inside the frame";
    return Refill::kFailed;
  }
  ZSTD_outBuffer call = {g_window.dst, kWindowSize, 0};
  const std::size_t result = ZSTD_decompressStream(g_context, &call, &g_input);
  if (ZSTD_isError(result)) {
    g_failure = ZSTD_getErrorName(result);
    return Refill::kFailed;
  }
  g_window.size = call.pos;
  g_window.pos = 0;
  g_window_filled = call.pos == kWindowSize;
  // 0 ends a frame; any other result is a hint of the input still wanted,
  // not needed: a call that only took input is simply followed by the next.
  if (result != 0) return Refill::kFilled;
  if (!g_frame_ended) g_frame_end_position = g_input.pos;
  g_frame_ended = true;
  return Refill::kFrameEnd;
}

// The window is refilled whenever it is empty: the decoder runs while input
// remains or it may hold output; after a frame's end it meets the trailing
// fields, which are no frame, and refuses them.
const unsigned char* payload_next_piece(std::uint64_t count, std::size_t& size) {
  size = 0;
  while (g_window.pos == g_window.size) {
    if (payload_refill() == Refill::kFailed) return nullptr;
  }
  const std::size_t available = g_window.size - g_window.pos;
  size = count < available ? static_cast<std::size_t>(count) : available;
  const unsigned char* piece = static_cast<const unsigned char*>(g_window.dst) + g_window.pos;
  g_window.pos += size;
  g_handed_out += size;
  return piece;
}

bool payload_try_read(void* dest, std::uint64_t count) {
  auto* out = static_cast<unsigned char*>(dest);
  while (count > 0) {
    std::size_t size = 0;
    const unsigned char* piece = payload_next_piece(count, size);
    if (piece == nullptr) return false;
    std::memcpy(out, piece, size);
    out += size;
    count -= size;
  }
  return true;
}

void payload_read(void* dest, std::uint64_t count) {
  if (!payload_try_read(dest, count)) errors::fail_plain(errors::kDecodeMessage);
}

void payload_skip(std::uint64_t count) {
  while (count > 0) {
    std::size_t size = 0;
    if (payload_next_piece(count, size) == nullptr) errors::fail_plain(errors::kDecodeMessage);
    count -= size;
  }
}

bool payload_read_to_frame_end(std::uint64_t& content_after) {
  for (;;) {
    content_after += g_window.size - g_window.pos;
    g_window.pos = g_window.size;
    if (g_frame_ended) return true;
    if (payload_refill() == Refill::kFailed) return false;
  }
}

std::uint64_t payload_input_position() { return g_input.pos; }
std::uint64_t payload_output_position() { return g_handed_out; }
bool payload_frame_ended() { return g_frame_ended; }
std::uint64_t payload_frame_end_position() { return g_frame_end_position; }
const char* payload_failure_text() { return g_failure; }

void payload_reader_close() {
  ZSTD_freeDCtx(g_context);
  g_context = nullptr;
  std::free(g_window.dst);
  g_window = {nullptr, 0, 0};
}

}  // namespace quorin::payload
