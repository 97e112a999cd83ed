// The generate command: the stub's baked constants, the defaults unless
// given, as a C++ source. Writes one file.
#include "packer/generate_command.h"

#include <filesystem>
#include <fstream>

#include "packer/exit_status.h"
#include "packer/generated_source.h"
#include "packer/option_values.h"
#include "packer/output_staging.h"
#include "packer/platform.h"

namespace quorin::packer {

namespace {

// The constants with the stub's defaults; a usage error when one cannot be
// baked.
Result read_constants(const ParsedArgs& parsed, BakedConstants& constants, unsigned version_parts[4]) {
  const BakedConstants defaults = default_constants();
  if (Result r = text_option(parsed, "--spec", defaults.spec, constants.spec); !r) return r;
  if (Result r = text_option(parsed, "--company", defaults.company, constants.company); !r) return r;
  if (Result r = text_option(parsed, "--product", defaults.product, constants.product); !r) return r;
  if (Result r = text_option(parsed, "--version", defaults.version, constants.version); !r) return r;
  const std::pair<const char*, const std::u16string*> texts[] = {{"--spec", &constants.spec},
                                                                 {"--company", &constants.company},
                                                                 {"--product", &constants.product},
                                                                 {"--version", &constants.version}};
  for (const auto& [option, text] : texts) {
    if (Result r = check_baked_text(option, *text); !r) return r;
  }
  return parse_version(constants.version, version_parts);
}

}  // namespace

int run_generate(const CommandSpec& command, const ParsedArgs& parsed, const std::string& invocation) {
  BakedConstants constants;
  unsigned version_parts[4];
  if (Result r = read_constants(parsed, constants, version_parts); !r) return usage_error(command, r.error);
  const std::filesystem::path output = path_from_text(parsed.values.at("--output"));
  if (Result r = check_output(output); !r) return report(r.error);
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out << constants_source(constants, invocation);
  out.close();
  if (!out) return report("'" + path_text(output) + "': cannot be written");
  return 0;
}

}  // namespace quorin::packer
