// A zstd frame made with the host's libzstd, with the window and the flags a
// test asks for. Host only.
#pragma once

#include <zstd.h>

#include <string>

namespace quorin::test_archive {

struct FrameOptions {
  int window_log = 17;
  bool content_size = false;
  bool checksum = false;
};

inline std::string zstd_frame(const std::string& content, const FrameOptions& options) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 3);
  ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, options.window_log);
  ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, options.content_size ? 1 : 0);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, options.checksum ? 1 : 0);
  if (options.content_size) ZSTD_CCtx_setPledgedSrcSize(context, content.size());
  std::string frame(ZSTD_compressBound(content.size()) + 1024, '\0');
  ZSTD_outBuffer out = {frame.data(), frame.size(), 0};
  ZSTD_inBuffer in = {content.data(), content.size(), 0};
  // Streamed, so the frame keeps the window asked for whatever the content's size.
  while (in.pos < in.size) {
    if (ZSTD_isError(ZSTD_compressStream2(context, &out, &in, ZSTD_e_continue))) break;
  }
  for (;;) {
    const std::size_t left = ZSTD_compressStream2(context, &out, &in, ZSTD_e_end);
    if (left == 0 || ZSTD_isError(left)) break;
  }
  ZSTD_freeCCtx(context);
  frame.resize(out.pos);
  return frame;
}

}  // namespace quorin::test_archive
