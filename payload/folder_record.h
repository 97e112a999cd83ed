// The target folder's record: it names the build that placed the folder's
// files (payload/record.h), written by the start that placed them and read
// by the starts that remove them (payload/folder_removal.h). A folder of a
// fixed spec that another build of the product placed loses the files that
// build placed and this one has not, before the child starts. Talks to the
// system (files, folders, locks).
#pragma once

#include <cstdint>

namespace quorin::payload {

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

}  // namespace quorin::payload
