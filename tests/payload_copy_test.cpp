// The payload copy's fast paths keep every promise of the plain one: the
// system's copy falls back to reads and writes on any error or short count,
// and the window the walkers read through meets a fault at the byte where a
// read of just the bytes needed would meet it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "archive/payload.h"
#include "builder/backup_builder.h"
#include "platform/buffered_reads.h"
#include "progress/progress_reporter.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/session.h"

namespace larkspool::testing {
namespace {

using testing::PrintTo;
using enum StatusCode;
using enum FaultEffect;
using enum FaultyCall;

constexpr std::int64_t kEntryStart = 24;  // kind 3
constexpr std::int64_t kHeader = 80;

// The percentages a chunk-by-chunk copy shows for single entries of these
// sizes: every 16384-byte chunk is counted and shown when the value changes,
// then the entry's header.
std::vector<int> ChunkedPercents(const std::vector<std::size_t>& sizes) {
  std::int64_t total = 0;
  for (const std::size_t size : sizes) total += kHeader + static_cast<std::int64_t>(size);
  std::vector<int> shown;
  std::uint64_t done = 0;
  const auto count = [&](std::uint64_t bytes) {
    done += bytes;
    const int percent = ComputePercent(done, total);
    if (percent != (shown.empty() ? 0 : shown.back())) shown.push_back(percent);
  };
  for (const std::size_t size : sizes) {
    std::size_t left = size;
    do {
      const std::size_t chunk = std::min<std::size_t>(left, 16384);
      count(chunk);
      left -= chunk;
    } while (left > 0);
    count(kHeader);
  }
  return shown;
}

// a.wav, then big.wav of many spans: its payload starts at 284.
const Bytes kA = WavPayload(100, 1);
const Bytes kBig = WavPayload(6 * 1048576 + 1000, 2);
constexpr std::int64_t kBigAt = 284;

struct FallbackCase {
  const char* label;
  std::vector<Fault> faults;
  StatusCode code = kSuccess;
  std::optional<std::uint32_t> storedSize = std::nullopt;  // big.wav's, when it runs past the end
};
class SystemCopyTest : public ::testing::TestWithParam<FallbackCase> {};

TEST_P(SystemCopyTest, EveryFallbackWritesTheSameBytesWithTheSameProgressAndFaults) {
  const FallbackCase& c = GetParam();
  Session s;
  FaultyFileSystem faulty;
  for (const Fault& fault : c.faults) faulty.Inject(fault);
  const RunResult result = s.Extract(
      BackupBuilder::Single(BackupKind::k3).Entry("a.wav", kA).Entry("big.wav", kBig, c.storedSize), faulty);
  EXPECT_GT(faulty.calls(kCopyRange), 0) << "the system copy was tried";
  if (c.code == kSuccess) {
    EXPECT_EQ(result, RunResult::kCompleted);
    EXPECT_EQ(s.Output(), (Files{{"a.wav", kA}, {"big.wav", kBig}}));
    EXPECT_EQ(s.ui.percents, ChunkedPercents({kA.size(), kBig.size()}));
  } else {
    EXPECT_EQ(result, RunResult::kFailed);
    EXPECT_EQ(s.ui.MessageTexts(), FaultText(c.code));
    EXPECT_EQ(s.Output(), (Files{{"a.wav", kA}})) << "the partial file is removed";
  }
}

Fault EveryCopy(int error, FaultEffect effect = kFail) { return {kCopyRange, 0, effect, error, {}}; }

INSTANTIATE_TEST_SUITE_P(
    Fallbacks, SystemCopyTest,
    ::testing::Values(
        FallbackCase{"system copies every span", {}}, FallbackCase{"not supported", {EveryCopy(ENOSYS)}},
        FallbackCase{"another file system", {EveryCopy(EXDEV)}}, FallbackCase{"refused", {EveryCopy(EINVAL)}},
        FallbackCase{"not supported by the file system", {EveryCopy(EOPNOTSUPP)}},
        FallbackCase{"input or output error", {EveryCopy(EIO)}},
        FallbackCase{"short count", {EveryCopy(0, kShort)}},
        FallbackCase{"second call only", {Fault{kCopyRange, 2, kFail, EXDEV, {}}}},
        FallbackCase{"read fails inside a span", {ReadAt(kBigAt + 3 * 1048576 + 5)}, kReadFailed},
        FallbackCase{"read short inside a span", {ReadAt(kBigAt + 3 * 1048576 + 5, kShort)}, kReadFailed},
        FallbackCase{"read fails after a refused span",
                     {EveryCopy(EXDEV), ReadAt(kBigAt + 3 * 1048576 + 5)},
                     kReadFailed},
        FallbackCase{
            "disk full inside a span", {WriteAt("big.wav", 3 * 1048576 + 5, kFail, ENOSPC)}, kWriteFailed},
        FallbackCase{"write short inside a span", {WriteAt("big.wav", 2 * 1048576, kShort)}, kWriteFailed},
        FallbackCase{
            "payload past the end", {}, kReadFailed, static_cast<std::uint32_t>(kBig.size() + 70000)}),
    ByLabel());

#ifdef __linux__
// The system's own copy: from any place in the backup, short at its end, and
// with the backup left where the copy stopped when the file refuses it.
TEST(SystemCopyTest, CopiesFromAnyPlaceAndLeavesTheBackupWhereTheFileStopped) {
  ScratchDir dir;
  Bytes bytes(3 * 1048576 + 777);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 4093);
  WriteFile(dir / "backup", bytes);
  const auto size = static_cast<std::int64_t>(bytes.size());
  struct Case {
    const char* label;
    std::int64_t from;
    std::size_t asked;
    bool writable;
    std::int64_t copied;
  };
  const Case cases[] = {
      {"off a page boundary, more than the pipe holds", 4096 + 80, 2 * 1048576 + 5, true, 2 * 1048576 + 5},
      {"past the end of the backup", size - 1000, 4096, true, 1000},
      {"into a file that refuses", 80, 65536, false, -1}};
  FileSystem& fs = NativeFileSystem();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    WriteFile(dir / "out", {});
    ScopedFile in(fs, fs.OpenRead((dir / "backup").c_str()));
    ScopedFile out(
        fs, c.writable ? fs.OpenForOverwrite((dir / "out").c_str()) : fs.OpenRead((dir / "out").c_str()));
    ASSERT_EQ(fs.Seek(in.get(), c.from, SeekFrom::kStart), c.from);
    EXPECT_EQ(fs.CopyRange(in.get(), out.get(), c.asked), c.copied);
    const std::int64_t moved = std::max<std::int64_t>(c.copied, 0);
    EXPECT_EQ(fs.Seek(in.get(), 0, SeekFrom::kCurrent), c.from + moved);
    out.Reset();
    EXPECT_EQ(ReadFile(dir / "out"), Bytes(bytes.begin() + c.from, bytes.begin() + c.from + moved));
  }
}
#endif

// Entries of 2048 bytes, 2128 with their header: the first window starts at
// the entry area, and entries 30 and 61 straddle its refills.
constexpr std::size_t kSmall = 2048;
constexpr int kEntries = 64;
constexpr std::int64_t kEntry = kHeader + static_cast<std::int64_t>(kSmall);

// The name of small entry i.
std::string SmallName(std::size_t i) { return std::string("m").append(std::to_string(i)).append(".wav"); }

BackupBuilder SmallEntries() {
  BackupBuilder backup = BackupBuilder::Single(BackupKind::k3);
  for (int i = 0; i < kEntries; ++i) {
    backup.Entry(SmallName(static_cast<std::size_t>(i)), WavPayload(kSmall, static_cast<std::uint8_t>(i)));
  }
  return backup;
}

TEST(ReadWindowTest, FaultAtTheWindowsEdgesEndsAtTheEntryThatHoldsTheByte) {
  constexpr auto kWindow = static_cast<std::int64_t>(BufferedReads::kWindowSize);
  const std::int64_t firstEnd = kEntryStart + kWindow;
  std::vector<std::int64_t> offsets = {kEntryStart, firstEnd - 1, firstEnd, firstEnd + 1};
  for (const int entry : {29, 30, 31, 60, 61, 62}) {
    const std::int64_t at = kEntryStart + entry * kEntry;
    offsets.insert(offsets.end(), {at, at + kHeader - 1, at + kHeader, at + kEntry - 1});
  }
  // Where the refill in entry 30's payload ends: the second window's edge.
  const std::int64_t secondEnd = firstEnd + kWindow;
  offsets.insert(offsets.end(), {secondEnd - 1, secondEnd, secondEnd + 1});
  const BackupBuilder backup = SmallEntries();
  for (const std::int64_t at : offsets) {
    for (const FaultEffect effect : {kFail, kShort}) {
      SCOPED_TRACE("fault at " + std::to_string(at) + (effect == kFail ? ", failing" : ", short"));
      Session s;
      FaultyFileSystem faulty;
      faulty.Inject(ReadAt(at, effect));
      EXPECT_EQ(s.Extract(backup, faulty), RunResult::kFailed);
      EXPECT_EQ(s.ui.MessageTexts(), FaultText(kReadFailed));
      // Every entry that ends before the byte stays; the one holding it is gone.
      const auto kept = static_cast<std::size_t>((at - kEntryStart) / kEntry);
      EXPECT_EQ(s.Output().size(), kept);
      EXPECT_EQ(s.Output().count(SmallName(kept)), 0u);
    }
  }
}

TEST(ReadWindowTest, SmallEntriesCostNoReadOfTheirOwn) {
  Session s;
  FaultyFileSystem faulty;
  EXPECT_EQ(s.Extract(SmallEntries(), faulty), RunResult::kCompleted);
  EXPECT_EQ(s.Output().size(), static_cast<std::size_t>(kEntries));
  // Classification, then one read per window: 64 entries fill three.
  EXPECT_LE(faulty.calls(kRead), 4);
}

}  // namespace
}  // namespace larkspool::testing
