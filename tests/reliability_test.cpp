// What the tool promises whatever the backup holds and whatever the files do:
// the backup is never written, nothing lands outside the folder, files of
// earlier entries stay byte-exact, a partial file is removed, and every fault
// ends in its one catalogue message. Faults come through the file layer, the
// real kernel, and generated and mutated backups checked against a small
// independent model of the format.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cctype>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <regex>

#include "app/extract_request.h"
#include "app/inspect_request.h"
#include "builder/backup_builder.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/session.h"

namespace larkspool::testing {
namespace {

using testing::PrintTo;

namespace fs = std::filesystem;
using enum StatusCode;

const Bytes kA = WavPayload(100, 1);
const Bytes kB = WavPayload(40000, 2);  // three chunks
const Bytes kC = WavPayload(300, 3);
const Bytes kBig = WavPayload(16385, 4);  // two chunks, the second of one byte

// Pair records: the records at 51 and 407, a.wav at 307, b.wav at 663 (its
// chunks at 663, 17047 and 33431), c.wav at 40663.
BackupBuilder ThreeFiles() {
  return BackupBuilder::Paired().Files("a.wav", kA).Files("b.wav", kB, "c.wav", kC);
}
// Single entries: the headers at 24 and 204, a.wav at 104, big.wav at 284
// (its chunks at 284 and 16668).
BackupBuilder TwoEntries() {
  return BackupBuilder::Single(BackupKind::k3).Entry("a.wav", kA).Entry("big.wav", kBig);
}

struct FileFaultCase {
  const char* label;
  BackupBuilder backup;
  Fault fault;
  StatusCode code;
  Files kept;
};
class FaultInjectionTest : public ::testing::TestWithParam<FileFaultCase> {};

TEST_P(FaultInjectionTest, EachFaultEndsInItsOneMessageAndKeepsEarlierFiles) {
  const FileFaultCase& c = GetParam();
  Session s;
  FaultyFileSystem faulty;
  faulty.Inject(c.fault);
  EXPECT_EQ(s.Extract(c.backup, faulty), RunResult::kFailed);
  EXPECT_EQ(faulty.spoilt(), 1) << "the fault was met once";
  EXPECT_EQ(s.ui.MessageTexts(), FaultText(c.code));
  EXPECT_EQ(s.Output(), c.kept);
}

using enum FaultEffect;
using enum FaultyCall;
const Files kNone, kOnlyA = {{"a.wav", kA}}, kAAndB = {{"a.wav", kA}, {"b.wav", kB}};
INSTANTIATE_TEST_SUITE_P(
    Faults, FaultInjectionTest,
    ::testing::Values(
        FileFaultCase{"classification read short", ThreeFiles(), ReadAt(12, kShort), kReadFailed, kNone},
        FileFaultCase{"digest read fails", ThreeFiles(), ReadAt(30), kReadFailed, kNone},
        FileFaultCase{"record read short", ThreeFiles(), ReadAt(500, kShort), kReadFailed, kOnlyA},
        FileFaultCase{"record read fails", ThreeFiles(), ReadAt(407), kReadFailed, kOnlyA},
        FileFaultCase{"mid-payload read fails", ThreeFiles(), ReadAt(20000), kReadFailed, kOnlyA},
        FileFaultCase{"last chunk read short", ThreeFiles(), ReadAt(40000, kShort), kReadFailed, kOnlyA},
        FileFaultCase{"file B read fails", ThreeFiles(), ReadAt(40663), kReadFailed, kAAndB},
        FileFaultCase{"disk full on the first chunk", ThreeFiles(), WriteAt("b.wav", 0, kFail, ENOSPC),
                      kWriteFailed, kOnlyA},
        FileFaultCase{"short write of the last chunk", ThreeFiles(), WriteAt("b.wav", 35000, kShort),
                      kWriteFailed, kOnlyA},
        FileFaultCase{"file B write fails", ThreeFiles(), WriteAt("c.wav", 0), kWriteFailed, kAAndB},
        FileFaultCase{"size of the backup unknown", ThreeFiles(), NthCall(kSeek, 3), kReadFailed, kNone},
        FileFaultCase{"record buffer refused", ThreeFiles(), NthCall(kAllocateRecordBuffer, 2), kNoMemory,
                      kOnlyA},
        FileFaultCase{"backup unreadable at classification", ThreeFiles(), NthCall(kOpenRead, 1, EACCES),
                      kBackupNotFound, kNone},
        FileFaultCase{"backup unreadable at the gate", ThreeFiles(), NthCall(kOpenRead, 2, EACCES),
                      kOpenFailed, kNone},
        FileFaultCase{"backup unreadable at the run", ThreeFiles(), NthCall(kOpenRead, 3, EACCES),
                      kOpenFailed, kNone},
        FileFaultCase{"entry header read short", TwoEntries(), ReadAt(250, kShort), kReadFailed, kOnlyA},
        FileFaultCase{"first chunk read fails", TwoEntries(), ReadAt(284), kReadFailed, kOnlyA},
        FileFaultCase{"one-byte chunk read short", TwoEntries(), ReadAt(16668, kShort), kReadFailed, kOnlyA},
        FileFaultCase{"first chunk write fails", TwoEntries(), WriteAt("big.wav", 0), kWriteFailed, kOnlyA},
        FileFaultCase{"one-byte chunk written short", TwoEntries(), WriteAt("big.wav", 16384, kShort),
                      kWriteFailed, kOnlyA},
        FileFaultCase{"header buffer refused", TwoEntries(), NthCall(kAllocateRecordBuffer, 2), kNoMemory,
                      kOnlyA}),
    ByLabel());

struct RemovedCase {
  const char* label;
  BackupBuilder backup;
  int open;  // the open before which the backup disappears
};
class BackupRemovedTest : public ::testing::TestWithParam<RemovedCase> {};

TEST_P(BackupRemovedTest, BackupRemovedBeforeItIsReadAgainIsSystemError9) {
  Session s;
  FaultyFileSystem faulty;
  faulty.Before(kOpenRead, GetParam().open, [&] { fs::remove(s.backup); });
  EXPECT_EQ(s.Extract(GetParam().backup, faulty), RunResult::kFailed);
  EXPECT_EQ(s.ui.MessageTexts(), FaultText(kOpenFailed));
  EXPECT_EQ(std::count(s.ui.events.begin(), s.ui.events.end(), "open"), 0) << "no progress display";
  EXPECT_TRUE(fs::is_empty(s.folder));
}

INSTANTIATE_TEST_SUITE_P(
    Opens, BackupRemovedTest,
    ::testing::Values(RemovedCase{"single entries, before the run",
                                  BackupBuilder::Single(BackupKind::k4).Entry("a.wav", kA), 2},
                      RemovedCase{"pair records, before the gate", ThreeFiles(), 2},
                      RemovedCase{"pair records, before the run", ThreeFiles(), 3}),
    ByLabel());

// What stands at the output name, and for links the file outside they reach.
void Place(std::string_view obstacle, const std::string& at, const std::string& outside) {
  if (obstacle == "directory") fs::create_directory(at);
#ifndef _WIN32
  if (obstacle == "fifo") ::mkfifo(at.c_str(), 0600);
#endif
  if (obstacle == "unopenable file") WriteFile(at, kOld);
  if (obstacle.find("to a file outside") != std::string_view::npos) WriteFile(outside, kOld);
  if (obstacle == "hard link to a file outside") fs::create_hard_link(outside, at);
  if (obstacle == "link to a file outside" || obstacle == "dangling link") fs::create_symlink(outside, at);
}
class OutputObstacleTest : public ::testing::TestWithParam<const char*> {};

// File B of the second record meets the obstacle after file A was written.
TEST_P(OutputObstacleTest, ObstacleAtAnOutputNameIsLeftAloneAndEndsInSystemError9) {
  Session s;
  const std::string at = s.folder + "/c.wav", outside = s.scratch / "outside.wav";
  Place(GetParam(), at, outside);
  const fs::file_type type = fs::symlink_status(at).type();
  const Bytes outsideBefore = fs::exists(outside) ? ReadFile(outside) : Bytes{};
  FaultyFileSystem faulty;  // plays a file that cannot be opened
  if (GetParam() == std::string_view("unopenable file")) faulty.Inject(NthCall(kOpenForOverwrite, 0, EACCES));
  s.ui.overwriteAnswers = {OverwriteAnswer::kYes};
  EXPECT_EQ(s.Extract(ThreeFiles(), faulty), RunResult::kFailed);
  EXPECT_EQ(s.ui.overwritePrompts, std::vector<std::string>{"c.wav"});
  EXPECT_EQ(s.ui.MessageTexts(), FaultText(kOpenFailed));
  EXPECT_EQ(fs::symlink_status(at).type(), type);
  EXPECT_EQ(fs::exists(outside) ? ReadFile(outside) : Bytes{}, outsideBefore);
  EXPECT_EQ(type == fs::file_type::regular ? ReadFile(at) : kOld, kOld);
  EXPECT_EQ(ReadFile(s.folder + "/a.wav"), kA);
  EXPECT_EQ(ReadFile(s.folder + "/b.wav"), kB);
}

// Symbolic links and FIFOs as POSIX makes them; Windows' reparse points are
// in files_windows_test.cpp.
const char* const kObstacles[] = {
    "directory",
    "hard link to a file outside",
    "unopenable file",
#ifndef _WIN32
    "link to a file outside",
    "dangling link",
    "fifo",
#endif
};
INSTANTIATE_TEST_SUITE_P(Obstacles, OutputObstacleTest, ::testing::ValuesIn(kObstacles),
                         [](const auto& test) { return CaseName(test.param); });

// A folder where nothing can be created (read-only, full): nothing stands at
// the name, so nothing is asked; the OS error is the detail. As root every
// folder is writable, so the seam refuses every create.
TEST(OutputObstacleTest, FolderThatCannotBeWrittenFailsWithoutAsking) {
  Session s;
  FaultyFileSystem faulty;
  faulty.Inject(NthCall(kCreateExclusive, 0, EACCES));
  EXPECT_EQ(s.Extract(ThreeFiles(), faulty), RunResult::kFailed);
  EXPECT_EQ(s.ui.overwritePrompts, std::vector<std::string>{});
  EXPECT_EQ(s.ui.MessageTexts(), FaultText(kOpenFailed));
  EXPECT_EQ(s.ui.messages[0].detail, "a.wav: " + std::string(std::strerror(EACCES)));
  EXPECT_EQ(faulty.calls(kOpenForOverwrite), 0);
  EXPECT_TRUE(fs::is_empty(s.folder));
}

#ifndef _WIN32
// The kernel's own file-size limit, in a child so that it cannot leak: the
// third file's second chunk passes the limit.
TEST(FaultInjectionTest, RealFileSizeLimitIsSystemError11) {
  Session s;
  const Bytes exact = WavPayload(16384, 4), over = WavPayload(16385, 5);
  BackupBuilder::Single(BackupKind::k3)
      .Entry("a.wav", kA)
      .Entry("b.wav", exact)
      .Entry("c.wav", over)
      .WriteTo(s.backup);
  const pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16384, 16384};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(100);
    Extractor extractor(NativeFileSystem(), s.ui);
    const bool oneFault =
        extractor.OnExtract(s.backup, s.folder) == RunResult::kFailed && s.ui.messages.size() == 1;
    ::_exit(oneFault && s.ui.messages[0].text == StatusMessage(kWriteFailed).text ? 0 : 101);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "100: no limit; 101: not exactly one System error(11)";
  EXPECT_EQ(s.Output(), (Files{{"a.wav", kA}, {"b.wav", exact}}));
}
#endif

// ---- Faults these tests found in the core, fixed since.

// An entry named like the backup, extracted into the backup's own folder:
// overwriting it truncates the backup the run is reading, and the failed copy
// then deletes it. Expected: the backup is refused like any file that cannot
// be opened for overwrite.
class BackupInTheFolderTest : public ::testing::TestWithParam<OverwriteAnswer> {};

TEST_P(BackupInTheFolderTest, BackupInsideTheFolderIsNeverOverwrittenByItsOwnEntry) {
  Session s;
  const BackupBuilder backup = BackupBuilder::Single(BackupKind::k3).Entry("a.wav", kA).Entry("box.bkp", kC);
  s.backup = s.folder + "/box.bkp";
  s.ui.overwriteAnswers = {GetParam()};
  EXPECT_EQ(s.Extract(backup), RunResult::kFailed);
  ASSERT_TRUE(fs::exists(s.backup)) << "the backup was deleted";
  EXPECT_EQ(s.ui.MessageTexts(), FaultText(kOpenFailed));
}

INSTANTIATE_TEST_SUITE_P(Answers, BackupInTheFolderTest,
                         ::testing::Values(OverwriteAnswer::kYes, OverwriteAnswer::kYesToAll));

// A payload without tags whose stored size runs past the end: the extraction
// reads the first chunk, tests the tags and says 8; verify tests the end
// first and says 10.
TEST(CoreFaultTest, VerifyReportsTheTagFaultBeforeTheEndFault) {
  Session s;
  const BackupBuilder backup = BackupBuilder::Single(BackupKind::k3).Entry("a.wav", Bytes(16400, 'x'), 20000);
  EXPECT_EQ(s.Extract(backup), RunResult::kFailed);
  EXPECT_EQ(s.ui.MessageTexts(), FaultText(kWaveFormat));
  FakeUi ui;
  BackupListing listing;
  EXPECT_EQ(InspectBackup(NativeFileSystem(), ui, s.backup, ScanMode::kVerify, listing), RunResult::kFailed);
  EXPECT_EQ(ui.MessageTexts(), FaultText(kWaveFormat));
}

// ---- Properties over generated and mutated backups.

std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return DecodeFixed32(std::span(b).subspan(at).first<4>());
}

std::string NameAt(const Bytes& b, std::size_t at) {
  const auto* field = reinterpret_cast<const char*>(b.data() + at);
  return std::string(field, strnlen(field, format::kNameFieldSize));
}

bool Plain(const std::string& n) {
  const bool drive = n.size() >= 2 && n[1] == ':' && std::isalpha(static_cast<unsigned char>(n[0]));
#ifdef _WIN32
  // Names Windows would store under another name, or open as a device.
  static const std::regex altered(
      R"([\x01-\x1f<>:"|?*]|[. ]$|^(con|prn|aux|nul|conin\$|conout\$|(com|lpt)[0-9\xb9\xb2\xb3]) *(\..*)?$)",
      std::regex::icase);
  if (std::regex_search(n, altered)) return false;
#endif
  return !n.empty() && n != "." && n != ".." && n.find_first_of("/\\") == std::string::npos && !drive;
}

bool Tagged(const Bytes& b, std::int64_t at, std::int64_t length) {
  return length >= 12 && std::memcmp(&b[at], "RIFF", 4) == 0 && std::memcmp(&b[at + 8], "WAVE", 4) == 0;
}

const char kPassword[] = "1234";

// The first fault of a walk over `b` in the tool's order; `visit` decides
// about each selected file and returns 0 to go on.
using Visit = std::function<StatusCode(const std::string&, std::uint32_t size, std::int64_t offset)>;
StatusCode ModelWalk(const Bytes& b, const Visit& visit) {
  const auto n = static_cast<std::int64_t>(b.size());
  if (n < 16) return kReadFailed;
  const std::uint32_t kind = Get32(b, 8);
  const auto variant = static_cast<std::int32_t>(Get32(b, 12));
  if (kind < 3 || kind > 5) return kNotVoiceBackup;
  const bool paired = kind == 5;
  if (paired && n < 40) return kReadFailed;
  const Bytes right = KnownDigestOf(kPassword);
  if (paired && b[24] != 0xFF && !std::equal(right.begin(), right.end(), b.begin() + 24))
    return kWrongPassword;
  const std::int64_t header = paired ? 256 : 80;
  std::int64_t at = paired ? 51 : (kind == 3 && variant >= 16 && variant <= 25) ? 60 : 24;
  for (;;) {
    if (at + header > n) return kReadFailed;
    const std::size_t h = static_cast<std::size_t>(at);
    std::vector<std::pair<std::string, std::uint32_t>> files;
    const std::uint8_t type = paired ? b[h + 12] : 0;
    if (!paired) {
      files = {{NameAt(b, h + 22), Get32(b, h + 68)}};
    } else if (type <= 2 && !(type == 0 && b[h + 40] == 0xFF && b[h + 176] != 0xFF)) {
      files = {{NameAt(b, h + 54), Get32(b, h + 100)}};
      if (type != 2 && Get32(b, h + 172) != 0) files.emplace_back(NameAt(b, h + 122), Get32(b, h + 168));
    }
    at += header;
    for (const auto& [name, size] : files) {
      if (paired && size == 0) continue;
      if (const StatusCode code = visit(name, size, at); code != kSuccess) return code;
      at += size;
    }
    if (at >= n) return kSuccess;
  }
}

// Extraction into `folder` (what stood there before, by name) by a user who
// keeps every existing file; inspection when `folder` is null.
StatusCode Model(const Bytes& b, Files* folder, bool verify, std::vector<std::string>& listed) {
  const auto n = static_cast<std::int64_t>(b.size());
  return ModelWalk(b, [&](const std::string& name, std::uint32_t size, std::int64_t at) {
    if (!Plain(name)) return kOpenFailed;
    if (folder != nullptr && folder->count(name) != 0) return at + size > n ? kReadFailed : kSuccess;
    const std::int64_t chunk = std::min<std::int64_t>(size, 16384);
    if (folder != nullptr || verify) {
      if (at + chunk > n) return kReadFailed;
      if (!Tagged(b, at, chunk)) return kWaveFormat;
    }
    if (at + size > n) return kReadFailed;
    listed.push_back(name);
    if (folder != nullptr) (*folder)[name] = Bytes(b.begin() + at, b.begin() + at + size);
    return kSuccess;
  });
}

BackupBuilder Generate(std::mt19937& rng) {
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  const std::string names[] = {"a.wav",     "b.wav",    "c.wav",   "d.wav",
                               "",          ".",        "..",      "../up.wav",
                               "sub/x.wav", "x\\y.wav", "C:z.wav", std::string(46, 'n')};
  const std::size_t sizes[] = {0, 11, 12, 100, 16384, 16385, 20000};
  const auto name = [&] { return names[pick(5) == 0 ? pick(12) : pick(4)]; };
  const auto payload = [&] { return WavPayload(sizes[pick(7)], static_cast<std::uint8_t>(rng())); };
  if (pick(2) == 0) {
    const BackupKind kinds[] = {BackupKind::k3, BackupKind::k4, BackupKind::k6};
    BackupBuilder backup = BackupBuilder::Single(kinds[pick(3)]);
    for (std::size_t i = pick(5); i > 0; --i) backup.Entry(name(), payload());
    return backup;
  }
  BackupBuilder backup =
      BackupBuilder::Paired(pick(3) == 0 ? std::optional<std::string>(kPassword) : std::nullopt);
  for (std::size_t i = pick(5); i > 0; --i) {
    PairRecordSpec r;
    r.type = static_cast<std::uint8_t>(pick(5));
    r.markerA = static_cast<std::uint8_t>(pick(2) * 0xFF);
    r.tailMarker = static_cast<std::uint8_t>(pick(2) * 0xFF);
    r.nameA = name();
    r.nameB = name();
    r.presentB = static_cast<std::uint32_t>(pick(2));
    const bool none = r.type > 2 || (r.type == 0 && r.markerA == 0xFF && r.tailMarker != 0xFF);
    const bool withB = !none && r.type != 2 && r.presentB != 0;
    r.payloadA = none ? Bytes{} : payload();
    r.payloadB = withB ? payload() : Bytes{};
    // The size of a file that is not selected means nothing.
    if (none) r.sizeA = 999;
    if (!withB) r.sizeB = 999;
    backup.Record(r);
  }
  return backup;
}

// Flips bytes, cuts the end off, or appends bytes, up to three times.
Bytes Mutate(Bytes b, std::mt19937& rng) {
  for (std::size_t i = rng() % 4; i > 0; --i) {
    const auto op = rng() % 3;
    if (op == 0 && !b.empty()) b[rng() % b.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    if (op == 1) b.resize(rng() % (b.size() + 1));
    if (op == 2) b.resize(b.size() + 1 + rng() % 300, static_cast<std::uint8_t>(rng()));
  }
  return b;
}

TEST(PropertyTest, GeneratedAndMutatedBackupsKeepEveryPromise) {
  std::mt19937 rng(20240531);
  for (int i = 0; i < 300; ++i) {
    const Bytes bytes = i % 2 == 0 ? Generate(rng).bytes() : Mutate(Generate(rng).bytes(), rng);
    SCOPED_TRACE("case " + std::to_string(i) + ", " + std::to_string(bytes.size()) + " bytes");
    Session s;
    Files expected;
    if (rng() % 3 == 0) {
      expected["a.wav"] = kOld;
      WriteFile(s.folder + "/a.wav", kOld);
    }
    std::vector<std::string> listed;
    const StatusCode code = Model(bytes, &expected, false, listed);
    s.ui.overwriteAnswers.assign(64, OverwriteAnswer::kSkip);
    s.ui.passwordAnswers = {kPassword};
    const RunResult result = s.Extract(BackupBuilder::Header(0, 0, 0).Raw(bytes));
    EXPECT_EQ(result, code == kSuccess ? RunResult::kCompleted : RunResult::kFailed);
    EXPECT_EQ(s.ui.MessageTexts(),
              code == kSuccess ? std::vector<std::string>{"Extraction completed."} : FaultText(code));
    EXPECT_EQ(s.Output(), expected);
    for (const ScanMode mode : {ScanMode::kList, ScanMode::kVerify}) {
      std::vector<std::string> modelled, names;
      const StatusCode scan = Model(bytes, nullptr, mode == ScanMode::kVerify, modelled);
      FakeUi ui;
      ui.passwordAnswers = {kPassword};
      BackupListing listing;
      InspectBackup(NativeFileSystem(), ui, s.backup, mode, listing);
      for (const ListedEntry& entry : listing.entries) names.push_back(entry.name);
      EXPECT_EQ(names, modelled);
      EXPECT_EQ(ui.MessageTexts(), scan == kSuccess ? std::vector<std::string>{} : FaultText(scan));
    }
  }
}

}  // namespace
}  // namespace larkspool::testing
