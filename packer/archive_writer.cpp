// Writes the attached data. Each input file is mapped once: its checksum and
// its bytes for the compressor come from the same mapping.
#include "packer/archive_writer.h"

// For ZSTD_getFrameProgression: how much input the workers have compressed.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "packer/little_endian.h"
#include "packer/platform.h"
#include "payload/checksum.h"
#include "payload/fnv1a.h"
#include "payload/format.h"

namespace quorin::packer {

namespace {

constexpr std::size_t kFeedSize = 1 << 20;
constexpr int kJobSize = 32 << 20;
constexpr int kOverlapLog = 3;
// A name's UTF-16LE unit; the end marker is one 0 unit, an empty name.
constexpr std::size_t kNameUnitSize = sizeof(char16_t);

// The file's bytes, for its checksum and for the compressor alike; a file
// whose size changed since the folder was listed is refused.
Result map_input(const InputFile& file, MappedFile& mapping) {
  if (Result r = map_whole_file(file.source, mapping); !r) return r;
  if (mapping.size != file.size) return fail("'" + path_text(file.source) + "': the file changed while it was packed");
  return ok();
}


// The compressor and the file its output goes to.
struct Sink {
  ZSTD_CCtx* context;
  std::FILE* out;
  std::string buffer;
  std::uint64_t frame_bytes = 0;
  const ProgressFn* progress = nullptr;
  std::uint64_t total = 0;  // the archive's length
};

Result feed(Sink& sink, const void* data, std::size_t size, ZSTD_EndDirective mode) {
  ZSTD_inBuffer in = {data, size, 0};
  for (;;) {
    ZSTD_outBuffer out = {sink.buffer.data(), sink.buffer.size(), 0};
    const std::size_t remaining = ZSTD_compressStream2(sink.context, &out, &in, mode);
    if (ZSTD_isError(remaining)) return fail(std::string("compression failed: ") + ZSTD_getErrorName(remaining));
    if (out.pos > 0 && std::fwrite(out.dst, 1, out.pos, sink.out) != out.pos) {
      return fail(std::string("writing the attached data failed: ") + std::strerror(errno));
    }
    sink.frame_bytes += out.pos;
    // The workers compress behind the input they were handed (a job is
    // 32 MiB), so progress counts what they have compressed, not what they
    // were given; the last call, with the total, is the caller's.
    if (*sink.progress) {
      const std::uint64_t consumed = ZSTD_getFrameProgression(sink.context).consumed;
      (*sink.progress)(std::min(consumed, sink.total - 1), sink.total);
    }
    const bool done = mode == ZSTD_e_end ? remaining == 0 : in.pos == in.size;
    if (done) return ok();
  }
}

}  // namespace

std::uint64_t content_hash_update(std::uint64_t hash, const void* data, std::size_t size) {
  if (hash == 0) hash = payload::kFnv1aOffsetBasis;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) hash = payload::fnv1a_step(hash, bytes[i]);
  return hash;
}

std::uint64_t archive_size(const std::vector<InputFile>& files) {
  std::uint64_t total = kNameUnitSize;  // the end marker
  for (const InputFile& file : files) {
    total += kNameUnitSize * (file.name.size() + 1) + payload::kSizeFieldSize + payload::kChecksumFieldSize + file.size;
  }
  return total;
}

unsigned window_log_for(std::uint64_t archive_bytes) {
  unsigned log = 10;
  while (log < payload::kMaxWindowLog && (std::uint64_t{1} << log) < archive_bytes) ++log;
  return log;
}

Result write_attached_data(const std::vector<InputFile>& files, const CompressOptions& options, std::FILE* out,
                           ArchiveStats& stats, const ProgressFn& progress) {
  stats = {};
  stats.files = files.size();
  stats.archive_bytes = archive_size(files);
  stats.window_log = window_log_for(stats.archive_bytes);

  std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
  if (!context) return fail("compression failed: out of memory");
  // Workers >= 1 always, even on one core: zstd's multi-threaded output is the
  // same for any number of workers, but differs from its single-threaded one,
  // and the same inputs must give the same bytes on every machine.
  const int threads = options.threads > 0 ? options.threads
                                          : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const std::pair<ZSTD_cParameter, int> parameters[] = {
      {ZSTD_c_compressionLevel, options.level},
      {ZSTD_c_windowLog, static_cast<int>(stats.window_log)},
      {ZSTD_c_contentSizeFlag, 0},
      {ZSTD_c_checksumFlag, 0},
      {ZSTD_c_dictIDFlag, 0},
      {ZSTD_c_nbWorkers, threads},
      // zstd's own job size is four windows (512 MiB for a 2^27 window), so an
      // archive below that would be one job on one core whatever the workers.
      // Jobs of 32 MiB keep every core busy; each job starts from the last
      // 2 MiB of the one before it (overlap log 3: window / 64), which keeps
      // nearly all of the ratio. Fixed values: the output stays the same for
      // any number of workers.
      {ZSTD_c_jobSize, kJobSize},
      {ZSTD_c_overlapLog, kOverlapLog},
  };
  for (const auto& [parameter, value] : parameters) {
    const std::size_t r = ZSTD_CCtx_setParameter(context.get(), parameter, value);
    if (ZSTD_isError(r)) return fail(std::string("compression setting failed: ") + ZSTD_getErrorName(r));
  }

  if (std::fwrite(payload::kSignature, 1, payload::kSignatureSize, out) != payload::kSignatureSize) {
    return fail(std::string("writing the attached data failed: ") + std::strerror(errno));
  }
  Sink sink{context.get(), out, std::string(ZSTD_CStreamOutSize(), '\0'), 0, &progress, stats.archive_bytes};
  for (const InputFile& file : files) {
    MappedFile mapping;
    if (Result r = map_input(file, mapping); !r) return r;
    std::string header;
    for (char16_t unit : file.name) put_le(header, unit, kNameUnitSize);
    put_le(header, 0, kNameUnitSize);
    put_le(header, file.size, payload::kSizeFieldSize);
    const std::uint32_t stored = payload::checksum_of(mapping.data, file.size);
    put_le(header, stored, payload::kChecksumFieldSize);
    stats.records.push_back({file.name, file.size, stored});
    stats.content_hash = content_hash_update(stats.content_hash, header.data(), header.size());
    if (Result r = feed(sink, header.data(), header.size(), ZSTD_e_continue); !r) return r;
    for (std::uint64_t offset = 0; offset < file.size; offset += kFeedSize) {
      const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(kFeedSize, file.size - offset));
      if (Result r = feed(sink, mapping.data + offset, piece, ZSTD_e_continue); !r) return r;
    }
  }
  const char end_marker[kNameUnitSize] = {};
  if (Result r = feed(sink, end_marker, sizeof end_marker, ZSTD_e_end); !r) return r;
  if (progress) progress(stats.archive_bytes, stats.archive_bytes);

  std::string trailer(payload::kTrailingZeroBytes, '\0');
  const std::uint64_t in_front = payload::kSignatureSize + sink.frame_bytes + payload::kTrailingZeroBytes;
  put_le(trailer, in_front, payload::kTrailingLengthSize);
  if (std::fwrite(trailer.data(), 1, trailer.size(), out) != trailer.size() || std::fflush(out) != 0 ||
      std::ferror(out)) {
    return fail(std::string("writing the attached data failed: ") + std::strerror(errno));
  }
  stats.attached_bytes = in_front + payload::kTrailingLengthSize;
  return ok();
}

}  // namespace quorin::packer
