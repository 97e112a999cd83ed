// Damaged attached data end to end: every mutant launcher the fixtures built
// (fixtures\attached\mutant_N) is started once on an empty target with a time
// limit. A child may start only when every file holds what its entry's stored
// checksum says; nothing may be written outside the target; no launcher may
// hang or crash. Talks to the system (processes, files).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "payload/checksum.h"
#include "payload/entry.h"
#include "payload/reader.h"
#include "tests/windows/support/payload.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;
namespace payload = quorin::payload;

std::wstring tests_dir() { return temp_dir() + L"\\quorin-tests"; }

std::wstring upper(std::wstring text) {
  CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// The stored checksum of every entry (the last one of a name, in any case),
// when the whole archive reads to its end marker with every entry's data
// matching its stored checksum; false otherwise.
bool sound_entries(const std::string& attached, std::map<std::wstring, std::pair<std::wstring, std::uint32_t>>& entries) {
  if (attached.size() < 3 || attached.compare(0, 3, "QZY") != 0) return false;
  if (!payload::payload_reader_open(reinterpret_cast<const unsigned char*>(attached.data()), attached.size())) {
    return false;
  }
  bool sound = false;
  static payload::EntryHeader header;
  static unsigned char chunk[32768];
  for (;;) {
    const payload::EntryRead read = payload::read_entry_header(header);
    if (read == payload::EntryRead::kEndMarker) {
      sound = true;
      break;
    }
    if (read != payload::EntryRead::kEntry) break;
    std::uint32_t crc = 0;
    bool read_all = true;
    for (std::uint64_t left = header.size; left > 0 && read_all;) {
      const std::uint64_t take = left < sizeof chunk ? left : sizeof chunk;
      read_all = payload::payload_try_read(chunk, take);
      crc = payload::crc32_update(crc, chunk, take);
      left -= take;
    }
    if (!read_all || payload::stored_checksum(crc) != header.stored_checksum) break;
    const std::wstring name(header.name, header.name_len);
    entries[upper(name)] = {name, header.stored_checksum};
  }
  payload::payload_reader_close();
  return sound;
}

TEST(DamagedData, NoChildOnADamagedFileNoWriteOutsideTheTargetNoHangOrCrash) {
  int mutants = 0, stopped = 0, hard_stops = 0, children = 0, damaged_children = 0, outside = 0, hangs = 0, crashes = 0, left = 0;
  const std::wstring base = tests_dir() + L"\\mutants";
  const std::wstring reports = tests_dir() + L"\\mutant-reports";
  remove_tree(base);
  remove_tree(reports);
  make_folders(reports);
  for (int i = 0;; ++i) {
    const std::wstring attached_path = fixture_path(L"attached\\mutant_" + std::to_wstring(i));
    if (!file_exists(attached_path)) break;
    ++mutants;
    const std::wstring report = reports + L"\\" + std::to_wstring(i) + L".txt";
    const std::wstring target = base + L"\\" + std::to_wstring(i) + L"\\target";
    ProcessOptions options;
    options.env = {{L"QUORIN_PROBE_REPORT", report}};
    options.timeout_ms = 30000;
    const ProcessResult run = run_process(launcher_path(L"mutant_" + std::to_wstring(i)), options);
    const std::string which = "mutant " + std::to_string(i) + ": ";

    const bool child_ran = file_exists(report);
    if (run.exit_code == 0xDEAD) {
      ++hangs;
      ADD_FAILURE() << which << "no end within 30 s";
    } else if (child_ran) {
      ++children;
      if (run.exit_code != 0) {
        ++crashes;
        ADD_FAILURE() << which << "its child ended with " << run.exit_code;
      }
    } else if (run.exit_code == 2) {
      ++stopped;
    } else if (run.exit_code == 3) {
      ++hard_stops;
    } else {
      ++crashes;
      ADD_FAILURE() << which << "ended with " << run.exit_code << "\n" << run.out << run.err;
    }

    // A child ran: the archive must be sound and every file as stored.
    if (child_ran) {
      std::map<std::wstring, std::pair<std::wstring, std::uint32_t>> entries;
      bool bad = !sound_entries(read_file(attached_path), entries);
      for (const auto& [key, entry] : entries) {
        if (checksum_of(read_file(target + L"\\" + entry.first)) != entry.second) bad = true;
      }
      if (bad) {
        ++damaged_children;
        ADD_FAILURE() << which << "a child started on damaged data";
      }
    }
    // Only the target may have been written into.
    for (const auto& [relative, item] : snapshot_tree(base + L"\\" + std::to_wstring(i))) {
      if (relative.rfind(L"target\\", 0) != 0) {
        ++outside;
        ADD_FAILURE() << which << "wrote " << narrow(relative) << " beside its target";
      }
    }
    left += static_cast<int>(temporaries_in(target).size());
  }
  // Or anywhere a crafted name could lead.
  for (const std::wstring& escaped : {base + L"\\escaped.txt", tests_dir() + L"\\escaped.txt",
                                      temp_dir() + L"\\escaped.txt", std::wstring(L"C:\\escaped.txt")}) {
    if (file_exists(escaped)) {
      ++outside;
      ADD_FAILURE() << narrow(escaped) << " was written";
    }
  }
  std::printf("damaged data: %d mutants; %d stopped with a message (exit 2), %d with a hard stop (exit 3), %d started "
              "the child (%d on damaged data); %d wrote outside the target, %d hung, %d crashed, %d temporary files "
              "left\n",
              mutants, stopped, hard_stops, children, damaged_children, outside, hangs, crashes, left);
  EXPECT_GT(mutants, 0);
  EXPECT_EQ(left, 0);
  remove_tree(base);
  remove_tree(reports);
}

}  // namespace
