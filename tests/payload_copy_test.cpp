// The payload copy's fast path keeps every promise of the plain one: the
// system's copy falls back to reads and writes on any error or short count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "archive/payload.h"
#include "builder/backup_builder.h"
#include "progress/progress_reporter.h"
#include "tests/support/faulty_file_system.h"
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
        FallbackCase{"second span only", {Fault{kCopyRange, 2, kFail, EXDEV, {}}}},
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

}  // namespace
}  // namespace larkspool::testing
