// The benchmark's inputs and its timer: every output of a payload set holds
// the same files (read back by the core, by GNU tar and as plain bytes), and
// the timer runs each command into an empty folder and stops on a failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/extract_request.h"
#include "bench/payload_set.h"
#include "platform/file_system.h"
#include "tests/support/fake_ui.h"
#include "tests/support/scratch_dir.h"

namespace larkspool::bench {
namespace {

using larkspool::testing::Bytes;
using larkspool::testing::FakeUi;
using larkspool::testing::FilesIn;
using larkspool::testing::ReadFile;
using larkspool::testing::ScratchDir;
using Files = std::map<std::string, Bytes>;

struct Command {
  int status = -1;
  std::string output;
};

// Runs a shell command line and returns its exit status and standard output.
Command Shell(const std::string& line) {
  Command result;
  FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    result.output.append(buffer, got);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

Files ExtractWithCore(const std::string& backup, const std::string& folder) {
  std::filesystem::create_directory(folder);
  FakeUi ui;
  Extractor extractor(NativeFileSystem(), ui);
  EXPECT_EQ(extractor.OnExtract(backup, folder), RunResult::kCompleted) << backup;
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Extraction completed."});
  return FilesIn(folder);
}

struct SetCase {
  std::uint64_t count;
  std::size_t size;
};

class PayloadSetTest : public ::testing::TestWithParam<SetCase> {};

// One and three files leave the last pair record with file A only; 512 fills
// tar blocks exactly, 16385 spans two copy chunks.
INSTANTIATE_TEST_SUITE_P(Shapes, PayloadSetTest,
                         ::testing::Values(SetCase{1, 12}, SetCase{2, 2048}, SetCase{3, 512},
                                           SetCase{4, 16385}),
                         [](const auto& test) {
                           return std::to_string(test.param.count) + "x" + std::to_string(test.param.size);
                         });

TEST_P(PayloadSetTest, EveryOutputHoldsTheSameFiles) {
  const SetCase set = GetParam();
  ScratchDir scratch;
  WritePayloadSet(scratch.path(), "s", set.count, set.size);

  const Files single = ExtractWithCore(scratch / "s-k3.bkp", scratch / "k3");
  const Files paired = ExtractWithCore(scratch / "s-k5.bkp", scratch / "k5");
  ASSERT_EQ(single.size(), set.count);
  EXPECT_EQ(single.begin()->first, EntryName(1));
  for (const auto& [name, payload] : single) EXPECT_EQ(payload.size(), set.size) << name;
  EXPECT_EQ(paired, single);

  // The names sort in entry order, so the plain file is the payloads in order.
  Bytes joined;
  for (const auto& [name, payload] : single) joined.insert(joined.end(), payload.begin(), payload.end());
  EXPECT_EQ(ReadFile(scratch / "s.raw"), joined);

  EXPECT_EQ(std::filesystem::file_size(scratch / "s.tar") % 10240, 0u);
  if (Shell("command -v tar >/dev/null").status != 0) GTEST_SKIP() << "GNU tar is not installed";
  std::filesystem::create_directory(scratch / "tar");
  ASSERT_EQ(Shell("tar -xf '" + scratch / "s.tar" + "' -C '" + scratch / "tar" + "' 2>&1").status, 0);
  EXPECT_EQ(FilesIn(scratch / "tar"), single);
}

TEST(PayloadSetTest, ChoosesTheOutputsAsked) {
  ScratchDir scratch;
  WritePayloadSet(scratch.path(), "s", 2, 100, "k5,raw");
  EXPECT_EQ(FilesIn(scratch.path()).size(), 2u);
  EXPECT_TRUE(std::filesystem::exists(scratch / "s-k5.bkp"));
  EXPECT_TRUE(std::filesystem::exists(scratch / "s.raw"));
  EXPECT_THROW(WritePayloadSet(scratch.path(), "s", 2, 100, "zip"), std::invalid_argument);
  // Shorter than the RIFF/WAVE tags: no backup could hold it.
  EXPECT_THROW(WritePayloadSet(scratch.path(), "s", 2, 11), std::invalid_argument);
}

// The timer's line: LABEL runs min median max peak_rss user sys.
std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  for (std::string field; in >> field;) fields.push_back(field);
  return fields;
}

std::string Timer(const std::string& arguments) {
  return std::string(LARKSPOOL_BENCH_TIME_PATH) + " " + arguments;
}

// Fails (and so stops the timer) unless the folder is empty; then leaves a
// file in it for the next run to find.
const std::string kNeedsEmpty = R"sh(-- sh -c 'test -z "$(ls -A "$1")" && touch "$1/out"' sh {})sh";

TEST(TimerTest, EveryRunWritesIntoAnEmptyFolder) {
  ScratchDir scratch;
  std::filesystem::create_directory(scratch / "reused");
  for (const std::string mode : {"--empty", "--fresh"}) {
    const Command run =
        Shell(Timer("--runs 3 --warmup 1 " + mode + " '" + scratch / "reused" + "' series " + kNeedsEmpty));
    ASSERT_EQ(run.status, 0) << mode;
    const std::vector<std::string> fields = Fields(run.output);
    ASSERT_EQ(fields.size(), 8u) << run.output;
    EXPECT_EQ(fields[0], "series");
    EXPECT_EQ(fields[1], "3");
  }
  // --fresh kept one folder for each of the four runs.
  for (int run = 0; run < 4; ++run) {
    EXPECT_TRUE(std::filesystem::exists(scratch / ("reused/run-" + std::to_string(run) + "/out"))) << run;
  }
}

TEST(TimerTest, TimesTheWholeRunOfTheCommand) {
  const Command run = Shell(Timer("--runs 2 --warmup 0 nap -- sleep 0.05"));
  ASSERT_EQ(run.status, 0);
  const std::vector<std::string> fields = Fields(run.output);
  ASSERT_EQ(fields.size(), 8u) << run.output;
  EXPECT_GE(std::stod(fields[2]), 0.05);
  EXPECT_GT(std::stol(fields[5]), 0) << "no peak resident memory";
}

TEST(TimerTest, AFailingRunStopsTheSeries) {
  const Command run = Shell(Timer("--runs 3 broken -- false 2>/dev/null"));
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.output, "");
  EXPECT_NE(Shell(Timer("--runs 3 missing -- /nonexistent/program 2>/dev/null")).status, 0);
}

}  // namespace
}  // namespace larkspool::bench
