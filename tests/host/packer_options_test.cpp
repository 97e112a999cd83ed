// The packer's command-line parser and the build stamp's date, through their
// own headers: one row per rule.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "packer/build_defaults.h"
#include "packer/options.h"
#include "packer/utf16.h"

namespace {

using quorin::packer::find_command;
using quorin::packer::ParsedArgs;

struct ParseCase {
  const char* command;
  std::vector<std::string> args;
  std::string error;     // "" when the arguments are good
  std::string expected;  // the values and operands parsed, as "name=value;...name=[value,...];...|operand"
};

std::string parsed_text(const ParsedArgs& parsed) {
  std::string text;
  for (const auto& [name, value] : parsed.values) text += name + "=" + value + ";";
  for (const auto& [name, values] : parsed.repeated) {
    text += name + "=[";
    for (const std::string& value : values) text += value + (&value == &values.back() ? "" : ",");
    text += "];";
  }
  for (const std::string& operand : parsed.positional) text += "|" + operand;
  return text;
}

TEST(PackerOptions, ParseArgs) {
  const ParseCase cases[] = {
      {"list", {"-q", "--json", "f"}, "", "--json=;--quiet=;|f"},
      {"archive", {"--input=in", "--child", "a.exe", "-oOUT", "-19", "-T2"}, "",
       "--child=a.exe;--input=in;--level=19;--output=OUT;--threads=2;"},
      {"archive", {"--input", "in", "--child", "a.exe", "-o", "x", "-1"}, "",
       "--child=a.exe;--input=in;--level=1;--output=x;"},
      {"list", {"--", "-q"}, "", "|-q"},
      {"list", {"-"}, "", "|-"},
      {"list", {"--jsn", "f"}, "unknown option '--jsn' (did you mean '--json'?)", ""},
      {"list", {"-x", "f"}, "unknown option '-x'", ""},
      {"archive", {"-23"}, "unknown option '-23'", ""},
      {"extract", {"f", "--output"}, "option '--output' needs a value (DIR)", ""},
      {"list", {"--json=yes", "f"}, "option '--json' takes no value", ""},
      {"list", {"-qx", "f"}, "option '-q' takes no value", ""},
      {"list", {"--json", "--json", "f"}, "option '--json' given twice", ""},
      {"archive", {"-3", "--level", "4"}, "option '--level' given twice", ""},
      {"archive", {"--input", "in", "--child", "a.exe", "-o", "x", "--allow-missing-dll", "a.dll",
                   "--allow-missing-dll=b"},
       "", "--allow-missing-dll=b;--child=a.exe;--input=in;--output=x;--allow-missing-dll=[a.dll,b];"},
      {"list", {"f", "g"}, "unexpected argument 'g'", ""},
      {"list", {}, "missing FILE operand", ""},
      {"extract", {"f"}, "missing --output", ""},
      {"build", {"-o", "x", "--input", "in"}, "missing --child (--input and --child go together)", ""},
      {"build", {"-o", "x", "--attached", "a", "-9"}, "--level has no use with --attached", ""},
      {"list", {"--bogus", "-h"}, "unknown option '--bogus'", ""},
  };
  for (const ParseCase& c : cases) {
    ParsedArgs parsed;
    const auto error = quorin::packer::parse_args(*find_command(c.command), c.args, parsed);
    EXPECT_EQ(error.value_or(""), c.error) << c.command << " " << ::testing::PrintToString(c.args);
    if (c.error.empty()) {
      EXPECT_EQ(parsed_text(parsed), c.expected) << c.command;
    }
  }
  // --help stops at once: nothing after it is checked.
  ParsedArgs parsed;
  EXPECT_FALSE(quorin::packer::parse_args(*find_command("extract"), {"-h", "--bogus"}, parsed));
  EXPECT_TRUE(parsed.help);
}

TEST(PackerOptions, BuildStampDate) {
  const struct {
    std::int64_t seconds;
    const char* stamp;
  } cases[] = {
      {0, "19700101_000000"},
      {86399, "19700101_235959"},
      {951782400, "20000229_000000"},
      {951868799, "20000229_235959"},
      {946684800, "20000101_000000"},
      {1700000000, "20231114_221320"},
      {4107542400, "21000301_000000"},
      {253402300799, "99991231_235959"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quorin::packer::utf16_to_utf8(quorin::packer::date_time_stamp(c.seconds)), c.stamp) << c.seconds;
  }
}

}  // namespace
