// What the tool promises whatever the backup holds and whatever the files do:
// the backup is never written, nothing lands outside the folder, files of
// earlier entries stay byte-exact, a partial file is removed, and every fault
// ends in its one catalogue message. Faults come through the file layer, the
// real kernel, and generated and mutated backups checked against a small
// independent model of the format.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

#include "app/extract_request.h"
#include "app/inspect_request.h"
#include "builder/backup_builder.h"
#include "password/md5.h"
#include "password/password_gate.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/scratch_dir.h"

namespace larkspool::testing {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, Bytes>;
using enum StatusCode;

const Bytes kA = WavPayload(100, 1);
const Bytes kB = WavPayload(40000, 2);  // three chunks
const Bytes kC = WavPayload(300, 3);
const Bytes kOld = {'o', 'l', 'd'};

std::vector<std::string> Texts(StatusCode code) { return {StatusMessage(code).text}; }
std::int64_t NoClock() { return 0; }

// The backup lies beside the folder, so the folder holds only what a run wrote.
struct Session {
  ScratchDir scratch;
  std::string backup = scratch / "box.bkp";
  std::string folder = scratch / "out";
  FakeUi ui;

  Session() { fs::create_directory(folder); }
  RunResult Extract(const BackupBuilder& builder, FileSystem& files = PosixFileSystem()) {
    builder.WriteTo(backup);
    Extractor extractor(files, ui, &NoClock);
    const RunResult result = extractor.OnExtract(backup, folder);
    if (fs::exists(backup)) {
      EXPECT_EQ(ReadFile(backup), builder.bytes()) << "the backup was changed";
    }
    return result;
  }
  Files Output() const { return FilesIn(folder); }
};

// Reads: classify 1, digest 2, record 3, a.wav 4, record 5, b.wav 6..8,
// c.wav 9. Writes: a.wav 1, b.wav 2..4, c.wav 5. Opens: classify, gate, run.
BackupBuilder ThreeFiles() {
  return BackupBuilder::Paired().Files("a.wav", kA).Files("b.wav", kB, "c.wav", kC);
}

TEST(FaultInjectionTest, EachFaultEndsInItsOneMessageAndKeepsEarlierFiles) {
  using enum FaultyCall;
  const Files none, onlyA = {{"a.wav", kA}}, aAndB = {{"a.wav", kA}, {"b.wav", kB}};
  const struct {
    const char* label;
    Fault fault;
    StatusCode code;
    Files kept;
  } cases[] = {
      {"classification read short", {kRead, 1, FaultEffect::kShort}, kReadFailed, none},
      {"digest read fails", {kRead, 2}, kReadFailed, none},
      {"record read short", {kRead, 5, FaultEffect::kShort}, kReadFailed, onlyA},
      {"record read fails", {kRead, 5}, kReadFailed, onlyA},
      {"mid-payload read fails", {kRead, 7}, kReadFailed, onlyA},
      {"last chunk read short", {kRead, 8, FaultEffect::kShort}, kReadFailed, onlyA},
      {"file B read fails", {kRead, 9}, kReadFailed, aAndB},
      {"disk full on the first chunk", {kWrite, 2, FaultEffect::kFail, ENOSPC}, kWriteFailed, onlyA},
      {"short write of the last chunk", {kWrite, 4, FaultEffect::kShort}, kWriteFailed, onlyA},
      {"file B write fails", {kWrite, 5}, kWriteFailed, aAndB},
      {"size of the backup unknown", {kSeek, 3}, kReadFailed, none},
      {"record buffer refused", {kAllocateRecordBuffer, 2}, kNoMemory, onlyA},
      {"backup unreadable at classification",
       {kOpenRead, 1, FaultEffect::kFail, EACCES},
       kBackupNotFound,
       none},
      {"backup unreadable at the gate", {kOpenRead, 2, FaultEffect::kFail, EACCES}, kOpenFailed, none},
      {"backup unreadable at the run", {kOpenRead, 3, FaultEffect::kFail, EACCES}, kOpenFailed, none},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Session s;
    FaultyFileSystem faulty;
    faulty.Inject(c.fault);
    EXPECT_EQ(s.Extract(ThreeFiles(), faulty), RunResult::kFailed);
    EXPECT_GE(faulty.calls(c.fault.call), c.fault.nth);
    EXPECT_EQ(s.ui.MessageTexts(), Texts(c.code));
    EXPECT_EQ(s.Output(), c.kept);
  }
}

TEST(FaultInjectionTest, BackupRemovedBeforeItIsReadAgainIsSystemError9) {
  const struct {
    const char* label;
    BackupBuilder backup;
    int open;  // the open before which the backup disappears
  } cases[] = {
      {"single entries, before the run", BackupBuilder::Single(BackupKind::k4).Entry("a.wav", kA), 2},
      {"pair records, before the gate", ThreeFiles(), 2},
      {"pair records, before the run", ThreeFiles(), 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Session s;
    FaultyFileSystem faulty;
    faulty.Before(FaultyCall::kOpenRead, c.open, [&] { fs::remove(s.backup); });
    EXPECT_EQ(s.Extract(c.backup, faulty), RunResult::kFailed);
    EXPECT_EQ(s.ui.MessageTexts(), Texts(kOpenFailed));
    EXPECT_EQ(std::count(s.ui.events.begin(), s.ui.events.end(), "open"), 0) << "no progress display";
    EXPECT_TRUE(fs::is_empty(s.folder));
  }
}

// File B of the second record meets the obstacle after file A was written.
TEST(OutputObstacleTest, ObstacleAtAnOutputNameIsLeftAloneAndEndsInSystemError9) {
  using Place = void (*)(const std::string& at, const std::string& outside);
  const struct {
    const char* label;
    Place place;
    bool refuseOverwrite;  // the seam plays a file that cannot be opened
  } cases[] = {
      {"directory", [](const std::string& at, const std::string&) { fs::create_directory(at); }, false},
      {"link to a file outside",
       [](const std::string& at, const std::string& outside) {
         WriteFile(outside, kOld);
         fs::create_symlink(outside, at);
       },
       false},
      {"hard link to a file outside",
       [](const std::string& at, const std::string& outside) {
         WriteFile(outside, kOld);
         fs::create_hard_link(outside, at);
       },
       false},
      {"dangling link",
       [](const std::string& at, const std::string& outside) { fs::create_symlink(outside, at); }, false},
      {"fifo", [](const std::string& at, const std::string&) { ::mkfifo(at.c_str(), 0600); }, false},
      {"unopenable file", [](const std::string& at, const std::string&) { WriteFile(at, kOld); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Session s;
    const std::string at = s.folder + "/c.wav", outside = s.scratch / "outside.wav";
    c.place(at, outside);
    const fs::file_type type = fs::symlink_status(at).type();
    const Bytes outsideBefore = fs::exists(outside) ? ReadFile(outside) : Bytes{};
    FaultyFileSystem faulty;
    if (c.refuseOverwrite) faulty.Inject({FaultyCall::kOpenForOverwrite, 0, FaultEffect::kFail, EACCES});
    s.ui.overwriteAnswers = {OverwriteAnswer::kYes};
    EXPECT_EQ(s.Extract(ThreeFiles(), faulty), RunResult::kFailed);
    EXPECT_EQ(s.ui.overwritePrompts, std::vector<std::string>{"c.wav"});
    EXPECT_EQ(s.ui.MessageTexts(), Texts(kOpenFailed));
    EXPECT_EQ(fs::symlink_status(at).type(), type);
    EXPECT_EQ(fs::exists(outside) ? ReadFile(outside) : Bytes{}, outsideBefore);
    EXPECT_EQ(type == fs::file_type::regular ? ReadFile(at) : kOld, kOld);
    EXPECT_EQ(ReadFile(s.folder + "/a.wav"), kA);
    EXPECT_EQ(ReadFile(s.folder + "/b.wav"), kB);
  }
}

// As root every folder is writable, so the seam refuses every create.
TEST(OutputObstacleTest, FolderThatCannotBeWrittenGetsNothing) {
  Session s;
  FaultyFileSystem faulty;
  faulty.Inject({FaultyCall::kCreateExclusive, 0, FaultEffect::kFail, EACCES});
  s.ui.overwriteAnswers = {OverwriteAnswer::kYesToAll};
  EXPECT_EQ(s.Extract(ThreeFiles(), faulty), RunResult::kFailed);
  EXPECT_EQ(s.ui.MessageTexts(), Texts(kOpenFailed));
  EXPECT_EQ(faulty.calls(FaultyCall::kOpenForOverwrite), 1);
  EXPECT_TRUE(fs::is_empty(s.folder));
}

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
    Extractor extractor(PosixFileSystem(), s.ui, &NoClock);
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

// ---- Faults these tests found in the core, fixed since.

// An entry named like the backup, extracted into the backup's own folder:
// overwriting it truncates the backup the run is reading, and the failed copy
// then deletes it. Expected: the backup is refused like any file that cannot
// be opened for overwrite.
TEST(CoreFaultTest, BackupInsideTheFolderIsNeverOverwrittenByItsOwnEntry) {
  for (const OverwriteAnswer answer : {OverwriteAnswer::kYes, OverwriteAnswer::kYesToAll}) {
    ScratchDir scratch;
    const BackupBuilder backup =
        BackupBuilder::Single(BackupKind::k3).Entry("a.wav", kA).Entry("box.bkp", kC);
    backup.WriteTo(scratch / "box.bkp");
    FakeUi ui;
    ui.overwriteAnswers = {answer};
    Extractor extractor(PosixFileSystem(), ui, &NoClock);
    EXPECT_EQ(extractor.OnExtract(scratch / "box.bkp", scratch.path()), RunResult::kFailed);
    ASSERT_TRUE(fs::exists(scratch / "box.bkp")) << "the backup was deleted";
    EXPECT_EQ(ReadFile(scratch / "box.bkp"), backup.bytes());
    EXPECT_EQ(ui.MessageTexts(), Texts(kOpenFailed));
  }
}

// A payload without tags whose stored size runs past the end: the extraction
// reads the first chunk, tests the tags and says 8; verify tests the end
// first and says 10.
TEST(CoreFaultTest, VerifyReportsTheTagFaultBeforeTheEndFault) {
  Session s;
  const BackupBuilder backup = BackupBuilder::Single(BackupKind::k3).Entry("a.wav", Bytes(16400, 'x'), 20000);
  EXPECT_EQ(s.Extract(backup), RunResult::kFailed);
  EXPECT_EQ(s.ui.MessageTexts(), Texts(kWaveFormat));
  FakeUi ui;
  BackupListing listing;
  EXPECT_EQ(InspectBackup(PosixFileSystem(), ui, s.backup, ScanMode::kVerify, listing), RunResult::kFailed);
  EXPECT_EQ(ui.MessageTexts(), Texts(kWaveFormat));
}

// ---- Properties over generated and mutated backups.

std::uint32_t Get32(const Bytes& b, std::size_t at) { return DecodeFixed32(&b[at]); }

std::string NameAt(const Bytes& b, std::size_t at) {
  const auto* field = reinterpret_cast<const char*>(b.data() + at);
  return std::string(field, strnlen(field, format::kNameFieldSize));
}

bool Plain(const std::string& n) {
  const bool drive = n.size() >= 2 && n[1] == ':' && std::isalpha(static_cast<unsigned char>(n[0]));
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
  const std::optional<PasswordDigest> block = PasswordBlock(kPassword);
  const Md5Digest right = MD5Digest(block->data(), block->size());
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
    const std::uint32_t op = rng() % 3;
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
              code == kSuccess ? std::vector<std::string>{"Extraction completed."} : Texts(code));
    EXPECT_EQ(s.Output(), expected);
    for (const ScanMode mode : {ScanMode::kList, ScanMode::kVerify}) {
      std::vector<std::string> modelled, names;
      const StatusCode scan = Model(bytes, nullptr, mode == ScanMode::kVerify, modelled);
      FakeUi ui;
      ui.passwordAnswers = {kPassword};
      BackupListing listing;
      InspectBackup(PosixFileSystem(), ui, s.backup, mode, listing);
      for (const ListedEntry& entry : listing.entries) names.push_back(entry.name);
      EXPECT_EQ(names, modelled);
      EXPECT_EQ(ui.MessageTexts(), scan == kSuccess ? std::vector<std::string>{} : Texts(scan));
    }
  }
}

}  // namespace
}  // namespace larkspool::testing
