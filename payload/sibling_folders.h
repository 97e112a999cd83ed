// The folders beside the target folder. A folder of a per-run spec is
// removed after the child has ended, and so are the ones earlier runs of the
// same product left beside it (killed launchers); with {BUILD} in the last
// folder name, the folders of other builds go while the child runs. Each
// only when no one holds its lock, and only what its record names, or,
// without a record, when it holds nothing but the launcher's own names.
// Talks to the system (files, folders, locks).
#pragma once

#include <cstdint>

#include "template/per_run.h"

namespace quorin::payload {

// While the child runs, for a spec with {BUILD} in its last folder name
// (per_build): removes the folders of other builds of this product beside
// the target folder, but the keep newest (by their last write) and those whose
// lock someone holds; only what each one's record names. kKeepEveryBuild
// keeps them all. A start that finds no more folders beside its own than it
// keeps reads nothing more. Never stops the launcher and prints nothing.
void remove_other_builds(const expansion::PerRunSpec& per_build, std::uint32_t keep, const wchar_t* company,
                         const wchar_t* product);

// After the child has ended, for a per-run spec: removes the target folder
// (its own lock released first, then taken exclusively), then, when the
// per-run part is the folder's own name, the folders of earlier runs beside
// it whose record names this product, or that hold nothing but the lock
// file and temporaries of ended runs, and whose lock no one holds. Never
// stops the launcher and prints nothing; what cannot be removed stays for a
// later start.
void remove_per_run_folders(const expansion::PerRunSpec& per_run, const wchar_t* company, const wchar_t* product);

}  // namespace quorin::payload
