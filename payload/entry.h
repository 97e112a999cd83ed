// Reading one entry's header from the archive through the reader: the name
// (units up to a 0 unit), the size and the stored checksum, and the name
// rule. The entry walk that the launcher and the packer share. Pure code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/entry_name.h"
#include "payload/format.h"

namespace quorin::payload {

struct EntryHeader {
  wchar_t name[kEntryNameCap];  // terminated
  std::size_t name_len = 0;
  std::uint64_t size = 0;
  std::uint32_t stored_checksum = 0;
  NameProblem name_problem = NameProblem::kNone;
};

enum class EntryRead {
  kEntry,        // a sound header; its data follows
  kEndMarker,    // the empty name: the archive ends
  kBadName,      // a whole header whose name breaks the rule (name_problem says how)
  kNameTooLong,  // 1024 units without a terminator: the walk cannot go on
  kFailed,       // the reader failed inside the header
};

// Reads the next header into header. After kEntry and kBadName, size bytes
// of data follow; nothing follows the others.
EntryRead read_entry_header(EntryHeader& header);

}  // namespace quorin::payload
