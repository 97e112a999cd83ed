// Whether a target directory spec gives a new folder on every run: one that
// uses {PID}, {RANDOM}, {TIME} or {TIME_US} names a folder no later run
// uses again, so the launcher removes it after its child has ended; and
// whether it gives one to every build ({BUILD}), beside which the folders of
// the product's other builds lie. Decided from the spec's text alone. Pure
// code: no system calls.
#pragma once

#include <cstddef>

namespace quorin::expansion {

struct PerRunSpec {
  bool per_run = false;  // some placeholder gives a value of this run
  // A per-run placeholder stands in the last component: runs of the launcher
  // make sibling folders in one parent, whose names all start with the
  // component's literal text before its first placeholder (name_prefix).
  bool in_last_component = false;
  const wchar_t* name_prefix = nullptr;  // inside the spec; not terminated
  std::size_t name_prefix_len = 0;
};

// Reads spec as the expander does. A spec ending in a backslash has an empty
// last component: in_last_component is false.
PerRunSpec read_per_run(const wchar_t* spec);

// The same for {BUILD}, which gives each build of a product a folder of its
// own: per_run is true when the spec has it, and the rest tells where the
// other builds' folders lie.
PerRunSpec read_per_build(const wchar_t* spec);

}  // namespace quorin::expansion
