// The target folder's record and lock, and the removal of per-run folders.
// Every launcher that uses a target folder holds a shared lock on its lock
// file from before it checks the folder until its child has ended; a lock
// dies with its process, also when it is killed. The record names the build
// that placed the folder's files (payload/record.h). A folder of a per-run
// spec is removed after the child has ended, and so are the ones earlier runs
// of the same product left beside it (killed launchers), each only when no
// one holds its lock, and only what its record names, or, without a record,
// when it holds nothing but the launcher's own names. A folder of a fixed
// spec that another build of the product placed loses the files that build
// placed and this one has not, before the child starts. Talks to the system
// (files, folders, locks).
#pragma once

#include <cstdint>

#include "template/per_run.h"

namespace quorin::payload {

// Opens the lock file in launcher::g_target_directory and takes a shared
// lock on it, unless this process holds it already. A folder that is not
// there yet is made only with make_folder (a per-run folder, whose record
// goes in before any file); otherwise it is left to placing: with no record
// in it, no removal can take it until this launcher has placed its files and
// locks it then. While a removal holds the folder it waits, for a short
// while, and a per-run folder that a removal took while it was still empty
// is made again; a lock that cannot be had leaves the start to go on without one,
// and then it writes no record and removes nothing of its folder.
void lock_target_folder(bool make_folder);

// For a fixed spec, before the folder is checked: when the target folder's
// record names another build of this product, removes the files that build
// placed and this one (index) has not, then the folders they leave empty,
// so the child never loads a file its build dropped. Only while no other
// process holds the folder's lock: this launcher takes it exclusively, then
// holds it shared. What stays (another start uses the folder, a file in use)
// stays named in the record this start writes, for a later start to remove.
// Files the record does not name are never touched. Prints nothing and never
// stops the start.
void remove_earlier_build(const wchar_t* company, const wchar_t* product, const unsigned char* index,
                          std::uint64_t index_length);

// Writes the record of this build (company, product and the archive's index)
// into the target folder, unless the record there already holds exactly
// that, or this process holds no lock on the folder. Written under a
// temporary name and moved over the old record in one step. A failure writes
// nothing and never stops the start.
void record_target_folder(const wchar_t* company, const wchar_t* product, const unsigned char* index,
                          std::uint64_t index_length);

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
