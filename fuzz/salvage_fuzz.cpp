// The salvage scan over arbitrary bytes, read from memory, in each layout;
// the input also says which sectors cannot be read (fuzz_input.h). After
// every input it checks what the scan promises: it ends; every message it
// saves lies inside the backup, begins with the RIFF/WAVE tags, comes after
// the one before and holds no byte that cannot be read; a complete message is
// saved whole; every name it writes under is a plain name; the damaged ranges
// come in order, apart from each other and from the bytes saved; the ranges
// said to be unreadable are, and every unreadable sector after the entry area's
// start is in one of them.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/salvage_names.h"
#include "archive/salvage_scan.h"
#include "fuzz/fuzz_input.h"

namespace larkspool::fuzz {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Require(bool holds, const char* promise) {
  if (holds) return;
  std::fprintf(stderr, "broken promise: %s\n", promise);
  std::abort();
}

constexpr FileHandle kBackup = 3;

// Which bytes cannot be read.
struct Unreadable {
  std::vector<bool> sectors;  // by sector number

  bool At(std::size_t offset) const {
    const std::size_t sector = offset / kUnreadableSectorSize;
    return sector < sectors.size() && sectors[sector];
  }
  bool Any(std::size_t begin, std::size_t end) const {
    for (std::size_t at = begin; at < end; at = (at / kUnreadableSectorSize + 1) * kUnreadableSectorSize) {
      if (At(at)) return true;
    }
    return false;
  }
};

// One read-only file held in memory, some of its sectors unreadable;
// nothing else exists.
class MemoryFile final : public FileSystem {
 public:
  MemoryFile(const Bytes& bytes, const Unreadable& unreadable) : bytes_(bytes), unreadable_(unreadable) {}

  FileHandle OpenRead(const char* /*path*/) override { return kBackup; }
  FileHandle CreateExclusive(const char* /*path*/) override { return Refuse(); }
  FileHandle OpenForOverwrite(const char* /*path*/) override { return Refuse(); }
  bool SameFile(const char* /*path*/, FileHandle /*file*/) override { return false; }
  std::int64_t Read(FileHandle file, void* buffer, std::size_t size) override {
    Require(file == kBackup, "only the backup is read");
    const std::size_t count = std::min(size, bytes_.size() - std::min(bytes_.size(), at_));
    if (unreadable_.Any(at_, at_ + count)) {
      errno = EIO;
      return -1;
    }
    if (count > 0) std::memcpy(buffer, bytes_.data() + at_, count);
    at_ += count;
    return static_cast<std::int64_t>(count);
  }
  std::int64_t Write(FileHandle /*file*/, const void* /*buffer*/, std::size_t /*size*/) override {
    Require(false, "the scan writes nothing");
    return -1;
  }
  std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override {
    Require(file == kBackup, "only the backup is read");
    const std::int64_t base = from == SeekFrom::kStart ? 0
                              : from == SeekFrom::kEnd ? static_cast<std::int64_t>(bytes_.size())
                                                       : static_cast<std::int64_t>(at_);
    if (base + offset < 0) {
      errno = EINVAL;
      return -1;
    }
    at_ = static_cast<std::size_t>(base + offset);
    return base + offset;
  }
  void Close(FileHandle /*file*/) override {}
  bool Unlink(const char* /*path*/) override { return false; }
  bool ChangeDirectory(const char* /*path*/) override { return false; }
  std::optional<std::int64_t> LastWriteTime(FileHandle /*file*/) override { return std::nullopt; }

 private:
  static FileHandle Refuse() {
    errno = EACCES;
    return kNoFile;
  }
  const Bytes& bytes_;
  const Unreadable& unreadable_;
  std::size_t at_ = 0;
};

class Checker final : public SalvageVisitor {
 public:
  Checker(const Bytes& bytes, const Unreadable& unreadable)
      : bytes_(bytes), unreadable_(unreadable), told_(bytes.size(), false) {}

  Outcome OnMessage(const SalvagedMessage& m) override {
    if (m.state == SalvageState::kLost) {
      Require(m.outputName.empty() && m.saved == 0, "a lost message is not saved");
      return Outcome::Ok();
    }
    const auto size = static_cast<std::int64_t>(bytes_.size());
    Require(m.offset >= savedEnd_ && m.saved >= 12 && m.offset + static_cast<std::int64_t>(m.saved) <= size,
            "saved messages lie inside the backup, one after the other");
    Require(std::memcmp(bytes_.data() + m.offset, "RIFF", 4) == 0 &&
                std::memcmp(bytes_.data() + m.offset + 8, "WAVE", 4) == 0,
            "a saved message begins with its tags");
    Require(m.state != SalvageState::kComplete || m.saved == m.declared, "a complete message is saved whole");
    Require(m.saved <= m.declared, "a message is saved at most whole");
    Require(
        !unreadable_.Any(static_cast<std::size_t>(m.offset), static_cast<std::size_t>(m.offset) + m.saved),
        "no saved message holds a byte that cannot be read");
    Require(OutputNameRefusal(m.outputName).empty(), "messages are saved under plain names only");
    Require(m.state != SalvageState::kUnnamed || m.outputName == RecoveredName(m.offset),
            "a carved message is named by its offset");
    savedEnd_ = m.offset + static_cast<std::int64_t>(m.saved);
    return Outcome::Ok();
  }
  void OnDamage(const DamagedRange& range) override {
    Require(range.begin < range.end && range.begin >= damageEnd_, "damaged ranges come in order, apart");
    Require(range.begin >= savedEnd_ || range.begin >= static_cast<std::int64_t>(bytes_.size()),
            "no damaged range covers saved bytes");
    damageEnd_ = range.end;
    if (!range.unreadable) return;
    Require(range.reason == kUnreadableReason, "an unreadable range says so");
    for (auto at = static_cast<std::size_t>(range.begin); at < static_cast<std::size_t>(range.end); ++at) {
      Require(at < bytes_.size() && unreadable_.At(at), "a range said to be unreadable is");
      told_[at] = true;
    }
  }
  // Every unreadable byte from `from` on was told.
  void CheckAllTold(std::int64_t from) const {
    for (auto at = static_cast<std::size_t>(from); at < bytes_.size(); ++at) {
      Require(!unreadable_.At(at) || told_[at], "every unreadable sector is told");
    }
  }
  void OnProgress(std::int64_t position) override {
    Require(position >= progress_, "the scan only goes forward");
    progress_ = position;
  }
  bool CancelRequested() override { return false; }

 private:
  const Bytes& bytes_;
  const Unreadable& unreadable_;
  std::vector<bool> told_;  // per byte: in a range told as unreadable
  std::int64_t savedEnd_ = 0;
  std::int64_t damageEnd_ = 0;
  std::int64_t progress_ = 0;
};

}  // namespace
}  // namespace larkspool::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace larkspool;
  using fuzz::kUnreadableMarkSize;
  // The sectors that cannot be read, when the input ends with them.
  fuzz::Unreadable unreadable;
  if (size > kUnreadableMarkSize &&
      std::memcmp(data + size - kUnreadableMarkSize, fuzz::kUnreadableMark, kUnreadableMarkSize) == 0) {
    const std::size_t count =
        std::min<std::size_t>(data[size - kUnreadableMarkSize - 1], fuzz::kMaxUnreadableSectors);
    const std::size_t trailer = kUnreadableMarkSize + 1 + 2 * count;
    if (size >= trailer) {
      size -= trailer;
      for (std::size_t i = 0; i < count; ++i) {
        const std::size_t sector = data[size + 2 * i] | std::size_t{data[size + 2 * i + 1]} << 8;
        if (sector >= unreadable.sectors.size()) unreadable.sectors.resize(sector + 1, false);
        unreadable.sectors[sector] = true;
      }
    }
  }
  const fuzz::Bytes bytes(data, data + size);
  for (const BackupKind kind : {BackupKind::k3, BackupKind::k6, BackupKind::k5}) {
    fuzz::MemoryFile file(bytes, unreadable);
    fuzz::Checker checker(bytes, unreadable);
    // Names are read and refused as the run reads and refuses them.
    const EntryOptions names;
    NamingVisitor named(checker, names);
    const Outcome scanned = SalvageScan(file, fuzz::kBackup, kind, EntryAreaStart(kind), named);
    fuzz::Require(scanned.ok(), "a scan of bytes in memory always ends well");
    checker.CheckAllTold(EntryAreaStart(kind));
    CountChainedEntries(file, fuzz::kBackup, kind);
  }
  return 0;
}
