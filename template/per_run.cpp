// Whether a target directory spec gives a new folder on every run. Pure code.
#include "template/per_run.h"

#include "template/placeholders.h"
#include "template/spec_reader.h"

namespace quorin::expansion {

namespace {

bool is_per_run(const SpecItem& item) {
  const PlaceholderName* found = find_placeholder(item.name, item.name_len);
  if (found == nullptr) return false;
  switch (found->placeholder) {
    case Placeholder::kPid:
    case Placeholder::kRandom:
    case Placeholder::kTime:
    case Placeholder::kTimeUs:
      return true;
    default:
      return false;
  }
}

}  // namespace

PerRunSpec read_per_run(const wchar_t* spec) {
  PerRunSpec result;
  SpecReader reader;
  spec_reader_start(reader, spec);
  // Of the component being read: where it starts, whether a per-run
  // placeholder and any placeholder were met in it, and its literal prefix.
  bool component_per_run = false;
  bool component_named = false;
  std::size_t component_start = 0;
  std::size_t prefix_len = 0;
  for (;;) {
    const SpecItem item = spec_read(reader);
    if (item.kind == SpecItemKind::kEnd) break;
    if (item.kind == SpecItemKind::kLiteral) {
      if (item.unit == L'\\') {
        component_per_run = false;
        component_named = false;
        component_start = item.position + 1;
        prefix_len = 0;
      } else if (!component_named) {
        ++prefix_len;
      }
      continue;
    }
    // A name, closed or not, ends the literal prefix.
    component_named = true;
    if (item.kind == SpecItemKind::kName && is_per_run(item)) {
      result.per_run = true;
      component_per_run = true;
    }
  }
  result.in_last_component = component_per_run;
  if (component_per_run) {
    result.name_prefix = spec + component_start;
    result.name_prefix_len = prefix_len;
  }
  return result;
}

}  // namespace quorin::expansion
