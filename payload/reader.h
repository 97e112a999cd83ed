// The exact-length reader over the attached data's compressed stream: the
// archive's bytes, handed out in requests that are met in full or not at all.
// Shared by the launcher, which stops on a failed request with the decode
// message, and the packer's list, verify and extract, which report it.
// Main thread only. Pure code: libzstd and the heap, no system calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorin::payload {

// Allocates the 128 KiB window, then the decompression context with the
// decoder's defaults (a window limit of 2^27, no dictionary, a content
// checksum verified when present), and points the decoder at the bytes after
// the signature: length - 3 of them (length is at least 3). False when either
// allocation fails.
bool payload_reader_open(const unsigned char* attached_data, std::uint64_t length);

// One decoder call into the empty window, the refill of payload_try_read.
enum class Refill {
  kFilled,    // the call went through; the window may still be empty
  kFrameEnd,  // the call went through and ended the frame (the first or a later one)
  kFailed,    // the decoder refused the data, or no input was left and it held nothing
};
Refill payload_refill();

// Copies exactly count bytes of the archive, the next ones in order, to dest;
// false when the data fails first (what was copied before is not undone). A
// count of 0 never calls the decoder.
bool payload_try_read(void* dest, std::uint64_t count);

// payload_try_read for the launcher: a failure is "Error, couldn't decode
// attached data." and exit code 2.
void payload_read(void* dest, std::uint64_t count);

// The next bytes of the archive in place in the window, at most count of them
// (count above 0): no copy. Sets size to how many; nullptr when the data fails
// first. The bytes stay valid until the next call into the reader.
const unsigned char* payload_next_piece(std::uint64_t count, std::size_t& size);

// Drops the next count bytes of the archive as payload_read would hand them
// out, without copying them; the decode message when the data fails first.
void payload_skip(std::uint64_t count);

// After the archive's end marker: decodes and drops the rest of the current
// frame, adding its bytes to content_after; false when the data fails first.
bool payload_read_to_frame_end(std::uint64_t& content_after);

// Where the reading stands, for the packer's messages and progress.
std::uint64_t payload_input_position();  // compressed bytes taken, counted after the signature
std::uint64_t payload_output_position(); // archive bytes handed out
bool payload_frame_ended();               // the decoder has ended a frame
std::uint64_t payload_frame_end_position();  // input position at the first frame end
const char* payload_failure_text();       // why the latest kFailed, for a message

// Frees the decompression context, then the window.
void payload_reader_close();

}  // namespace quorin::payload
