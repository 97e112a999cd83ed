// The file that list, verify and extract read. Reads the file.
#include "packer/inspected_file.h"

namespace quorin::packer {

Result open_inspected(const std::filesystem::path& path, InspectedFile& inspected) {
  inspected.label = path_text(path);
  if (Result r = map_whole_file(path, inspected.file); !r) return r;
  if (Result r = locate_attached_data(inspected.file.data, inspected.file.size, inspected.where); !r) {
    return fail("'" + inspected.label + "': " + r.error);
  }
  inspected.attached = inspected.file.data + inspected.where.offset;
  return ok();
}

}  // namespace quorin::packer
