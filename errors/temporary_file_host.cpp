// The host build's current temporary file: the packer, the host tests and the
// fuzzers share the reporters but never write a launcher's temporary file, so
// there is nothing to remove. No system calls.
#include "errors/temporary_file.h"

namespace quorin::errors {

void remove_temporary_file() {}

}  // namespace quorin::errors
