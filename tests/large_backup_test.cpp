// Backups over 4 GiB, made sparse with a file hole so that only a few
// kilobytes are written: payload offsets and the progress counters must not
// wrap at 32 bits. Existing files are kept (Skip), so their payloads are
// passed over by seeking and nothing large is written either.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/extract_request.h"
#include "app/inspect_request.h"
#include "builder/backup_builder.h"
#include "tests/support/fake_ui.h"
#include "tests/support/session.h"

namespace larkspool::testing {
namespace {

using testing::PrintTo;

constexpr std::int64_t k4GiB = std::int64_t{1} << 32;
const Bytes kSmall = WavPayload(500, 7);
const Bytes kTags = WavPayload(format::kWaveTagsSize);  // the first bytes of a huge payload

// The pieces of a backup written at their offsets; the rest is a hole.
struct SparseBackup {
  const char* label;
  std::int64_t size;
  std::int64_t entryStart;
  std::vector<std::pair<std::int64_t, Bytes>> pieces;
  std::vector<ListedEntry> entries;  // the last one is small.wav, past 4 GiB
};

// Only the bytes of an entry header or record and the payloads given.
BackupBuilder Bare() { return BackupBuilder::Header(0, 0, 0); }

SparseBackup SingleEntries() {
  const std::uint32_t huge = 0x90000000u;
  const std::int64_t second = 24 + 80 + std::int64_t{huge}, third = second + 80 + huge;
  return {"single entries",
          third + 80 + static_cast<std::int64_t>(kSmall.size()),
          24,
          {{0, BackupBuilder::Single(BackupKind::k4).Entry("a.wav", kTags, huge).bytes()},
           {second, Bare().Entry("b.wav", kTags, huge).bytes()},
           {third, Bare().Entry("small.wav", kSmall).bytes()}},
          {{"a.wav", huge, 104}, {"b.wav", huge, second + 80}, {"small.wav", 500, third + 80}}};
}

SparseBackup PairRecords() {
  const std::uint32_t a = 0xF0000000u, b = 0x20000000u;
  const std::int64_t second = 51 + 256 + std::int64_t{a} + b;
  PairRecordSpec huge{.type = 1,
                      .nameA = "a.wav",
                      .nameB = "b.wav",
                      .payloadA = kTags,
                      .payloadB = {},
                      .sizeA = a,
                      .sizeB = b,
                      .presentB = 1};
  return {"pair records",
          second + 256 + static_cast<std::int64_t>(kSmall.size()),
          51,
          {{0, BackupBuilder::Paired().Record(huge).bytes()},
           {51 + 256 + std::int64_t{a}, kTags},
           {second, Bare().Files("small.wav", kSmall).bytes()}},
          {{"a.wav", a, 307}, {"b.wav", b, 307 + std::int64_t{a}}, {"small.wav", 500, second + 256}}};
}

std::vector<std::tuple<std::string, std::uint32_t, std::int64_t>> Rows(
    const std::vector<ListedEntry>& entries) {
  std::vector<std::tuple<std::string, std::uint32_t, std::int64_t>> rows;
  for (const ListedEntry& e : entries) rows.emplace_back(e.name, e.size, e.offset);
  return rows;
}

// False when the file system refuses a file this large or fills the hole.
#ifdef _WIN32
bool WriteSparse(const std::string& path, const SparseBackup& backup) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // A file marked sparse keeps its holes; a file system without the mark
  // would allocate the whole size.
  DWORD returned = 0;
  LARGE_INTEGER at{};
  at.QuadPart = backup.size;
  bool written = ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr) != 0 &&
                 ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0 && ::SetEndOfFile(file) != 0;
  for (const auto& [offset, bytes] : backup.pieces) {
    at.QuadPart = offset;
    DWORD done = 0;
    written = written && ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0 &&
              ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) != 0 &&
              done == bytes.size();
  }
  ::CloseHandle(file);
  return written;
}
#else
bool WriteSparse(const std::string& path, const SparseBackup& backup) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  bool written = ::ftruncate(fd, backup.size) == 0;
  for (const auto& [offset, bytes] : backup.pieces) {
    written =
        written && ::pwrite(fd, bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size());
  }
  struct stat info {};
  written = written && ::fstat(fd, &info) == 0 && info.st_blocks * 512 < (std::int64_t{1} << 20);
  ::close(fd);
  return written;
}
#endif

class LargeBackupTest : public ::testing::TestWithParam<SparseBackup> {
 protected:
  void SetUp() override {
    if (!WriteSparse(path_, GetParam())) GTEST_SKIP() << "the file system refuses sparse files over 4 GiB";
    ASSERT_GT(GetParam().size, k4GiB);
  }

  ScratchDir scratch_;
  const std::string path_ = scratch_ / "big.bkp";
};

TEST_P(LargeBackupTest, ListAndVerifyGivePayloadOffsetsPast4GiB) {
  for (const ScanMode mode : {ScanMode::kList, ScanMode::kVerify}) {
    FakeUi ui;
    BackupListing listing;
    ASSERT_EQ(InspectBackup(NativeFileSystem(), ui, path_, mode, listing), RunResult::kCompleted)
        << ::testing::PrintToString(ui.MessageTexts());
    EXPECT_EQ(Rows(listing.entries), Rows(GetParam().entries));
  }
}

TEST_P(LargeBackupTest, ExtractionCountsEveryByteWithoutWrapping) {
  const std::string folder = scratch_ / "out";
  std::filesystem::create_directory(folder);
  const std::vector<ListedEntry>& entries = GetParam().entries;
  for (std::size_t i = 0; i + 1 < entries.size(); ++i)
    WriteFile(folder + "/" + entries[i].name, {'o', 'l', 'd'});
  FakeUi ui;
  ui.overwriteAnswers.assign(entries.size() - 1, OverwriteAnswer::kSkip);
  Extractor extractor(NativeFileSystem(), ui);
  ASSERT_EQ(extractor.OnExtract(path_, folder), RunResult::kCompleted);

  EXPECT_EQ(ReadFile(folder + "/small.wav"), kSmall);
  const std::int64_t area = GetParam().size - GetParam().entryStart;
  EXPECT_EQ(extractor.run().progress().total_bytes(), area);
  EXPECT_EQ(extractor.run().progress().done_bytes(), static_cast<std::uint64_t>(area));
  ASSERT_FALSE(ui.percents.empty());
  EXPECT_TRUE(std::is_sorted(ui.percents.begin(), ui.percents.end())) << "a counter wrapped";
  EXPECT_EQ(ui.percents.back(), 100);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LargeBackupTest, ::testing::Values(SingleEntries(), PairRecords()),
                         [](const auto& test) { return test.index == 0 ? "SingleEntries" : "PairRecords"; });

}  // namespace
}  // namespace larkspool::testing
