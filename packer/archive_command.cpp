// The archive command: the attached data of an application folder, written
// under OUT.partial-PID and renamed over OUT when whole. Touches the file
// system.
#include "packer/archive_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "packer/archive_writer.h"
#include "packer/exit_status.h"
#include "packer/folder_imports.h"
#include "packer/option_values.h"
#include "packer/output_staging.h"
#include "packer/pack_inputs.h"
#include "packer/platform.h"
#include "packer/progress.h"

namespace quorin::packer {

int run_archive(const CommandSpec& command, const ParsedArgs& parsed) {
  CompressOptions options;
  if (Result r = compress_options(parsed, options); !r) return usage_error(command, r.error);
  std::vector<std::string> allowed_dlls;
  if (Result r = allowed_missing_dlls(parsed, allowed_dlls); !r) return usage_error(command, r.error);
  const std::filesystem::path output = path_from_text(parsed.values.at("--output"));
  if (Result r = check_output(output); !r) return report(r.error);
  // The folder is listed before the partial file is made, which it must not hold.
  std::vector<InputFile> files;
  std::string left_out;
  if (Result r = collect_program_folder(parsed, files, left_out); !r) return report(r.error);
  if (!left_out.empty()) std::fprintf(stderr, "quorin-pack: warning: %s\n", left_out.c_str());
  // What build refuses is refused here too: build takes this data verbatim.
  const ImportFindings imports = check_folder_imports(files, allowed_dlls);
  for (const std::string& warning : imports.warnings) {
    std::fprintf(stderr, "quorin-pack: warning: %s\n", warning.c_str());
  }
  for (const std::string& refusal : imports.refusals) report(refusal);
  if (!imports.refusals.empty()) return kExitFailure;
  StagedFile staged;
  if (Result r = open_partial(staged, output, FileKind::kData); !r) return report(r.error);
  ArchiveStats stats;
  if (Result r = write_attached_data(files, options, staged.file, stats, progress_display(parsed, "packing")); !r) {
    return report(r.error);
  }
  if (Result r = finish_staged(staged, output); !r) return report(r.error);
  return 0;
}

}  // namespace quorin::packer
