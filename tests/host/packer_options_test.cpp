// The packer's command-line parser, the build stamp, the version and the
// names made of the child's texts, through their own headers: one row per
// rule.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "generated/baked_layout.h"
#include "packer/build_defaults.h"
#include "packer/option_values.h"
#include "packer/options.h"
#include "packer/resources.h"
#include "packer/spec_check.h"
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
      {"archive", {"--input", "in", "--child", "a.exe", "-qo", "x"}, "",
       "--child=a.exe;--input=in;--output=x;--quiet=;"},
      {"list", {"-qj", "f"}, "unknown option '-j' (did you mean '--json'?)", ""},
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

TEST(PackerOptions, KeepBuildsAndProgressWindow) {
  const struct {
    std::vector<std::string> args;
    std::string error;  // "" for none
    std::uint32_t keep, progress;
  } cases[] = {
      {{}, "", 1, 1},
      {{"--keep-builds", "0", "--progress-window", "never"}, "", 0, 0},
      {{"--keep-builds", "1000", "--progress-window", "auto"}, "", 1000, 1},
      {{"--keep-builds", "all"}, "", quorin::generated::kKeepEveryBuild, 1},
      {{"--keep-builds", "1001"}, "--keep-builds '1001': give a whole number from 0 to 1000, or all", 1, 1},
      {{"--keep-builds", "-1"}, "--keep-builds '-1': give a whole number from 0 to 1000, or all", 1, 1},
      {{"--progress-window", "yes"}, "--progress-window 'yes': give auto or never", 1, 1},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-o", "x.exe", "--attached", "a"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ParsedArgs parsed;
    ASSERT_FALSE(quorin::packer::parse_args(*find_command("build"), args, parsed)) << c.error;
    std::uint32_t keep = 1, progress = 1;
    const quorin::packer::Result r = quorin::packer::keep_builds_option(parsed, keep);
    const quorin::packer::Result p = quorin::packer::progress_window_option(parsed, progress);
    EXPECT_EQ(!r ? r.error : !p ? p.error : "", c.error);
    EXPECT_EQ(keep, c.keep) << c.error;
    EXPECT_EQ(progress, c.progress) << c.error;
  }
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

TEST(PackerOptions, ContentStampIsTwelveHexDigits) {
  using quorin::packer::content_stamp;
  using quorin::packer::utf16_to_utf8;
  EXPECT_EQ(utf16_to_utf8(content_stamp(0)), "000000000000");
  EXPECT_EQ(utf16_to_utf8(content_stamp(0x0123456789ABCDEFull)), "0123456789ab");
  EXPECT_EQ(utf16_to_utf8(content_stamp(~0ull)), "ffffffffffff");
}

TEST(PackerOptions, VersionOfOneToFourParts) {
  const struct {
    std::u16string text;
    bool good;
    unsigned parts[4];
  } cases[] = {
      {u"7", true, {7, 0, 0, 0}},         {u"1.2", true, {1, 2, 0, 0}},
      {u"3.1.95", true, {3, 1, 95, 0}},   {u"1.2.3.4", true, {1, 2, 3, 4}},
      {u"65535.0.65535.65535", true, {65535, 0, 65535, 65535}},
      {u"1.2.3.4.5", false, {}},          {u"", false, {}},
      {u"1.", false, {}},                 {u".1", false, {}},
      {u"1.65536", false, {}},            {u"1.2.3.x", false, {}},
      {u"1 .2", false, {}},
  };
  for (const auto& c : cases) {
    unsigned parts[4] = {9, 9, 9, 9};
    const quorin::packer::Result r = quorin::packer::parse_version(c.text, parts);
    EXPECT_EQ(static_cast<bool>(r), c.good) << quorin::packer::utf16_to_utf8(c.text);
    if (!c.good) continue;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(parts[i], c.parts[i]) << quorin::packer::utf16_to_utf8(c.text);
  }
}

// The child's company and product as folder names, the product as an
// assembly name, and the spec as the summary shows it.
TEST(PackerOptions, NamesMadeOfTheChildsTexts) {
  const struct {
    std::u16string text;
    std::u16string folder;
    std::string assembly;
  } cases[] = {
      {u"Versioned Corp", u"Versioned Corp", "Versioned.Corp"},
      {u"Brindlex Pocket Variant", u"Brindlex Pocket Variant", "Brindlex.Pocket.Variant"},
      {u"Acme, Inc.", u"Acme, Inc", "Acme.Inc"},
      {u"A/B: C?", u"A_B_ C_", "A.B.C"},
      {u"R\u00e9sum\u00e9 Tool", u"R\u00e9sum\u00e9 Tool", "R.sum.Tool"},
      {u"my_app-2.0", u"my_app-2.0", "my_app-2.0"},
      {u"CON", u"CON_", "CON"},
      {u"aux.corp", u"aux_.corp", "aux.corp"},
      {u"tab\there", u"tab_here", "tab.here"},
      {u"...", u"", "Application"},
      {u"\u00e9\u00e9", u"\u00e9\u00e9", "Application"},
  };
  for (const auto& c : cases) {
    const std::string text = quorin::packer::utf16_to_utf8(c.text);
    EXPECT_EQ(quorin::packer::utf16_to_utf8(quorin::packer::folder_name_from(c.text)),
              quorin::packer::utf16_to_utf8(c.folder))
        << text;
    EXPECT_EQ(quorin::packer::assembly_name(c.text), c.assembly) << text;
  }
  const struct {
    std::u16string spec;
    std::string shown;
  } specs[] = {
      {u"{CACHE_DIR}\\{COMPANY}\\{PRODUCT}\\{VERSION}-{build}",
       "{CACHE_DIR}\\Versioned Corp\\Versioned Tool\\2.5.7.9-3f2a9c01d4b7"},
      {u"{temp}\\{company}\\{File_Version}\\{PRODUCT_VERSION}\\{PID}-{RANDOM}{TIME}",
       "{temp}\\Versioned Corp\\2.5.7.9\\2.5.7.9\\{PID}-{RANDOM}{TIME}"},
      {u"{HOME}\\}{PRODUCT}}", "{HOME}\\}Versioned Tool}"},
      {u"C:\\Apps\\{PROGRAM_DIR}", "C:\\Apps\\{PROGRAM_DIR}"},
  };
  for (const auto& c : specs) {
    EXPECT_EQ(quorin::packer::utf16_to_utf8(
                  quorin::packer::spec_as_shown(c.spec, u"Versioned Corp", u"Versioned Tool", u"2.5.7.9",
                                                u"3f2a9c01d4b7")),
              c.shown);
  }
}

}  // namespace
