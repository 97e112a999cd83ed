// The constants baked into each launcher by the packer: declared here, defined
// by the generated source, which includes this header so that both must agree.
#pragma once

#include <cstdint>

namespace quorin::generated {

extern const wchar_t kTargetDirectorySpec[];
extern const wchar_t kCompany[];
extern const wchar_t kProduct[];
extern const wchar_t kVersion[];

}  // namespace quorin::generated

// The attached data is assembled from a binary file (.incbin), so its symbols
// have C names.
extern "C" const unsigned char quorin_attached_data[];
extern "C" const std::uint64_t quorin_attached_data_length;
