// The verify command: every problem of the attached data, one line each or
// as JSON; exit 1 on any. Reads the file.
#include "packer/verify_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "packer/attached_problems.h"
#include "packer/exit_status.h"
#include "packer/inspected_file.h"
#include "packer/json.h"
#include "packer/progress.h"

namespace quorin::packer {

namespace {

void print_json(const InspectedFile& inspected, const std::vector<std::string>& problems) {
  std::vector<std::string> items;
  for (const std::string& problem : problems) items.push_back(json_string(problem));
  const std::string out = json_document({{"file", json_string(inspected.label)},
                                         {"ok", json_bool(problems.empty())},
                                         {"problems", json_block_array(items)}});
  std::fputs(out.c_str(), stdout);
}

void print_lines(const InspectedFile& inspected, const std::vector<std::string>& problems) {
  const char* label = inspected.label.c_str();
  for (const std::string& problem : problems) std::printf("%s: %s\n", label, problem.c_str());
  if (problems.empty()) {
    std::printf("%s: ok\n", label);
  } else {
    std::printf("%s: %zu problem%s\n", label, problems.size(), problems.size() == 1 ? "" : "s");
  }
}

}  // namespace

int run_verify(const ParsedArgs& parsed) {
  InspectedFile inspected;
  if (Result r = open_inspected(path_from_text(parsed.positional.at(0)), inspected); !r) return report(r.error);
  IndexInFile index;
  index.data = inspected.file.data + inspected.where.index_offset;
  index.length = inspected.where.index_length;
  index.place_problem = inspected.where.index_problem;
  const std::vector<std::string> problems = attached_data_problems(
      inspected.attached, inspected.where.length, progress_display(parsed, "verifying"), nullptr, &index);
  if (parsed.values.count("--json") != 0) {
    print_json(inspected, problems);
  } else {
    print_lines(inspected, problems);
  }
  return problems.empty() ? 0 : kExitFailure;
}

}  // namespace quorin::packer
