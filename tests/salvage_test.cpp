#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/extract_request.h"
#include "app/salvage_request.h"
#include "builder/backup_builder.h"
#include "tests/support/salvage_fixture.h"
#include "tests/support/session.h"

namespace larkspool::testing {
namespace {

// Four messages of 5000 bytes, "a.wav" to "d.wav" (WAV files with a format
// chunk): one entry each, or two a record.
BuiltBackup FourMessages(bool paired) { return BuiltBackup(paired, {5000, 5000, 5000, 5000}); }

// The bytes a saved file holds must be the backup's bytes where the message
// lies, its RIFF and data sizes mended when it was cut.
void ExpectSavedBytes(const SalvageOutcome& o, const Bytes& backup) {
  for (const SalvagedMessage& m : o.report.messages) {
    if (m.state == SalvageState::kLost) continue;
    ASSERT_TRUE(o.files.contains(m.outputName)) << m.outputName;
    Bytes expected(backup.begin() + m.offset, backup.begin() + m.offset + static_cast<std::int64_t>(m.saved));
    for (const SizeMend& mend : MendSizes(expected, m.saved)) {
      EncodeFixed32(std::span(expected).subspan(mend.offset).first<4>(), mend.value);
    }
    EXPECT_EQ(o.files.at(m.outputName), expected) << m.outputName;
  }
}

using Damage = void (*)(const BuiltBackup&, Bytes&);
struct DamageCase {
  const char* label;
  Damage damage;
  std::map<std::string, std::string> single;  // output name (stored name when lost) -> state
  std::map<std::string, std::string> paired;  // empty: the row does not apply
  bool kindAssumed = false;
};
class SalvageDamageTest : public ::testing::TestWithParam<DamageCase> {};

void Zero(Bytes& b, std::int64_t at, std::int64_t size) {
  std::fill_n(b.begin() + at, size, std::uint8_t{0});
}

const std::map<std::string, std::string> kAllComplete = {
    {"a.wav", "complete"}, {"b.wav", "complete"}, {"c.wav", "complete"}, {"d.wav", "complete"}};

TEST_P(SalvageDamageTest, SavesWhatCanBeReadAndReportsTheRest) {
  const DamageCase& c = GetParam();
  for (const bool paired : {false, true}) {
    const std::map<std::string, std::string>& expected = paired ? c.paired : c.single;
    if (expected.empty()) continue;
    SCOPED_TRACE(paired ? "paired" : "single");
    const BuiltBackup layout = FourMessages(paired);
    Bytes damaged = layout.bytes;
    c.damage(layout, damaged);
    Session s;
    const SalvageOutcome o = SalvageInto(s, damaged);
    ASSERT_EQ(o.result, RunResult::kCompleted);
    EXPECT_EQ(StatesOf(o.report), expected);
    EXPECT_EQ(o.report.kindAssumed, c.kindAssumed);
    EXPECT_TRUE(o.report.Damaged());
    ExpectSavedBytes(o, damaged);
    // A message saved under its stored name is the one stored there.
    for (const SalvagedMessage& m : o.report.messages) {
      if (m.state == SalvageState::kComplete) {
        EXPECT_EQ(m.offset, layout[m.outputName[0]].offset);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Damage, SalvageDamageTest,
    ::testing::Values(
        DamageCase{
            "truncation inside a header",
            [](const BuiltBackup& l, Bytes& b) { b.resize(static_cast<std::size_t>(l['c'].header + 40)); },
            {{"a.wav", "complete"}, {"b.wav", "complete"}},
            {{"a.wav", "complete"}, {"b.wav", "complete"}}},
        DamageCase{
            "truncation inside a payload",
            [](const BuiltBackup& l, Bytes& b) { b.resize(static_cast<std::size_t>(l['d'].offset + 1000)); },
            {{"a.wav", "complete"},
             {"b.wav", "complete"},
             {"c.wav", "complete"},
             {"d.partial.wav", "partial"}},
            {{"a.wav", "complete"},
             {"b.wav", "complete"},
             {"c.wav", "complete"},
             {"d.partial.wav", "partial"}}},
        DamageCase{"burst over a size field",
                   [](const BuiltBackup& l, Bytes& b) {
                     // The entry's size, or slot A's size of the second record.
                     const std::int64_t field = l.paired ? l['c'].header + 100 : l['b'].header + 68;
                     const Bytes burst = {0x13, 0x77, 0x00, 0x01, 0xEE};
                     std::copy(burst.begin(), burst.end(), b.begin() + field - 1);
                   },
                   kAllComplete, kAllComplete},
        // b's last 500 bytes are zeros that run on into c's header: b is
        // saved up to them, not as complete.
        DamageCase{"zeroed 4 KiB block across two entries",
                   [](const BuiltBackup& l, Bytes& b) { Zero(b, l['c'].header - 500, 4096); },
                   {{"a.wav", "complete"}, {"b.partial.wav", "partial"}, {"d.wav", "complete"}},
                   // d's record is gone with c's: its payload is carved.
                   {{"a.wav", "complete"}, {"b.partial.wav", "partial"}, {"recovered-15563.wav", "unnamed"}}},
        DamageCase{"damaged kind field", [](const BuiltBackup&, Bytes& b) { b[8] = 9; }, kAllComplete,
                   kAllComplete, true},
        DamageCase{
            "record with a wrong type",
            [](const BuiltBackup& l, Bytes& b) { b[static_cast<std::size_t>(l['c'].header + 12)] = 9; },
            {},
            kAllComplete},
        DamageCase{"RIFF inside a payload's audio data",
                   [](const BuiltBackup& l, Bytes& b) {
                     // A tagged file inside c's audio, and c's header (or
                     // record) zeroed: c is carved whole, nothing from inside.
                     const Bytes inner = {'R', 'I', 'F', 'F', 100, 0, 0, 0, 'W', 'A', 'V', 'E'};
                     std::copy(inner.begin(), inner.end(), b.begin() + l['c'].offset + 1000);
                     Zero(b, l['c'].header, l['c'].offset - l['c'].header);
                   },
                   {{"a.wav", "complete"},
                    {"b.wav", "complete"},
                    {"recovered-10264.wav", "unnamed"},
                    {"d.wav", "complete"}},
                   {{"a.wav", "complete"},
                    {"b.wav", "complete"},
                    {"recovered-10563.wav", "unnamed"},
                    {"recovered-15563.wav", "unnamed"}}}),
    ByLabel());

// A paired backup that reads as damaged still needs its password, and when
// the digest cannot be checked nothing is written.
struct GateCase {
  const char* label;
  std::vector<std::optional<std::string>> answers;
  bool damageKind;
  std::size_t cutTo;  // 0: not cut
  RunResult result;
  std::size_t files;
};
class SalvagePasswordTest : public ::testing::TestWithParam<GateCase> {};

TEST_P(SalvagePasswordTest, ThePasswordStaysAGate) {
  const GateCase& c = GetParam();
  const Bytes a = WavPayload(3000, 1);
  BackupBuilder builder = BackupBuilder::Paired("1234").Files("a.wav", a, "b.wav", WavPayload(3000, 2));
  Bytes backup = builder.Raw(Bytes(300, 0)).bytes();  // damaged: trailing zeros
  if (c.damageKind) backup[8] = 0x45;
  if (c.cutTo != 0) backup.resize(c.cutTo);
  Session s;
  s.ui.passwordAnswers.assign(c.answers.begin(), c.answers.end());
  const SalvageOutcome o = SalvageInto(s, backup);
  EXPECT_EQ(o.result, c.result);
  EXPECT_EQ(o.files.size(), c.files);
  EXPECT_EQ(s.ui.passwordPrompts, static_cast<int>(c.answers.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Gate, SalvagePasswordTest,
    ::testing::Values(GateCase{"right", {"1234"}, false, 0, RunResult::kCompleted, 2},
                      GateCase{"wrong", {"4321"}, false, 0, RunResult::kFailed, 0},
                      GateCase{"cancelled", {std::nullopt}, false, 0, RunResult::kCancelled, 0},
                      GateCase{"kind damaged, still asked", {"9"}, true, 0, RunResult::kFailed, 0},
                      GateCase{"kind damaged, right", {"1234"}, true, 0, RunResult::kCompleted, 2},
                      GateCase{"digest cut off", {}, false, 30, RunResult::kFailed, 0}),
    ByLabel());

// Random damage, compared with the messages as built: every message whose
// bytes were not touched comes back byte for byte under its name; a file
// under a stored name (whole or in part) holds that message's bytes wherever
// the damage did not touch them; and a message whose last bytes were zeroed
// together with the next header's name is never called complete.
TEST(SalvagePropertyTest, UntouchedMessagesComeBackAndNoStoredNameHoldsForeignBytes) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 60; ++round) {
    const bool paired = round % 2 == 1;
    const BuiltBackup layout = FourMessages(paired);
    Bytes damaged = layout.bytes;
    const std::int64_t start = paired ? 51 : 24;
    struct Touch {
      std::int64_t begin, end;
      bool zeros;
    };
    std::vector<Touch> touched;
    for (int events = 1 + static_cast<int>(random() % 2); events > 0; --events) {
      const auto size = static_cast<std::int64_t>(damaged.size());
      const std::int64_t at =
          start + static_cast<std::int64_t>(random() % static_cast<unsigned>(size - start));
      switch (random() % 4) {
        case 0:
          damaged.resize(static_cast<std::size_t>(at));
          touched.push_back({at, INT64_MAX, false});
          break;
        case 1: {
          const std::int64_t n = std::min<std::int64_t>(4096, size - at);
          Zero(damaged, at, n);
          touched.push_back({at, at + n, true});
          break;
        }
        default: {
          const std::int64_t n = std::min<std::int64_t>(1 + random() % 16, size - at);
          for (std::int64_t i = 0; i < n; ++i)
            damaged[static_cast<std::size_t>(at + i)] = static_cast<std::uint8_t>(random());
          touched.push_back({at, at + n, false});
        }
      }
    }
    const auto isTouched = [&](std::int64_t begin, std::int64_t end) {
      return std::any_of(touched.begin(), touched.end(),
                         [&](const Touch& t) { return t.begin < end && t.end > begin; });
    };
    SCOPED_TRACE("round " + std::to_string(round));
    Session s;
    const SalvageOutcome o = SalvageInto(s, damaged);
    ASSERT_EQ(o.result, RunResult::kCompleted);
    for (const PlacedMessage& m : layout.messages) {
      if (!isTouched(m.header, m.offset + 5000)) {
        ASSERT_TRUE(o.files.contains(m.name)) << m.name;
        EXPECT_EQ(o.files.at(m.name), m.original) << m.name;
      }
    }
    for (const SalvagedMessage& saved : o.report.messages) {
      if (saved.state != SalvageState::kComplete && saved.state != SalvageState::kPartial) continue;
      const PlacedMessage& m = layout[saved.storedName[0]];
      ASSERT_EQ(saved.offset, m.offset) << saved.outputName;
      ASSERT_TRUE(o.files.contains(saved.outputName)) << saved.outputName;
      const Bytes& held = o.files.at(saved.outputName);
      ASSERT_LE(held.size(), m.original.size()) << saved.outputName;
      if (saved.state == SalvageState::kComplete && !isTouched(m.header, m.offset + 12)) {
        EXPECT_EQ(held.size(), m.original.size()) << saved.outputName;
      }
      const bool mended = held.size() < m.original.size();
      for (std::size_t i = 0; i < held.size(); ++i) {
        const bool sizeField = mended && ((i >= 4 && i < 8) || (i >= 40 && i < 44));
        if (sizeField ||
            isTouched(m.offset + static_cast<std::int64_t>(i), m.offset + static_cast<std::int64_t>(i) + 1))
          continue;
        ASSERT_EQ(held[i], m.original[i]) << saved.outputName << " byte " << i;
      }
      // Zeros from inside the payload on into the name of the header after
      // it (the tags of the record's next file): damage that began before.
      const bool fileA = paired && m.offset == m.header + 256;
      const std::int64_t nameEnd = m.offset + 5000 + (fileA ? 12 : paired ? 55 : 23);
      const bool zeroedTail = std::any_of(touched.begin(), touched.end(), [&](const Touch& t) {
        return t.zeros && t.begin < m.offset + 5000 && t.begin > m.offset + 12 && t.end >= nameEnd &&
               nameEnd <= static_cast<std::int64_t>(damaged.size());
      });
      if (zeroedTail) {
        EXPECT_NE(saved.state, SalvageState::kComplete) << saved.outputName;
      }
    }
  }
}

// The desktop offer: an Extract that stopped at a damaged entry tells where,
// and the salvage goes on from there without writing again what it wrote.
TEST(SalvageAfterExtractTest, GoesOnFromTheDamagedEntryAndWritesTheReport) {
  for (const bool paired : {false, true}) {
    SCOPED_TRACE(paired ? "paired" : "single");
    const BuiltBackup layout = FourMessages(paired);
    Bytes damaged = layout.bytes;
    // b's tags (paired: file B of the first record, after A was written).
    damaged[static_cast<std::size_t>(layout['b'].offset)] = 'X';
    Session s;
    WriteFile(s.backup, damaged);
    Extractor extractor(NativeFileSystem(), s.ui, TickingClock());
    ASSERT_EQ(extractor.OnExtract(s.backup, s.folder), RunResult::kFailed);
    const std::optional<DamagedStop> stop = extractor.damaged_stop();
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->entryStart, layout['b'].header);
    const Files before = s.Output();

    SalvageReport report;
    std::string summary;
    // An unscripted overwrite prompt (a file written again) fails the test.
    ASSERT_EQ(Salvager(NativeFileSystem(), s.ui, TickingClock()).GoOn(*stop, report, summary),
              RunResult::kCompleted);
    EXPECT_EQ(summary,
              "3 messages saved, 0 in part, 0 without their names; the damaged parts are listed in " +
                  s.folder + static_cast<char>(std::filesystem::path::preferred_separator) +
                  "larkspool-salvage.txt");
    const Files after = s.Output();
    EXPECT_EQ(after.at("a.wav"), layout['a'].original);
    EXPECT_EQ(after.at("c.wav"), layout['c'].original);
    EXPECT_EQ(after.at("d.wav"), layout['d'].original);
    EXPECT_FALSE(after.contains("b.wav"));
    EXPECT_EQ(StatesOf(report).at("b.wav"), "lost");
    const std::string text(after.at("larkspool-salvage.txt").begin(),
                           after.at("larkspool-salvage.txt").end());
    EXPECT_NE(text.find("lost  b.wav"), std::string::npos) << text;
    EXPECT_EQ(before.size(), 1u);
  }
}

TEST(SalvageAfterExtractTest, NoOfferAfterAFaultTheWalkDidNotRaise) {
  Session s;
  WriteFile(s.backup, BackupBuilder::Paired("1234").Files("a.wav", WavPayload(100)).bytes());
  s.ui.passwordAnswers.push_back("1");
  Extractor extractor(NativeFileSystem(), s.ui, TickingClock());
  EXPECT_EQ(extractor.OnExtract(s.backup, s.folder), RunResult::kFailed);
  EXPECT_FALSE(extractor.damaged_stop().has_value());
}

TEST(SalvageSoundTest, WritesExactlyWhatExtractWrites) {
  // A name field without its NUL: an Extract takes it cut at the field's
  // end, though a damaged backup would not be trusted with it.
  const BackupBuilder builder = BackupBuilder::Single(BackupKind::k6)
                                    .Entry("a.wav", WavPayload(100, 1))
                                    .Entry(std::string(46, 'n'), WavPayload(20000, 2))
                                    .Entry("c.wav", WavPayload(16385, 3));
  Session extracted;
  ASSERT_EQ(extracted.Extract(builder), RunResult::kCompleted);
  Session salvaged;
  const SalvageOutcome o = SalvageInto(salvaged, builder.bytes());
  ASSERT_EQ(o.result, RunResult::kCompleted);
  EXPECT_EQ(o.files, extracted.Output());
  EXPECT_EQ(o.files.size(), 3u);
  EXPECT_FALSE(o.report.Damaged());
}

TEST(SalvageMendTest, CutFileGetsItsRiffAndDataSizesMended) {
  const Bytes wav = WavFile(std::vector<std::int16_t>(1000, 7));  // 44 + 2000 bytes
  const Bytes head(wav.begin(), wav.begin() + 64);
  const std::vector<SizeMend> mends = MendSizes(head, 1044);
  ASSERT_EQ(mends.size(), 2u);
  EXPECT_EQ(mends[0].offset, 4u);
  EXPECT_EQ(mends[0].value, 1036u);
  EXPECT_EQ(mends[1].offset, 40u);
  EXPECT_EQ(mends[1].value, 1000u);
}

}  // namespace
}  // namespace larkspool::testing
