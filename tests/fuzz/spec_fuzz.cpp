// Fuzzing the reading of a target directory spec and the lookup of its names,
// as the expander reads them. The input is the spec in UTF-16LE, up to its
// first 0 unit, at most 4096 units. Checked: the reading ends; items are
// contiguous and their positions increase; names lie inside the spec and hold
// no braces; the items rebuild the spec exactly; a second reading gives the
// same items; they equal those of a unit-by-unit re-statement of the brace
// rule; and the lookup agrees with a plain case-folding comparison. Pure test
// code.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "template/per_run.h"
#include "template/placeholders.h"
#include "template/spec_reader.h"
#include "tests/fuzz/fuzz_units.h"

namespace {

using namespace quorin::expansion;

constexpr std::size_t kMaxInputUnits = 4096;

struct Item {
  SpecItemKind kind;
  std::wstring text;  // the literal unit or the name's units
  std::size_t position;
  bool operator==(const Item&) const = default;
};

std::vector<Item> read_items(const std::wstring& spec) {
  std::vector<Item> items;
  SpecReader reader;
  spec_reader_start(reader, spec.c_str());
  // Every item but the end takes at least one unit.
  for (std::size_t reads = 0; reads <= spec.size(); ++reads) {
    const SpecItem item = spec_read(reader);
    QUORIN_FUZZ_CHECK(item.position <= spec.size());
    if (item.kind == SpecItemKind::kLiteral) {
      items.push_back({item.kind, std::wstring(1, item.unit), item.position});
      continue;
    }
    if (item.kind == SpecItemKind::kEnd) {
      items.push_back({item.kind, L"", item.position});
      // It stays at the end.
      const SpecItem again = spec_read(reader);
      QUORIN_FUZZ_CHECK(again.kind == SpecItemKind::kEnd && again.position == item.position);
      return items;
    }
    // A name: its units lie inside the spec, right after the "{" at position.
    QUORIN_FUZZ_CHECK(item.name == spec.c_str() + item.position + 1);
    QUORIN_FUZZ_CHECK(item.position + 1 + item.name_len <= spec.size());
    items.push_back({item.kind, std::wstring(item.name, item.name_len), item.position});
  }
  quorin::fuzz::fail_check("the reading ends", __FILE__, __LINE__);
}

// The brace rule, unit by unit: "{" opens a name (dropping one still open),
// "}" closes an open name, anything else is a literal or a name unit; a name
// open at the end is dropped.
std::vector<Item> restated_items(const std::wstring& spec) {
  std::vector<Item> items;
  bool open = false;
  std::size_t open_at = 0;
  std::wstring name;
  for (std::size_t i = 0; i < spec.size(); ++i) {
    const wchar_t unit = spec[i];
    if (unit == L'{') {
      if (open) items.push_back({SpecItemKind::kDroppedName, name, open_at});
      open = true;
      open_at = i;
      name.clear();
    } else if (open && unit == L'}') {
      items.push_back({SpecItemKind::kName, name, open_at});
      open = false;
    } else if (open) {
      name += unit;
    } else {
      items.push_back({SpecItemKind::kLiteral, std::wstring(1, unit), i});
    }
  }
  if (open) items.push_back({SpecItemKind::kOpenName, name, open_at});
  items.push_back({SpecItemKind::kEnd, L"", spec.size()});
  return items;
}

std::wstring upper_ascii(std::wstring text) {
  for (wchar_t& unit : text) {
    if (unit >= L'a' && unit <= L'z') unit = static_cast<wchar_t>(unit - (L'a' - L'A'));
  }
  return text;
}

void check_lookup(const std::wstring& name) {
  const PlaceholderName* found = find_placeholder(name.data(), name.size());
  const PlaceholderName* expected = nullptr;
  for (const PlaceholderName& entry : kPlaceholders) {
    if (upper_ascii(name) == entry.name) expected = &entry;
  }
  QUORIN_FUZZ_CHECK(found == expected);
}

// A..Z to a..z, as names are compared.
std::wstring lowered(std::wstring text) {
  for (wchar_t& unit : text) {
    if (unit >= L'A' && unit <= L'Z') unit = static_cast<wchar_t>(unit - L'A' + L'a');
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring spec = quorin::fuzz::utf16le_units(data, size);
  spec = spec.substr(0, spec.find(L'\0'));
  if (spec.size() > kMaxInputUnits) return 0;

  const std::vector<Item> items = read_items(spec);
  std::wstring rebuilt;
  std::size_t next = 0;
  for (const Item& item : items) {
    // Contiguous: each item starts where the one before ended.
    QUORIN_FUZZ_CHECK(item.position == next);
    switch (item.kind) {
      case SpecItemKind::kLiteral:
        QUORIN_FUZZ_CHECK(item.text[0] == spec[item.position] && item.text[0] != L'{');
        rebuilt += item.text;
        break;
      case SpecItemKind::kName:
        rebuilt += L'{' + item.text + L'}';
        break;
      case SpecItemKind::kDroppedName:
      case SpecItemKind::kOpenName:
        rebuilt += L'{' + item.text;
        break;
      case SpecItemKind::kEnd:
        QUORIN_FUZZ_CHECK(item.position == spec.size());
        break;
    }
    if (item.kind != SpecItemKind::kLiteral && item.kind != SpecItemKind::kEnd) {
      QUORIN_FUZZ_CHECK(item.text.find_first_of(L"{}") == std::wstring::npos);
      check_lookup(item.text);
    }
    next = rebuilt.size();
  }
  QUORIN_FUZZ_CHECK(rebuilt == spec);
  QUORIN_FUZZ_CHECK(read_items(spec) == items);
  QUORIN_FUZZ_CHECK(restated_items(spec) == items);

  // A per-run spec names {PID}, {RANDOM}, {TIME} or {TIME_US}; the prefix of
  // its last component lies inside the spec, after its last literal
  // backslash, and holds no brace.
  const PerRunSpec per_run = read_per_run(spec.c_str());
  bool names_per_run = false;
  for (const Item& item : items) {
    for (const wchar_t* name : {L"pid", L"random", L"time", L"time_us"}) {
      if (item.kind == SpecItemKind::kName && lowered(item.text) == name) names_per_run = true;
    }
  }
  QUORIN_FUZZ_CHECK(per_run.per_run == names_per_run);
  QUORIN_FUZZ_CHECK(!per_run.in_last_component || per_run.per_run);
  if (per_run.in_last_component) {
    const std::size_t start = static_cast<std::size_t>(per_run.name_prefix - spec.c_str());
    QUORIN_FUZZ_CHECK(start <= spec.size() && per_run.name_prefix_len <= spec.size() - start);
    QUORIN_FUZZ_CHECK(start == 0 || spec[start - 1] == L'\\');
    const std::wstring prefix = spec.substr(start, per_run.name_prefix_len);
    QUORIN_FUZZ_CHECK(prefix.find_first_of(L"{\\") == std::wstring::npos);
    for (const Item& item : items) {
      if (item.kind == SpecItemKind::kLiteral && item.position >= start) QUORIN_FUZZ_CHECK(item.text[0] != L'\\');
    }
  }
  return 0;
}
