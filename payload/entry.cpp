// Reading one entry's header. Pure code over the reader.
#include "payload/entry.h"

#include "payload/reader.h"

namespace quorin::payload {

EntryRead read_entry_header(EntryHeader& header) {
  header.name_len = 0;
  header.name[0] = L'\0';
  header.size = 0;
  header.stored_checksum = 0;
  header.name_problem = NameProblem::kNone;
  for (;;) {
    unsigned char bytes[2];
    if (!payload_try_read(bytes, sizeof bytes)) return EntryRead::kFailed;
    const wchar_t unit = static_cast<wchar_t>(bytes[0] | bytes[1] << 8);
    if (unit == L'\0') break;
    // The buffer holds 1023 units and the terminator: a longer name is never
    // stored, so nothing is written past it.
    if (header.name_len + 1 >= kEntryNameCap) return EntryRead::kNameTooLong;
    header.name[header.name_len++] = unit;
    header.name[header.name_len] = L'\0';
  }
  if (header.name_len == 0) return EntryRead::kEndMarker;
  unsigned char fields[kSizeFieldSize + kChecksumFieldSize];
  if (!payload_try_read(fields, sizeof fields)) return EntryRead::kFailed;
  header.size = decode_u64_le(fields);
  header.stored_checksum = decode_u32_le(fields + kSizeFieldSize);
  header.name_problem = entry_name_problem(header.name, header.name_len);
  return header.name_problem == NameProblem::kNone ? EntryRead::kEntry : EntryRead::kBadName;
}

}  // namespace quorin::payload
