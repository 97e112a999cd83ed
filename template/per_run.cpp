// Whether a target directory spec gives a new folder on every run, or on
// every build. Pure code.
#include "template/per_run.h"

#include "template/placeholders.h"
#include "template/spec_reader.h"

namespace quorin::expansion {

namespace {

bool is_per_run(Placeholder placeholder) {
  switch (placeholder) {
    case Placeholder::kPid:
    case Placeholder::kRandom:
    case Placeholder::kTime:
    case Placeholder::kTimeUs:
      return true;
    default:
      return false;
  }
}

bool is_build(Placeholder placeholder) { return placeholder == Placeholder::kBuild; }

// Reads spec as the expander does, looking for the placeholders wanted picks.
PerRunSpec read_for(const wchar_t* spec, bool (*wanted)(Placeholder)) {
  PerRunSpec result;
  SpecReader reader;
  spec_reader_start(reader, spec);
  // Of the component being read: where it starts, whether a wanted
  // placeholder and any placeholder were met in it, and its literal prefix.
  bool component_wanted = false;
  bool component_named = false;
  std::size_t component_start = 0;
  std::size_t prefix_len = 0;
  for (;;) {
    const SpecItem item = spec_read(reader);
    if (item.kind == SpecItemKind::kEnd) break;
    if (item.kind == SpecItemKind::kLiteral) {
      if (item.unit == L'\\') {
        component_wanted = false;
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
    const PlaceholderName* found =
        item.kind == SpecItemKind::kName ? find_placeholder(item.name, item.name_len) : nullptr;
    if (found != nullptr && wanted(found->placeholder)) {
      result.per_run = true;
      component_wanted = true;
    }
  }
  result.in_last_component = component_wanted;
  if (component_wanted) {
    result.name_prefix = spec + component_start;
    result.name_prefix_len = prefix_len;
  }
  return result;
}

}  // namespace

PerRunSpec read_per_run(const wchar_t* spec) { return read_for(spec, is_per_run); }

PerRunSpec read_per_build(const wchar_t* spec) { return read_for(spec, is_build); }

}  // namespace quorin::expansion
