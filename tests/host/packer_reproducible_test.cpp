// The same inputs and options give the same bytes: launchers built from
// copies of a tree in different folders, through different scratch folders,
// and archives compressed with different numbers of threads.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/host/packer_support.h"

namespace {

using namespace quorin::packer_test;

void make_tree(const fs::path& root) {
  write_file(root / "app.exe", program_bytes(noise(20000, 1)));
  write_file(root / "lib" / "words.txt", text(500000, 2));
  write_file(root / "lib" / "deeper" / "random.bin", noise(300000, 3));
  write_file(root / "empty", "");
}

bool contains(const std::string& haystack, const std::string& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

TEST(PackerReproducible, BuildInDifferentFoldersGivesTheSameExe) {
  Scratch scratch("reproducible");
  const fs::path first_tree = scratch / "first" / "app";
  const fs::path second_tree = scratch / "second place" / "a much longer folder name";
  make_tree(first_tree);
  make_tree(second_tree);
  fs::create_directories(scratch / "tmp1");
  fs::create_directories(scratch / "out dir");
  fs::create_directories(scratch / "a different tmp");
  const std::vector<std::string> options = {"--child", "app.exe", "--version", "2.0.7", "--product", "Repro"};
  auto build = [&](const fs::path& tree, const fs::path& output, const fs::path& tmp) {
    std::vector<std::string> args = {"build", "--input", tree.string(), "--output", output.string()};
    args.insert(args.end(), options.begin(), options.end());
    const ProgramRun run = run_pack(args, {"TMPDIR=" + tmp.string()});
    EXPECT_EQ(run.code, 0) << run.err;
    return read_file(output);
  };
  // The resource texts follow the output's file name: the same name in two folders.
  fs::create_directories(scratch / "first out");
  const std::string first = build(first_tree, scratch / "first out" / "repro.exe", scratch / "tmp1");
  const std::string second = build(second_tree, scratch / "out dir" / "repro.exe", scratch / "a different tmp");
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.size(), second.size());
  EXPECT_TRUE(first == second) << "the two launchers differ";
  // Nothing of the build machine's folders is in the exe.
  for (const std::string& path : {scratch.path.string(), std::string("quorin-packer-tests"), std::string("quorin-pack."),
                                  std::string("/tmp/"), std::string("attached.bin")}) {
    EXPECT_FALSE(contains(first, path)) << path;
  }
}

// zstd's multi-threaded output is the same for any number of workers; a tree
// of several compression jobs (32 MiB each) shows it.
TEST(PackerReproducible, ArchiveIsTheSameForAnyNumberOfThreads) {
  Scratch scratch("threads");
  const fs::path tree = scratch / "tree";
  write_file(tree / "app.exe", program_bytes(noise(1000, 1)));
  write_file(tree / "a.txt", text(40 << 20, 5));
  write_file(tree / "b.bin", noise(30 << 20, 6));
  std::string first;
  for (const char* threads : {"1", "2", "3"}) {
    const fs::path output = scratch / (std::string("archive-") + threads + ".bin");
    const ProgramRun run = run_pack({"archive", "--input", tree.string(), "--child", "app.exe", "--output",
                                     output.string(), "--level", "1", "--threads", threads});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::string bytes = read_file(output);
    if (first.empty()) {
      first = bytes;
    } else {
      EXPECT_TRUE(bytes == first) << threads << " threads";
    }
  }
}

}  // namespace
