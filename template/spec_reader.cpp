// Reading a target directory spec. Pure code.
#include "template/spec_reader.h"

namespace quorin::expansion {

void spec_reader_start(SpecReader& reader, const wchar_t* spec) {
  reader.spec = spec;
  reader.position = 0;
}

SpecItem spec_read(SpecReader& reader) {
  SpecItem item;
  const wchar_t* spec = reader.spec;
  std::size_t at = reader.position;
  item.position = at;
  if (spec[at] == L'\0') return item;  // kEnd; the position stays on the terminator
  if (spec[at] != L'{') {
    item.kind = SpecItemKind::kLiteral;  // a "}" outside a name included
    item.unit = spec[at];
    reader.position = at + 1;
    return item;
  }
  // A name: its units run from after the "{" to the next "}", "{" or the end.
  const std::size_t start = at + 1;
  std::size_t end = start;
  while (spec[end] != L'\0' && spec[end] != L'}' && spec[end] != L'{') ++end;
  item.name = spec + start;
  item.name_len = end - start;
  if (spec[end] == L'}') {
    item.kind = SpecItemKind::kName;
    reader.position = end + 1;
  } else if (spec[end] == L'{') {
    item.kind = SpecItemKind::kDroppedName;
    reader.position = end;  // the "{" opens the next name
  } else {
    item.kind = SpecItemKind::kOpenName;
    reader.position = end;
  }
  return item;
}

}  // namespace quorin::expansion
