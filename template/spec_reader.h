// Reading a target directory spec: literal units, placeholder names between
// braces, and the end. Shared by the launcher's expander and the packer's
// check of a spec. Pure code: no system calls.
//
//   - "{" opens a name; a "{" inside a name opens it afresh, dropping the
//     units collected so far. There is no escape.
//   - "}" inside a name ends it; outside a name it is a literal.
//   - Any other unit is part of the open name, or else a literal.
//   - A name still open at the end of the spec is dropped.
#pragma once

#include <cstddef>

namespace quorin::expansion {

enum class SpecItemKind {
  kLiteral,      // unit: one unit for the output
  kName,         // name, name_len: a name closed by "}" (possibly empty)
  kDroppedName,  // name, name_len: a name opened again by "{" before its "}"
  kOpenName,     // name, name_len: a name still open at the end, dropped
  kEnd,          // the spec's terminator
};

struct SpecItem {
  SpecItemKind kind = SpecItemKind::kEnd;
  wchar_t unit = 0;
  const wchar_t* name = nullptr;  // inside the spec; not terminated
  std::size_t name_len = 0;
  std::size_t position = 0;  // the item's first unit ("{" for names) in the spec
};

// Where a reading stands; start it with spec_reader_start.
struct SpecReader {
  const wchar_t* spec = nullptr;
  std::size_t position = 0;
};

void spec_reader_start(SpecReader& reader, const wchar_t* spec);

// The next item. After kEnd, every further call gives kEnd again.
SpecItem spec_read(SpecReader& reader);

}  // namespace quorin::expansion
