// Writing an RGBA image as a PNG file. Pure code.
//
//   signature | IHDR (size, 8-bit RGBA) | IDAT (zlib stream of the filtered
//   rows) | IEND, each chunk: length, type, data, CRC-32 of type and data.
// Each row is filtered with the one of the five PNG filters whose output has
// the smallest sum of magnitudes, the usual heuristic.
#include "packer/png.h"

#include <libdeflate.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace quorin::packer {

namespace {

void put_be(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void put_chunk(std::string& out, const char* type, const std::string& data) {
  put_be(out, static_cast<std::uint32_t>(data.size()));
  const std::string typed = std::string(type, 4) + data;
  out += typed;
  put_be(out, libdeflate_crc32(0, typed.data(), typed.size()));
}

unsigned char paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return static_cast<unsigned char>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Row y filtered with filter type (0 none, 1 sub, 2 up, 3 average, 4 Paeth).
std::string filtered(const unsigned char* row, const unsigned char* above, std::size_t bytes, int type) {
  constexpr std::size_t kPixel = 4;
  std::string out(bytes, '\0');
  for (std::size_t i = 0; i < bytes; ++i) {
    const int a = i >= kPixel ? row[i - kPixel] : 0, b = above != nullptr ? above[i] : 0;
    const int c = i >= kPixel && above != nullptr ? above[i - kPixel] : 0;
    const int predicted = type == 0 ? 0 : type == 1 ? a : type == 2 ? b : type == 3 ? (a + b) / 2 : paeth(a, b, c);
    out[i] = static_cast<char>(row[i] - predicted);
  }
  return out;
}

std::size_t magnitude(const std::string& row) {
  std::size_t sum = 0;
  for (const char c : row) sum += static_cast<std::size_t>(std::abs(static_cast<int>(static_cast<signed char>(c))));
  return sum;
}

}  // namespace

std::string png_image(unsigned width, unsigned height, const std::string& rgba) {
  const std::size_t row_bytes = 4 * static_cast<std::size_t>(width);
  const auto* pixels = reinterpret_cast<const unsigned char*>(rgba.data());
  std::string raw;
  for (unsigned y = 0; y < height; ++y) {
    const unsigned char* row = pixels + row_bytes * y;
    const unsigned char* above = y > 0 ? row - row_bytes : nullptr;
    std::string best;
    int best_type = 0;
    for (int type = 0; type <= 4; ++type) {
      std::string candidate = filtered(row, above, row_bytes, type);
      if (type == 0 || magnitude(candidate) < magnitude(best)) {
        best = std::move(candidate);
        best_type = type;
      }
    }
    raw.push_back(static_cast<char>(best_type));
    raw += best;
  }
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(12);
  std::string compressed(libdeflate_zlib_compress_bound(compressor, raw.size()), '\0');
  compressed.resize(libdeflate_zlib_compress(compressor, raw.data(), raw.size(), compressed.data(), compressed.size()));
  libdeflate_free_compressor(compressor);

  std::string header;
  put_be(header, width);
  put_be(header, height);
  header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, adaptive filters, no interlace
  std::string out("\x89PNG\r\n\x1a\n", 8);
  put_chunk(out, "IHDR", header);
  put_chunk(out, "IDAT", compressed);
  put_chunk(out, "IEND", "");
  return out;
}

}  // namespace quorin::packer
