// The exact-length reader over the attached data's compressed stream. Every
// request is met in full or the launcher stops with the decode message.
// Main thread only. No system calls beyond the heap.
#pragma once

#include <cstdint>

namespace quorin::payload {

// Allocates the 128 KiB window, then the decompression context ("couldn't
// allocate memory" when either fails), and points the decoder at the bytes
// after the signature: length - 3 of them.
void payload_reader_open(const unsigned char* attached_data, std::uint64_t length);

// Copies exactly count bytes of the archive, the next ones in order, to dest.
void payload_read(void* dest, std::uint64_t count);

// Frees the decompression context, then the window.
void payload_reader_close();

}  // namespace quorin::payload
