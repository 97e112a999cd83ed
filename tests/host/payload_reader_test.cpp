// The exact-length reader over hand-written frames: requests of every size
// around the 128 KiB window, the window-filled flag at the end of the input,
// and the decode message for decoder errors and requests past the data; and
// the entry header read through it. Pure code, run on the host; the death
// tests end forked copies of the test.
#include <gtest/gtest.h>

#include <unistd.h>
#include <zstd.h>

#include <cstdio>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "payload/entry.h"
#include "payload/format.h"
#include "payload/reader.h"
#include "tests/common/archive_bytes.h"

namespace {

using namespace quorin::test_archive;
using quorin::payload::payload_read;
using quorin::payload::payload_reader_close;
using quorin::payload::payload_reader_open;

constexpr std::size_t kWindow = quorin::payload::kWindowSize;
constexpr char kDecodeMessage[] = "Error, couldn't decode attached data\\.";

void open_reader(const std::string& attached) {
  ASSERT_TRUE(payload_reader_open(reinterpret_cast<const unsigned char*>(attached.data()), attached.size()));
}

// The decode message goes to standard output; a death test matches standard error.
void stdout_to_stderr() {
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

// Reads total bytes in requests of the given sizes, repeated in turn.
std::string read_in_requests(const std::string& attached, const std::vector<std::size_t>& sizes, std::size_t total) {
  open_reader(attached);
  std::string out(total, '\0');
  std::size_t at = 0;
  for (std::size_t i = 0; at < total; ++i) {
    const std::size_t want = sizes[i % sizes.size()];
    const std::size_t n = want < total - at ? want : total - at;
    payload_read(out.data() + at, n);
    at += n;
  }
  payload_reader_close();
  return out;
}

// Reads skip bytes, then count more; ends the process with 0 when all of it
// was handed out. The decode message goes to stdout, moved here to stderr.
[[noreturn]] void read_past(const std::string& attached, std::size_t skip, std::size_t count) {
  stdout_to_stderr();
  open_reader(attached);
  std::string sink(skip > count ? skip : count, '\0');
  payload_read(sink.data(), skip);
  payload_read(sink.data(), count);
  std::exit(0);
}

TEST(PayloadRead, RequestsOfEverySizeAroundTheWindowSeeOneContiguousStream) {
  const std::string content = pattern(3 * kWindow + 12345, 1);
  const struct {
    const char* what;
    std::vector<Block> blocks;
  } frames[] = {
      {"full raw blocks", raw_blocks(content)},
      {"small raw blocks", raw_blocks(content, 1000)},
      {"odd raw blocks", raw_blocks(content, kWindow - 1)},
  };
  // Sizes taken in turn: the extraction's own pattern (unit, size, checksum,
  // chunk), odd steps, the window's size -1/0/+1, and far beyond it.
  const std::vector<std::vector<std::size_t>> requests = {
      {1}, {2, 8, 4, 32768}, {7}, {kWindow - 1}, {kWindow}, {kWindow + 1},
      {kWindow - 1, 2}, {2 * kWindow + 1}, {content.size()},
  };
  for (const auto& frame : frames) {
    const std::string attached = attached_of(frame_of(frame.blocks));
    for (const auto& sizes : requests) {
      EXPECT_TRUE(read_in_requests(attached, sizes, content.size()) == content)
          << frame.what << ", first request " << sizes[0];
    }
  }
}

TEST(PayloadRead, CountZeroNeverCallsTheDecoderEvenWhenNothingIsLeft) {
  // "QZY" alone: no input at all, so any decoder step would be the failure.
  EXPECT_EXIT(read_past("QZY", 0, 0), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(read_past("QZY", 0, 1), ::testing::ExitedWithCode(2), kDecodeMessage);
  const std::string attached = attached_of(frame_of(raw_blocks("abc")));
  EXPECT_EXIT(read_past(attached, 3, 0), ::testing::ExitedWithCode(0), "");
}

TEST(PayloadRead, RequestPastTheDataStopsWithTheDecodeMessage) {
  const std::string content = pattern(kWindow + 10, 2);
  // The trailing fields are no frame: the decoder refuses them.
  const std::string attached = attached_of(frame_of(raw_blocks(content)));
  EXPECT_EXIT(read_past(attached, content.size(), 1), ::testing::ExitedWithCode(2), kDecodeMessage);
  // A request that reaches past the end is never met in part either.
  EXPECT_EXIT(read_past(attached, 10, kWindow + 1), ::testing::ExitedWithCode(2), kDecodeMessage);
  // Without trailing fields, the input simply runs out.
  const std::string bare = attached_of(frame_of(raw_blocks(content)), false);
  EXPECT_EXIT(read_past(bare, content.size(), 1), ::testing::ExitedWithCode(2), kDecodeMessage);
}

// One decoder call over the whole input into an empty window, as the reader
// makes its first one: how much it wrote and whether it took all the input.
std::pair<std::size_t, bool> first_call(const std::string& attached) {
  ZSTD_DCtx* context = ZSTD_createDCtx();
  std::string window(kWindow, '\0');
  ZSTD_inBuffer in = {attached.data() + 3, attached.size() - 3, 0};
  ZSTD_outBuffer out = {window.data(), window.size(), 0};
  const std::size_t result = ZSTD_decompressStream(context, &out, &in);
  ZSTD_freeDCtx(context);
  return {ZSTD_isError(result) ? 0 : out.pos, in.pos == in.size};
}

TEST(PayloadRead, WindowFilledExactlyAtTheEndOfInput) {
  // One window of content and no trailing fields: the first call fills the
  // window and takes the last input byte. The flag makes one more decoder
  // call for the next request; it gives nothing, and that request fails.
  const std::string content = pattern(kWindow, 4);
  const std::string attached = attached_of(frame_of(raw_blocks(content)), false);
  ASSERT_EQ(first_call(attached), std::make_pair(kWindow, true));
  EXPECT_TRUE(read_in_requests(attached, {kWindow}, kWindow) == content);
  EXPECT_TRUE(read_in_requests(attached, {kWindow - 1, 1}, kWindow) == content);
  EXPECT_EXIT(read_past(attached, kWindow, 0), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(read_past(attached, kWindow, 1), ::testing::ExitedWithCode(2), kDecodeMessage);
}

TEST(PayloadRead, WindowFilledWhileTheDecoderHoldsMore) {
  // A raw block of 100,000 bytes, then a run-length block of 100,000, and no
  // trailing fields: the first call fills the window and the decoder holds
  // the other 68,928 bytes. (zstd 1.5 then keeps the last input byte back
  // until it has handed everything out.)
  const std::string content = pattern(100000, 3) + std::string(100000, 'r');
  const std::string attached =
      attached_of(frame_of({{false, content.substr(0, 100000), 0}, {true, "r", 100000}}), false);
  ASSERT_EQ(first_call(attached).first, kWindow);
  EXPECT_TRUE(read_in_requests(attached, {content.size()}, content.size()) == content);
  EXPECT_TRUE(read_in_requests(attached, {kWindow, 1}, content.size()) == content);
  EXPECT_EXIT(read_past(attached, content.size(), 1), ::testing::ExitedWithCode(2), kDecodeMessage);
}

TEST(PayloadRead, WindowOf2To27DecodesAndTheNextLargerIsRefused) {
  const std::string content = pattern(5000, 5);
  const std::string largest = attached_of(frame_of(raw_blocks(content), window_descriptor(17, 0)));
  EXPECT_TRUE(read_in_requests(largest, {content.size()}, content.size()) == content);
  // 2^27 + 2^27/8: the refusal comes with the first request.
  const std::string larger = attached_of(frame_of(raw_blocks(content), window_descriptor(17, 1)));
  EXPECT_EXIT(read_past(larger, 0, 1), ::testing::ExitedWithCode(2), kDecodeMessage);
}

TEST(PayloadRead, DecoderErrorsStopWithTheDecodeMessage) {
  const std::string content = pattern(3 * kWindow, 6);
  const std::string good = frame_of(raw_blocks(content));
  std::string reserved_block = good;
  reserved_block[6 + 3 + kWindow] |= 0x06;  // the second block's header: type 3
  std::string bad_magic = good;
  bad_magic[0] = 0x27;
  const std::string with_dictionary =
      std::string("\x28\xB5\x2F\xFD\x01", 5) + char(window_descriptor(7, 0)) + "\x07" + good.substr(6);
  const std::string wrong_checksum = frame_of(raw_blocks(content), window_descriptor(7, 0), std::string(4, '\0'));
  const std::string cut_short = good.substr(0, good.size() - 1000);
  const struct {
    const char* what;
    std::string attached;
  } cases[] = {
      {"reserved block type", attached_of(reserved_block)},
      {"not a zstd frame", attached_of(bad_magic)},
      {"dictionary needed", attached_of(with_dictionary)},
      {"content checksum wrong", attached_of(wrong_checksum)},
      {"frame cut short, trailing fields after it", attached_of(cut_short)},
      {"frame cut short, nothing after it", attached_of(cut_short, false)},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(read_past(c.attached, 0, content.size()), ::testing::ExitedWithCode(2), kDecodeMessage) << c.what;
  }
  // What lies a window or more before the damage is still handed out.
  std::string damaged_late = frame_of(raw_blocks(content, 1000));
  damaged_late[6 + 300 * (3 + 1000)] |= 0x06;  // block 300 of 1000 bytes each
  EXPECT_EXIT(read_past(attached_of(damaged_late), 300000 - kWindow - 1000, 0), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(read_past(attached_of(damaged_late), 300000, 1), ::testing::ExitedWithCode(2), kDecodeMessage);
}

// ---- the entry header ----

using quorin::payload::EntryHeader;
using quorin::payload::EntryRead;
using quorin::payload::NameProblem;

TEST(EntryFields, LittleEndianWhateverTheMachine) {
  const unsigned char bytes[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
  EXPECT_EQ(quorin::payload::decode_u64_le(bytes), 0x8807060504030201ull);
  EXPECT_EQ(quorin::payload::decode_u32_le(bytes + 4), 0x88070605u);
}

TEST(EntryFields, HeadersOfAnArchiveInOrderThenTheEndMarker) {
  const std::string archive = archive_bytes({{u"app.exe", "MZ", {}}, {u"sub\\NUL.txt", "", 7}, {u"d\\x", "xyz", {}}});
  // The reader reads the attached data in place: it must outlive the reading.
  const std::string attached = attached_of(frame_of(raw_blocks(archive)));
  open_reader(attached);
  EntryHeader header;
  ASSERT_EQ(read_entry_header(header), EntryRead::kEntry);
  EXPECT_EQ(std::wstring(header.name), L"app.exe");
  EXPECT_EQ(header.size, 2u);
  EXPECT_EQ(header.stored_checksum, stored_checksum_of("MZ"));
  payload_read(header.name, 2);
  // A device name is refused, but the whole header is read.
  ASSERT_EQ(read_entry_header(header), EntryRead::kBadName);
  EXPECT_EQ(header.name_problem, NameProblem::kDeviceName);
  EXPECT_EQ(header.stored_checksum, 7u);
  ASSERT_EQ(read_entry_header(header), EntryRead::kEntry);
  EXPECT_EQ(header.name_len, 3u);
  payload_read(header.name, 3);
  EXPECT_EQ(read_entry_header(header), EntryRead::kEndMarker);
  payload_reader_close();
}

TEST(EntryFields, NameOf1024UnitsStopsWithoutOverrunAndACutHeaderFails) {
  EntryHeader header;
  const std::string long_name = attached_of(frame_of(raw_blocks(archive_bytes({{std::u16string(1024, u'a'), "x", {}}}))));
  open_reader(long_name);
  EXPECT_EQ(read_entry_header(header), EntryRead::kNameTooLong);
  EXPECT_EQ(header.name_len, 1023u);
  payload_reader_close();
  std::string cut = archive_bytes({{u"app.exe", "MZ", {}}});
  cut.resize(2 * 8 + 5);  // the name and part of the size
  const std::string cut_attached = attached_of(frame_of(raw_blocks(cut)));
  open_reader(cut_attached);
  EXPECT_EQ(read_entry_header(header), EntryRead::kFailed);
  payload_reader_close();
}

}  // namespace
