// The whole extraction of an arbitrary backup, then list, verify and cat of
// the same bytes, with or without a selection and a name mapping. After every
// input it checks what the tool promises: the backup is unchanged and never
// written; nothing appears outside the extraction folder, and a link's target
// is untouched; every file in the folder is a payload of the backup; a fault
// ends in exactly one catalogue message.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/audio_details.h"
#include "app/cat_request.h"
#include "app/extract_request.h"
#include "app/inspect_request.h"
#include "fuzz/fuzz_input.h"

namespace larkspool::fuzz {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const Bytes kOldContent = {'o', 'l', 'd'};
const Bytes kOutsideContent = {'k', 'e', 'e', 'p'};

struct Scratch {
  fs::path root;
  fs::path backup;
  fs::path folder;
  fs::path outside;
};

// Set once the scratch folder exists; never destroyed, so the exit handler
// and a broken promise can still remove the folder.
const Scratch* gScratch = nullptr;

void RemoveScratch() {
  std::error_code ignored;
  if (gScratch != nullptr) fs::remove_all(gScratch->root, ignored);
}

void Require(bool holds, const char* promise) {
  if (holds) return;
  std::fprintf(stderr, "broken promise: %s\n", promise);
  RemoveScratch();
  std::abort();
}

Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  Require(in.good(), "a file in the scratch folder can be read");
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  Require(out.good(), "the scratch folder can be written");
}

// The catalogue code of a message text, 0 for any other text.
unsigned CodeOf(const Message& message) {
  for (unsigned code = 1; code <= 12; ++code) {
    if (StatusMessage(static_cast<StatusCode>(code)).text == message.text) return code;
  }
  return 0;
}

OverwriteAnswer AnswerOf(std::uint8_t script) {
  constexpr OverwriteAnswer kAnswers[] = {OverwriteAnswer::kYes, OverwriteAnswer::kYesToAll,
                                          OverwriteAnswer::kSkip, OverwriteAnswer::kCancel};
  return kAnswers[script & kAnswerBits];
}

// Answers every prompt at once and never blocks.
class ScriptedUi final : public UserInterface {
 public:
  explicit ScriptedUi(OverwriteAnswer answer) : answer_(answer) {}

  std::vector<Message> messages;
  int prompts = 0;

  void ShowMessage(const Message& message) override { messages.push_back(message); }
  OverwriteAnswer AskOverwrite(const std::string& /*name*/) override {
    ++prompts;
    return answer_;
  }
  std::optional<std::string> AskPassword() override { return std::string(kPassword); }
  void SetBusy(bool /*busy*/) override {}
  bool RunWithProgress(const ProgressLines& /*lines*/, CancelFlag& /*cancel*/,
                       const std::function<void()>& walk) override {
    open_ = true;
    walk();
    open_ = false;
    return true;
  }
  void ResetProgressBar() override { Require(open_, "the bar is reset only while the display is open"); }
  void ShowPercent(int percent, const std::string& /*text*/) override {
    Require(open_ && percent >= 0 && percent <= 100, "percentages lie in 0..100 and come while open");
  }
  void ShowElapsed(const std::string& /*text*/) override {}
  void PumpMessages() override {}

 private:
  OverwriteAnswer answer_;
  bool open_ = false;
};

// Not empty, not "." or "..", no slash: a name that stays in the current
// directory. Written here rather than taken from the core, so the core's own
// rule is checked.
bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

// Passes every call on, and stops the run when the core writes through a
// path that could leave the folder or through a handle it did not create.
class GuardedFiles final : public ForwardingFileSystem {
 public:
  explicit GuardedFiles(FileSystem& base) : ForwardingFileSystem(base) {}

  FileHandle CreateExclusive(const char* path) override {
    return Writable(base().CreateExclusive(Plain(path)));
  }
  bool SameFile(const char* path, FileHandle file) override { return base().SameFile(Plain(path), file); }
  FileHandle OpenForOverwrite(const char* path) override {
    return Writable(base().OpenForOverwrite(Plain(path)));
  }
  std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) override {
    Require(writable_.count(file) == 1, "only output files are written");
    return base().Write(file, buffer, size);
  }
  std::int64_t CopyRange(FileHandle from, FileHandle to, std::size_t size) override {
    Require(writable_.count(to) == 1, "only output files are written");
    return base().CopyRange(from, to, size);
  }
  void Close(FileHandle file) override {
    writable_.erase(file);
    base().Close(file);
  }
  bool Unlink(const char* path) override { return base().Unlink(Plain(path)); }

 private:
  static const char* Plain(const char* path) {
    Require(IsPlainName(path), "outputs are created, opened and removed only by a plain name");
    return path;
  }
  FileHandle Writable(FileHandle file) {
    if (file != kNoFile) writable_.insert(file);
    return file;
  }

  std::set<FileHandle> writable_;
};

// One folder per process on tmpfs when there is one, reused for every input.
const Scratch& TheScratch() {
  if (gScratch == nullptr) {
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "larkspool-fuzz-XXXXXX").string();
    Require(::mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made");
    const fs::path root(pattern);
    gScratch = new Scratch{root, root / "box.bkp", root / "out", root / kOutsideName};
    std::atexit(RemoveScratch);
  }
  return *gScratch;
}

void Prepare(const Scratch& s, std::uint8_t script, const Bytes& backup) {
  fs::remove_all(s.folder);
  fs::remove(s.outside);
  fs::create_directory(s.folder);
  WriteBytes(s.backup, backup);
  if (script & kPlaceFile) WriteBytes(s.folder / kFileName, kOldContent);
  if (script & kPlaceLink) {
    if (!(script & kLinkDangles)) WriteBytes(s.outside, kOutsideContent);
    fs::create_symlink(fs::path("..") / kOutsideName, s.folder / kLinkName);
  }
  if (script & kPlaceDirectory) fs::create_directory(s.folder / kDirectoryName);
}

void CheckMessages(RunResult result, const std::vector<Message>& messages, bool extraction) {
  switch (result) {
    case RunResult::kCompleted:
      Require(messages.size() == (extraction ? 1u : 0u), "a completed run says so once, an inspection not");
      if (extraction) Require(messages[0].text == kCompletedText, "the completion text");
      return;
    case RunResult::kFailed: {
      Require(messages.size() == 1, "a fault shows exactly one message");
      // With both paths given and the backup present only these can occur.
      const unsigned code = CodeOf(messages[0]);
      Require(code >= 6 && code <= 10, "a fault shows a catalogue message of a backup fault");
      return;
    }
    case RunResult::kCancelled:
      Require(messages.empty(), "a cancel shows nothing");
      return;
    case RunResult::kProgressWindowFailed:
      break;
  }
  Require(false, "the display always opens");
}

void CheckRoot(const Scratch& s, std::uint8_t script, const Bytes& backup) {
  Require(ReadBytes(s.backup) == backup, "the backup is unchanged");
  const bool outside = (script & kPlaceLink) && !(script & kLinkDangles);
  std::size_t count = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(s.root)) {
    ++count;
    const fs::path name = entry.path().filename();
    Require(name == "box.bkp" || name == "out" || (outside && name == kOutsideName),
            "nothing appears beside the folder");
  }
  Require(count == (outside ? 3u : 2u), "the backup and the folder are still there");
  if (outside) Require(ReadBytes(s.outside) == kOutsideContent, "a link's target is untouched");
}

using Files = std::map<std::string, Bytes>;

Bytes PayloadOf(const Bytes& backup, const ListedEntry& entry) {
  const auto begin = backup.begin() + entry.offset;
  return Bytes(begin, begin + entry.size);
}

// The files the run wrote, leaving out what stood there before and is
// untouched. Everything else must be the payload of a listed entry.
Files CheckFolder(const Scratch& s, std::uint8_t script, const Bytes& backup, const BackupListing& listing) {
  std::map<std::string, std::vector<Bytes>> payloads;
  for (const ListedEntry& entry : listing.entries) payloads[entry.name].push_back(PayloadOf(backup, entry));
  Files written;
  for (const fs::directory_entry& entry : fs::directory_iterator(s.folder)) {
    const std::string name = entry.path().filename().string();
    const fs::file_status status = entry.symlink_status();
    if ((script & kPlaceLink) && name == kLinkName) {
      Require(fs::is_symlink(status) && fs::read_symlink(entry.path()) == fs::path("..") / kOutsideName,
              "a link in the folder stays as it was");
      continue;
    }
    if ((script & kPlaceDirectory) && name == kDirectoryName) {
      Require(fs::is_directory(status) && fs::is_empty(entry.path()),
              "a directory in the folder stays empty");
      continue;
    }
    Require(fs::is_regular_file(status), "the run creates regular files only");
    Bytes content = ReadBytes(entry.path());
    if ((script & kPlaceFile) && name == kFileName && content == kOldContent) continue;
    const std::vector<Bytes>& candidates = payloads[name];
    Require(std::find(candidates.begin(), candidates.end(), content) != candidates.end(),
            "every file in the folder is a payload of the backup under its name");
    written.emplace(name, std::move(content));
  }
  const OverwriteAnswer answer = AnswerOf(script);
  if ((script & kPlaceFile) && (answer == OverwriteAnswer::kSkip || answer == OverwriteAnswer::kCancel)) {
    Require(ReadBytes(s.folder / kFileName) == kOldContent, "a file the user keeps is untouched");
  }
  return written;
}

// The same options for the extraction and the inspections that judge it.
EntryOptions OptionsOf(std::uint8_t script) {
  EntryOptions options;
  if (script & kSelectNotA)
    options.select = [](std::string_view name) { return name.empty() || name[0] != 'a'; };
  if (script & kMapNames) {
    options.mapName = [](std::string_view stored) -> std::optional<std::string> {
      const auto high = [](char c) { return static_cast<std::uint8_t>(c) >= 0xF0; };
      if (std::any_of(stored.begin(), stored.end(), high)) return std::nullopt;
      return "x" + std::string(stored);
    };
    options.unnamedReason = "no name";
  }
  return options;
}

RunResult Inspect(const Scratch& s, std::uint8_t script, ScanMode mode, BackupListing& listing,
                  unsigned& code) {
  ScriptedUi ui(OverwriteAnswer::kCancel);
  const RunResult result =
      InspectBackup(NativeFileSystem(), ui, s.backup.string(), mode, listing, OptionsOf(script));
  CheckMessages(result, ui.messages, false);
  Require(ui.prompts == 0, "an inspection never asks about files");
  code = result == RunResult::kFailed ? CodeOf(ui.messages[0]) : 0;
  std::int64_t end = 0;
  for (const ListedEntry& entry : listing.entries) {
    Require(entry.offset >= end &&
                entry.offset + entry.size <= static_cast<std::int64_t>(fs::file_size(s.backup)),
            "listed payloads follow each other inside the backup");
    end = entry.offset + entry.size;
  }
  return result;
}

void CheckAgainstVerify(RunResult extracted, unsigned extractCode, const Files& written, const Scratch& s,
                        std::uint8_t script, const Bytes& backup) {
  BackupListing verified;
  unsigned verifyCode = 0;
  const RunResult result = Inspect(s, script, ScanMode::kVerify, verified, verifyCode);
  Require(result == extracted && verifyCode == extractCode, "verify ends as the extraction did");
  Files expected;
  for (const ListedEntry& entry : verified.entries) expected.emplace(entry.name, PayloadOf(backup, entry));
  Require(written == expected, "the folder holds exactly the files of the entries before the first fault");
}

// The audio details stay inside their payloads, and cat hands out the
// payload extraction would leave under the last listed name.
void CheckDetailsAndCat(const Scratch& s, std::uint8_t script, const Bytes& backup, BackupListing& listing) {
  ReadAudioDetails(NativeFileSystem(), s.backup.string(), listing);
  for (const ListedEntry& entry : listing.entries) {
    Require(!entry.audio || (entry.audio->byteRate != 0 && entry.audio->dataBytes < entry.size),
            "audio details describe data inside the payload");
  }
  if (listing.entries.empty()) return;
  // The first name, which may come again later.
  const ListedEntry* last = &listing.entries.front();
  for (const ListedEntry& entry : listing.entries) {
    if (entry.name == listing.entries.front().name) last = &entry;
  }
  ScriptedUi ui(OverwriteAnswer::kCancel);
  Bytes out;
  const CatResult result =
      CatEntry(NativeFileSystem(), ui, s.backup.string(), last->name, OptionsOf(script), [&out](auto bytes) {
        out.insert(out.end(), bytes.begin(), bytes.end());
        return true;
      });
  Require(result != CatResult::kNoSuchEntry && result != CatResult::kCancelled, "cat finds a listed name");
  Require(result == CatResult::kFailed ? ui.messages.size() == 1 && CodeOf(ui.messages[0]) == 8
                                       : ui.messages.empty() && out == PayloadOf(backup, *last),
          "cat writes the payload or fails its tag test, saying so once");
}

std::int64_t Fixed() { return 0; }

void RunOne(std::uint8_t script, const Bytes& backup) {
  // The core leaves the process in the folder; libFuzzer's paths may be relative.
  struct RestoreCwd {
    fs::path cwd = fs::current_path();
    ~RestoreCwd() { fs::current_path(cwd); }
  } restore;
  const Scratch& s = TheScratch();
  Prepare(s, script, backup);

  ScriptedUi ui(AnswerOf(script));
  GuardedFiles files(NativeFileSystem());
  Extractor extractor(files, ui, &Fixed);
  extractor.set_entry_options(OptionsOf(script));
  const RunResult result = extractor.OnExtract(s.backup.string(), s.folder.string());
  CheckMessages(result, ui.messages, true);
  CheckRoot(s, script, backup);

  BackupListing listing;
  unsigned listCode = 0;
  const RunResult listed = Inspect(s, script, ScanMode::kList, listing, listCode);
  const Files written = CheckFolder(s, script, backup, listing);
  if (listed == RunResult::kCompleted) CheckDetailsAndCat(s, script, backup, listing);

  const ProgressReporter& progress = extractor.run().progress();
  const auto area = static_cast<std::int64_t>(backup.size()) - EntryAreaStart(listing.kind);
  Require(static_cast<std::int64_t>(progress.done_bytes()) <= std::max<std::int64_t>(area, 0),
          "progress never counts more than the entry area");
  if (result == RunResult::kCompleted) {
    Require(static_cast<std::int64_t>(progress.done_bytes()) == area, "a completed run counted every byte");
  }
  // Nothing stood in the way of any file: the extraction is the verified
  // walk written out.
  if (ui.prompts == 0) {
    CheckAgainstVerify(result, result == RunResult::kFailed ? CodeOf(ui.messages[0]) : 0, written, s, script,
                       backup);
  }
}

}  // namespace
}  // namespace larkspool::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  larkspool::fuzz::RunOne(data[0], larkspool::fuzz::Bytes(data + 1, data + size));
  return 0;
}
