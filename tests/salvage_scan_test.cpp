// The salvage scan's judgement of sizes and ends, its cost on hostile files,
// and how it tells a backup from a file that is none. Every saved file is
// compared with the message as it was built.
#include "archive/salvage_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/support/faulty_file_system.h"
#include "tests/support/salvage_fixture.h"

namespace larkspool::testing {
namespace {

struct SizeCase {
  const char* label;
  char message;         // whose stored size is changed
  std::int64_t change;  // added to the stored size
  bool padded = false;  // the payload really holds one byte past its RIFF size (the stored size is right)
  char also = 0;        // a message whose stored size is one more, so the backup is not sound
};
class SalvageSizeFieldTest : public ::testing::TestWithParam<SizeCase> {};

// Five messages; a stored size off by a little or a lot, for a message in the
// middle and for the last. Whichever size the layout confirms is taken and
// noted; every message comes back whole, under its name, byte for byte.
TEST_P(SalvageSizeFieldTest, TheSizeTheLayoutConfirmsIsTakenAndNoted) {
  const SizeCase& c = GetParam();
  for (const bool paired : {false, true}) {
    SCOPED_TRACE(paired ? "paired" : "single");
    const std::vector<std::size_t> sizes = {3000, 4000, 5000, 6000, 7000};
    BuiltBackup built(paired, sizes);
    std::vector<Bytes> stored;  // what each message is in the backup as built
    for (const PlacedMessage& m : built.messages) stored.push_back(m.original);
    if (c.padded) {
      // Built again with one byte past the RIFF size inside the payload.
      std::vector<std::size_t> padded = sizes;
      const auto index = static_cast<std::size_t>(c.message - 'a');
      padded[index] += 1;
      built = BuiltBackup(paired, padded);
      for (std::size_t i = 0; i < built.messages.size(); ++i) {
        Bytes& wav = built.messages[i].original;
        stored[i] = wav;
        if (i == index) {
          EncodeFixed32(std::span(wav).subspan(4).first<4>(), static_cast<std::uint32_t>(wav.size() - 9));
          std::copy(wav.begin() + 4, wav.begin() + 8, built.bytes.begin() + built.messages[i].offset + 4);
          stored[i] = wav;
        }
      }
    }
    Bytes bytes = built.bytes;
    const auto change = [&](char message, std::int64_t by) {
      const auto field = static_cast<std::size_t>(built.SizeField(message));
      const std::uint32_t size = DecodeFixed32(std::span(bytes).subspan(field).first<4>());
      EncodeFixed32(std::span(bytes).subspan(field).first<4>(), static_cast<std::uint32_t>(size + by));
    };
    change(c.message, c.change);
    if (c.also != 0) change(c.also, 1);
    Session s;
    const SalvageOutcome o = SalvageInto(s, bytes);
    ASSERT_EQ(o.result, RunResult::kCompleted);
    for (std::size_t i = 0; i < built.messages.size(); ++i) {
      const PlacedMessage& m = built.messages[i];
      ASSERT_TRUE(o.files.contains(m.name)) << m.name;
      EXPECT_EQ(o.files.at(m.name), stored[i]) << m.name;
    }
    ASSERT_EQ(o.report.messages.size(), built.messages.size());
    for (const SalvagedMessage& m : o.report.messages) {
      EXPECT_EQ(m.state, SalvageState::kComplete) << m.outputName;
      const bool changed = m.storedName[0] == c.message || m.storedName[0] == c.also;
      EXPECT_EQ(m.note.empty(), !changed) << m.outputName << ": " << m.note;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SalvageSizeFieldTest,
    ::testing::Values(SizeCase{"middle one more", 'c', 1}, SizeCase{"middle 40 less", 'c', -40},
                      SizeCase{"middle a lot more", 'c', 1 << 20}, SizeCase{"middle a lot less", 'c', -4000},
                      SizeCase{"last one more", 'e', 1}, SizeCase{"last 40 less", 'e', -40},
                      SizeCase{"last a lot more", 'e', 100000}, SizeCase{"last a lot less", 'e', -5000},
                      SizeCase{"first of a record 40 less", 'a', -40},
                      // The stored size is the RIFF size + 1, and right.
                      SizeCase{"middle with a pad byte", 'c', 0, true, 'e'},
                      SizeCase{"last with a pad byte", 'e', 0, true, 'c'}),
    ByLabel());

// Zeros from inside b's payload on into c's header: b ends where the zeros
// begin, saved in part, and the damage is told from there.
TEST(SalvageZerosTest, ZerosIntoTheNextHeaderAreDamageFromWhereTheyBegin) {
  for (const bool paired : {false, true}) {
    SCOPED_TRACE(paired ? "paired" : "single");
    // In the paired layout c's record (c and d) follows b.
    const BuiltBackup built(paired, {3000, 4000, 5000, 6000, 7000});
    Bytes bytes = built.bytes;
    const std::int64_t zeros = built['b'].end() - 700;
    std::fill_n(bytes.begin() + zeros, 1000, std::uint8_t{0});
    Session s;
    const SalvageOutcome o = SalvageInto(s, bytes);
    ASSERT_EQ(o.result, RunResult::kCompleted);
    EXPECT_EQ(StatesOf(o.report).at("b.partial.wav"), "partial");
    EXPECT_EQ(o.files.at("b.partial.wav"), SavedPart(built['b'].original, 4000 - 700));
    EXPECT_EQ(o.files.at("a.wav"), built['a'].original);
    EXPECT_EQ(o.files.at("e.wav"), built['e'].original);
    ASSERT_FALSE(o.report.damaged.empty());
    EXPECT_EQ(o.report.damaged.front().begin, zeros);
  }
}

// A recording visitor: what the scan tells, and how far apart its progress
// calls come.
class Recorder final : public SalvageVisitor {
 public:
  Outcome OnMessage(const SalvagedMessage& message) override {
    messages.push_back(message);
    return Outcome::Ok();
  }
  void OnDamage(const DamagedRange& range) override { damaged.push_back(range); }
  void OnProgress(std::int64_t position) override {
    widestStep = std::max(widestStep, position - last);
    last = position;
    ++calls;
  }
  bool CancelRequested() override { return calls == cancelAtCall; }

  std::vector<SalvagedMessage> messages;
  std::vector<DamagedRange> damaged;
  std::int64_t last = 0;
  std::int64_t widestStep = 0;
  int calls = 0;
  int cancelAtCall = -1;
};

// Files of nothing but RIFF/WAVE tags, larger than the scan's window: the
// scan reads each byte about once (reads bounded by the size), reports its
// progress at least every MiB, takes none of the tags for a message (none
// has its format chunk), and counts no entry in any layout.
TEST(SalvageDenseTagsTest, ReadsOnceAndFindsNothing) {
  struct Case {
    const char* label;
    Bytes unit;
  };
  const Case cases[] = {
      {"RIFF 01010101 WAVE", {'R', 'I', 'F', 'F', 1, 1, 1, 1, 'W', 'A', 'V', 'E'}},
      {"RIFF, a tiny size, WAVEfmt ",
       {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}},
  };
  constexpr std::int64_t kSize = 3 << 20;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes bytes = BackupBuilder::Single(BackupKind::k3).bytes();
    while (static_cast<std::int64_t>(bytes.size()) < kSize)
      bytes.insert(bytes.end(), c.unit.begin(), c.unit.end());
    ScratchDir dir;
    WriteFile(dir / "dense.bkp", bytes);
    FaultyFileSystem counting;
    ScopedFile file(counting, counting.OpenRead((dir / "dense.bkp").c_str()));
    Recorder recorder;
    EXPECT_TRUE(SalvageScan(counting, file.get(), BackupKind::k3, 24, recorder).ok());
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_LE(recorder.widestStep, std::int64_t{1} << 20);
    // One read a window of (a little under) 1 MiB, and a few more.
    EXPECT_LE(counting.calls(FaultyCall::kRead), 10);
    for (const BackupKind kind : {BackupKind::k3, BackupKind::k6, BackupKind::k5}) {
      EXPECT_EQ(CountChainedEntries(counting, file.get(), kind), 0u);
    }
    // Cancel is heard inside the search.
    Recorder cancelling;
    cancelling.cancelAtCall = 2;
    EXPECT_TRUE(SalvageScan(counting, file.get(), BackupKind::k3, 24, cancelling).cancelled());
    EXPECT_LT(cancelling.last, kSize / 2);
  }
}

// A file that is no backup chains nothing in any layout; a sound one chains
// every entry.
TEST(SalvageNotABackupTest, NothingChainsInAnyLayout) {
  std::mt19937 random(7);
  Bytes noise(20000);
  for (std::uint8_t& b : noise) b = static_cast<std::uint8_t>(random());
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I',  'H',  'D',  'R', 0,
               0,    1,   0,   0,   0,    1,    0,    8,    6, 0, 0, 0,  0x5C, 0x72, 0xA8, 0x66};
  for (int i = 0; i < 400; ++i) png.insert(png.end(), noise.begin() + i * 40, noise.begin() + i * 40 + 40);
  std::string text;
  while (text.size() < 20000) text += "Dear customer, your voice mail box holds 3 new messages.\r\n";
  struct Case {
    const char* label;
    Bytes bytes;
    std::size_t chained;  // in the layout it was built in
  };
  const Case cases[] = {
      {"random bytes", noise, 0},
      {"a PNG picture", png, 0},
      {"a text", Bytes(text.begin(), text.end()), 0},
      {"a sound backup", BuiltBackup(false, {3000, 4000, 5000}).bytes, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchDir dir;
    WriteFile(dir / "file.bkp", c.bytes);
    ScopedFile file(NativeFileSystem(), NativeFileSystem().OpenRead((dir / "file.bkp").c_str()));
    EXPECT_EQ(CountChainedEntries(NativeFileSystem(), file.get(), BackupKind::k3), c.chained);
    EXPECT_EQ(CountChainedEntries(NativeFileSystem(), file.get(), BackupKind::k6), 0u);
    EXPECT_EQ(CountChainedEntries(NativeFileSystem(), file.get(), BackupKind::k5), 0u);
  }
}

// More messages than a report keeps: the rest are counted, not kept.
TEST(SalvageReportTest, KeepsTheFirstMessagesAndCountsTheRest) {
  // Two entries make the backup one of single entries (the second, whose
  // end no header confirms, is saved in part); the carves follow them.
  Bytes bytes = BuiltBackup(false, {3000, 4000}).bytes;
  const Bytes tiny = WaveMessage(46, 1);
  constexpr std::size_t kCarves = SalvageReport::kKept + 50;
  for (std::size_t i = 0; i < kCarves; ++i) bytes.insert(bytes.end(), tiny.begin(), tiny.end());
  Session s;
  WriteFile(s.backup, bytes);
  SalvageReport report;
  ASSERT_EQ(Salvager(NativeFileSystem(), s.ui, TickingClock()).Inspect(s.backup, report),
            RunResult::kCompleted);
  EXPECT_EQ(report.messages.size(), SalvageReport::kKept);
  EXPECT_EQ(report.Count(SalvageState::kUnnamed), kCarves);
  EXPECT_EQ(report.Count(SalvageState::kComplete), 1u);
  EXPECT_EQ(report.Count(SalvageState::kPartial), 1u);
  EXPECT_TRUE(report.Damaged());
  // The report says how many it does not list.
  EXPECT_NE(SalvageReportText(report, "b.bkp").find("\nand 52 more messages, not listed\n"),
            std::string::npos);
}

}  // namespace
}  // namespace larkspool::testing
