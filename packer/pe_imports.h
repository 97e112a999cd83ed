// The DLLs a Windows program or DLL names in its import table and in its
// delay-load import table, read from the file as the Windows loader reads
// them from the mapped image. Pure code over mapped bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/pe_image.h"
#include "packer/result.h"

namespace quorin::packer {

struct ImportedDll {
  std::string name;      // as the table spells it ("KERNEL32.dll")
  bool delayed = false;  // from the delay-load table: loaded at the first call into it
};

// Appends the DLLs of both tables of the image read from data (size bytes),
// in table order. Fails, naming the table and what is wrong, when a
// descriptor or a name lies outside the file's sections or a name runs on
// without its end; dlls then holds what was read before. A table the
// directory does not point to is empty.
Result read_pe_imports(const unsigned char* data, std::uint64_t size, const PeImage& image,
                       std::vector<ImportedDll>& dlls);

}  // namespace quorin::packer
