// The pure parts of the target directory spec, on the host: the reading of
// braces, names and literals with the lookup of names, and the texts of the
// RANDOM, TIME_US and TIME placeholders.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "template/per_run.h"
#include "template/placeholders.h"
#include "template/random_text.h"
#include "template/spec_reader.h"
#include "template/time_text.h"

namespace {

using namespace quorin::expansion;

struct ReadCase {
  const wchar_t* spec;
  bool ok;
  const wchar_t* expected;
};

struct Reading {
  bool ok = true;
  std::wstring text;
};

// The spec read as the expander reads it, with each known name standing as
// "<NAME>" (its table spelling); false at the first name the table lacks.
Reading read_back(const std::wstring& spec) {
  Reading reading;
  SpecReader reader;
  spec_reader_start(reader, spec.c_str());
  for (;;) {
    const SpecItem item = spec_read(reader);
    if (item.kind == SpecItemKind::kEnd) return reading;
    if (item.kind == SpecItemKind::kLiteral) reading.text += item.unit;
    if (item.kind != SpecItemKind::kName) continue;
    const PlaceholderName* known = find_placeholder(item.name, item.name_len);
    if (known == nullptr) {
      reading.ok = false;
      return reading;
    }
    reading.text += L"<" + std::wstring(known->name) + L">";
  }
}

TEST(SpecReading, BracesNamesAndLiterals) {
  const ReadCase cases[] = {
      {L"", true, L""},
      {L"C:\\plain\\text with blanks", true, L"C:\\plain\\text with blanks"},
      {L"{VERSION}", true, L"<VERSION>"},
      {L"{version}", true, L"<VERSION>"},
      {L"{vErSiOn}", true, L"<VERSION>"},
      {L"{FILE_VERSION}|{product_version}", true, L"<FILE_VERSION>|<PRODUCT_VERSION>"},
      {L"{COMPANY}\\{PRODUCT}", true, L"<COMPANY>\\<PRODUCT>"},
      {L"v{VERSION}{VERSION}x", true, L"v<VERSION><VERSION>x"},
      // A name left open at the end is dropped.
      {L"ab{VERSION", true, L"ab"},
      {L"ab{", true, L"ab"},
      // A second "{" restarts the name.
      {L"{AB{VERSION}", true, L"<VERSION>"},
      {L"{{VERSION}", true, L"<VERSION>"},
      {L"x{NOPE{COMPANY}y", true, L"x<COMPANY>y"},
      // A "}" outside a name is a literal.
      {L"a}b", true, L"a}b"},
      {L"}{VERSION}}", true, L"}<VERSION>}"},
      // Unknown and empty names fail; what came before stays.
      {L"x{}y", false, L"x"},
      {L"{}", false, L""},
      {L"x\\{NOPE}\\y", false, L"x\\"},
      {L"{VERSION}-{VERSIONS}", false, L"<VERSION>-"},
      {L"{ VERSION}", false, L""},
      {L"{VERSION }", false, L""},
      {L"{PROGRAM_}", false, L""},
      // Only ASCII letters match without regard to case.
      {L"{VERS\u0130ON}", false, L""},
      {L"{vers\u0131on}", false, L""},
  };
  for (const ReadCase& c : cases) {
    const Reading result = read_back(c.spec);
    EXPECT_EQ(result.ok, c.ok) << testing::PrintToString(std::wstring(c.spec));
    EXPECT_EQ(result.text, c.expected) << testing::PrintToString(std::wstring(c.spec));
  }
}

TEST(SpecReading, ItemsCarryTheirPositionsAndDroppedNames) {
  const std::wstring spec = L"a{AB{TEMP}}{X";
  SpecReader reader;
  spec_reader_start(reader, spec.c_str());
  const struct {
    SpecItemKind kind;
    std::size_t position;
    const wchar_t* name;
  } expected[] = {
      {SpecItemKind::kLiteral, 0, L""},     {SpecItemKind::kDroppedName, 1, L"AB"}, {SpecItemKind::kName, 4, L"TEMP"},
      {SpecItemKind::kLiteral, 10, L""},    {SpecItemKind::kOpenName, 11, L"X"},    {SpecItemKind::kEnd, 13, L""},
      {SpecItemKind::kEnd, 13, L""},
  };
  for (const auto& e : expected) {
    const SpecItem item = spec_read(reader);
    EXPECT_EQ(item.kind, e.kind) << e.position;
    EXPECT_EQ(item.position, e.position);
    if (item.name != nullptr) {
      EXPECT_EQ(std::wstring(item.name, item.name_len), e.name);
    }
  }
}

TEST(SpecReading, NamesOf1024UnitsOrMoreAreNoPlaceholder) {
  EXPECT_NE(find_placeholder(L"PRODUCT_VERSION", 15), nullptr);
  EXPECT_EQ(find_placeholder(L"PRODUCT_VERSIONS", 16), nullptr);
  EXPECT_EQ(find_placeholder(L"", 0), nullptr);
  const std::wstring long_name = L"TEMP" + std::wstring(1020, L'\0');
  EXPECT_EQ(find_placeholder(long_name.c_str(), 1024), nullptr);
  EXPECT_NE(find_placeholder(long_name.c_str(), 4), nullptr);
}

// A per-run spec (or one per build) and, when that part is the folder's own
// name, the literal text every run's (build's) folder name starts with.
TEST(PerRunSpec, PlaceholdersOfTheRunAndTheNamePrefix) {
  const struct {
    const wchar_t* spec;
    bool per_run;
    bool in_last_component;
    const wchar_t* prefix;
    bool per_build = false;  // read_per_build's answer, with the same place and prefix
  } cases[] = {
      {L"{CACHE_DIR}\\Acme\\App\\{VERSION}\\3f2a9c01d4b7", false, false, L""},
      {L"{CACHE_DIR}\\Acme\\App\\{VERSION}-{build}", false, true, L"", true},
      {L"{CACHE_DIR}\\Acme\\v{BUILD}\\bin", false, false, L"", true},
      {L"{TEMP}\\app-{RANDOM}", true, true, L"app-"},
      {L"{TEMP}\\x\\{pid}", true, true, L""},
      {L"{TEMP}\\run_{Time}_{TIME_US}", true, true, L"run_"},
      {L"{TEMP}\\{PRODUCT}-{RANDOM}", true, true, L""},
      {L"{TEMP}\\{RANDOM}\\app", true, false, L""},
      {L"{TEMP}\\app-{RANDOM}\\", true, false, L""},
      {L"{TEMP}\\app-{PIDX}", false, false, L""},
      {L"{TEMP}\\a}b{RANDOM}", true, true, L"a}b"},
  };
  for (const auto& c : cases) {
    const PerRunSpec read = c.per_build ? read_per_build(c.spec) : read_per_run(c.spec);
    EXPECT_EQ(read.per_run, c.per_run || c.per_build) << c.spec;
    if (c.per_build) {
      EXPECT_FALSE(read_per_run(c.spec).per_run) << c.spec;
    }
    EXPECT_EQ(read.in_last_component, c.in_last_component) << c.spec;
    const std::wstring prefix = read.name_prefix == nullptr ? L"" : std::wstring(read.name_prefix, read.name_prefix_len);
    EXPECT_EQ(prefix, c.prefix) << c.spec;
  }
}

TEST(CacheDirVariable, OnlyAnAbsoluteFolderMovesTheCache) {
  const struct {
    const wchar_t* path;
    bool absolute;
  } cases[] = {
      {L"D:\\cache", true},
      {L"d:\\", true},
      {L"\\\\server\\share\\cache", true},
      {L"\\\\?\\D:\\cache", true},
      {L"", false},
      {L"cache", false},
      {L"D:cache", false},
      {L"D:", false},
      {L"\\cache", false},
      {L"\\\\", false},
      {L"\\\\\\server", false},
      {L"1:\\cache", false},
      {L"D:/cache", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_absolute_folder(c.path), c.absolute) << ::testing::PrintToString(std::wstring(c.path));
  }
}

TEST(RandomText, KnownSeeds) {
  const struct {
    std::uint32_t seed;
    const wchar_t* text;
  } cases[] = {
      {1, L"IQHFT9HQGrI"},
      {0x12345678, L"paPEmIhNHSk"},
  };
  for (const auto& c : cases) {
    wchar_t text[quorin::expansion::kRandomTextLen + 1];
    quorin::expansion::random_text(c.seed, text);
    EXPECT_EQ(std::wstring(text), c.text) << c.seed;
  }
}

TEST(RandomText, SeedIsTheXorOfTheHalvesAndNeverZero) {
  using quorin::expansion::random_seed;
  EXPECT_EQ(random_seed(0x0000000100000002ull, 4, 0x0000000800000010ull), 0x1Fu);
  EXPECT_EQ(random_seed(0xFFFFFFFF00000000ull, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(random_seed(0, 0, 0x1234567800000000ull), 0x12345678u);
  EXPECT_EQ(random_seed(0, 0, 0), 1u);
  EXPECT_EQ(random_seed(0x0000000500000005ull, 7, 0x0000000700000000ull), 1u);
}

TEST(TimeText, MicrosecondsAreSixDigitsWithLeadingZeros) {
  const struct {
    std::uint64_t t;
    const wchar_t* text;
  } cases[] = {
      {0, L"000000"},
      {12340, L"001234"},
      {12349, L"001234"},  // the 100-ns digit is dropped, not rounded
      {9, L"000000"},
      {9999999, L"999999"},
      {10000000, L"000000"},
      {133000000000012340ull, L"001234"},
      {std::numeric_limits<std::uint64_t>::max(), L"955161"},
  };
  for (const auto& c : cases) {
    wchar_t text[quorin::expansion::kTimeUsTextCap];
    quorin::expansion::format_time_us(c.t, text);
    EXPECT_EQ(std::wstring(text), c.text) << c.t;
  }
}

TEST(TimeText, TimeIsPlainSignedDecimal) {
  const struct {
    std::int64_t t;
    const wchar_t* text;
  } cases[] = {
      {0, L"0"},
      {-1, L"-1"},
      {133000000000012340ll, L"133000000000012340"},
      {std::numeric_limits<std::int64_t>::max(), L"9223372036854775807"},
      {std::numeric_limits<std::int64_t>::min(), L"-9223372036854775808"},
  };
  for (const auto& c : cases) {
    wchar_t text[quorin::expansion::kTimeTextCap];
    quorin::expansion::format_time(c.t, text);
    EXPECT_EQ(std::wstring(text), c.text) << c.t;
  }
}

}  // namespace
