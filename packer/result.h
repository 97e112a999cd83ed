// How the packer's parts report failure to the command: an empty message is
// success, anything else is "<what failed>: <why>" for the one-line error.
#pragma once

#include <string>
#include <utility>

namespace quorin::packer {

struct Result {
  std::string error;
  explicit operator bool() const { return error.empty(); }
};

inline Result ok() { return {}; }
inline Result fail(std::string message) { return {std::move(message)}; }

}  // namespace quorin::packer
