// list, verify and extract.
#include "packer/inspect.h"

#include <cstdio>

#include "packer/commands.h"

namespace quorin::packer {

int run_list(const ParsedArgs&) {
  std::fputs("quorin-pack: list is not built yet\n", stderr);
  return kExitFailure;
}
int run_verify(const ParsedArgs&) {
  std::fputs("quorin-pack: verify is not built yet\n", stderr);
  return kExitFailure;
}
int run_extract(const ParsedArgs&) {
  std::fputs("quorin-pack: extract is not built yet\n", stderr);
  return kExitFailure;
}

}  // namespace quorin::packer
