#include "archive/salvage_scan.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace larkspool {
namespace {

constexpr auto kTagsSize = static_cast<std::int64_t>(format::kWaveTagsSize);
// Empty records a chain may pass through before the place it lands on counts
// as no record at all: a zeroed block reads as a row of empty records.
constexpr int kMaxEmptyRecords = 8;

// A window over the backup for the forward search, refilled by one read;
// every refill seeks first, so the handle may be moved in between.
class ScanWindow {
 public:
  static constexpr std::int64_t kSize = std::int64_t{1} << 20;

  ScanWindow(FileSystem& fs, FileHandle file, std::int64_t fileSize)
      : fs_(fs),
        file_(file),
        fileSize_(fileSize),
        size_(static_cast<std::size_t>(std::clamp<std::int64_t>(fileSize, 1, kSize))),
        bytes_(std::make_unique_for_overwrite<std::uint8_t[]>(size_)) {}

  // The bytes from `pos` on that the window holds after making sure it holds
  // up to `want` of them (fewer at the end of the file). Empty on a read error.
  std::span<const std::uint8_t> From(std::int64_t pos, std::size_t want) {
    const std::int64_t wantEnd = std::min(fileSize_, pos + static_cast<std::int64_t>(want));
    if (pos < begin_ || wantEnd > begin_ + filled_) Refill(pos);
    if (pos < begin_ || pos > begin_ + filled_) return {};
    return {bytes_.get() + (pos - begin_), static_cast<std::size_t>(begin_ + filled_ - pos)};
  }
  bool failed() const { return failed_; }

  // Copies [pos, pos + size) into `out` without moving the window; false
  // when the file ends first or the read fails.
  bool ReadAt(std::int64_t pos, std::size_t size, std::uint8_t* out) {
    const auto end = pos + static_cast<std::int64_t>(size);
    if (pos < 0 || end > fileSize_) return false;
    if (pos >= begin_ && end <= begin_ + filled_) {
      std::memcpy(out, bytes_.get() + (pos - begin_), size);
      return true;
    }
    errno = 0;
    if (fs_.Seek(file_, pos, SeekFrom::kStart) != pos ||
        fs_.Read(file_, out, size) != static_cast<std::int64_t>(size)) {
      failed_ = true;
      return false;
    }
    return true;
  }

 private:
  void Refill(std::int64_t pos) {
    begin_ = pos;
    filled_ = 0;
    const auto wanted =
        static_cast<std::size_t>(std::min<std::int64_t>(fileSize_ - pos, static_cast<std::int64_t>(size_)));
    errno = 0;
    if (pos < 0 || fs_.Seek(file_, pos, SeekFrom::kStart) != pos) {
      failed_ = true;
      return;
    }
    const std::int64_t got = fs_.Read(file_, bytes_.get(), wanted);
    if (got != static_cast<std::int64_t>(wanted)) failed_ = true;
    filled_ = std::max<std::int64_t>(got, 0);
  }

  FileSystem& fs_;
  FileHandle file_;
  std::int64_t fileSize_;
  std::size_t size_;  // no more than the file needs
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::int64_t begin_ = 0;
  std::int64_t filled_ = 0;
  bool failed_ = false;
};

bool TagsAt(const std::uint8_t* p) {
  return std::memcmp(p, "RIFF", 4) == 0 && std::memcmp(p + 8, "WAVE", 4) == 0;
}

// A name a header of a backup may hold: its NUL inside the field, not empty,
// no control characters. Whether it may be written is decided apart.
bool PlausibleName(std::span<const std::uint8_t, format::kNameFieldSize> field) {
  if (field[0] == 0) return false;
  for (const std::uint8_t c : field) {
    if (c == 0) return true;
    if (c < 0x20 || c == 0x7F) return false;
  }
  return false;  // no NUL
}

// One file an entry header or record names, where its payload would lie.
struct FoundFile {
  StoredName name;
  std::int64_t offset = 0;
  std::uint32_t size = 0;
  bool plausibleName = false;
  bool accounted = false;  // saved, or reported lost
};

struct FoundEntry {
  std::int64_t at = 0;
  std::int64_t end = 0;  // where the next entry would begin
  std::vector<FoundFile> files;
};

class Scanner {
 public:
  Scanner(FileSystem& fs, FileHandle backup, BackupKind kind, std::int64_t fileSize, SalvageVisitor* visitor)
      : paired_(UsesPairRecords(kind)),
        headerSize_(static_cast<std::int64_t>(paired_ ? format::kPairRecordSize : format::kEntryHeaderSize)),
        fileSize_(fileSize),
        window_(fs, backup, fileSize),
        visitor_(visitor) {}

  Outcome Run(std::int64_t from);
  std::size_t CountChained(std::int64_t from);

 private:
  bool Decode(std::int64_t at, bool anyType, FoundEntry& entry);
  std::string_view Refusal(const FoundEntry& entry);
  bool ChainHolds(std::int64_t at);
  bool IsAnchor(std::int64_t at);
  std::optional<std::uint32_t> RiffLength(std::int64_t at);
  std::int64_t FindTags(std::int64_t from, std::int64_t limit);
  std::int64_t FindAnchor(std::int64_t tagsFrom, std::int64_t headerFrom, std::int64_t limit, bool carvable,
                          bool& carve);

  Outcome TakeEntry(FoundEntry& entry);
  Outcome Carve(std::int64_t faultAt, std::string_view fault, std::int64_t at, std::int64_t& end);
  Outcome Emit(SalvagedMessage message);
  Outcome ReportLost(std::int64_t before);
  void Damage(std::int64_t begin, std::int64_t end, std::string_view reason);
  void FlushDamage();
  Outcome Progress(std::int64_t position);

  bool paired_;
  std::int64_t headerSize_;
  std::int64_t fileSize_;
  ScanWindow window_;
  SalvageVisitor* visitor_;
  bool cancelled_ = false;
  std::int64_t reported_ = 0;        // the furthest position given to OnProgress
  std::vector<FoundFile> expected_;  // the files the last faulty header named
  std::optional<DamagedRange> damage_;
};

bool Scanner::Decode(std::int64_t at, bool anyType, FoundEntry& entry) {
  std::array<std::uint8_t, format::kPairRecordSize> bytes{};
  if (!window_.ReadAt(at, static_cast<std::size_t>(headerSize_), bytes.data())) return false;
  entry = FoundEntry{at, at + headerSize_, {}};
  if (!paired_) {
    const std::span<const std::uint8_t, format::kEntryHeaderSize> header(bytes.data(),
                                                                         format::kEntryHeaderSize);
    const SelectedFile file = DecodeEntryHeader(header);
    const bool plausible = PlausibleName(header.subspan<format::kEntryNameOffset, format::kNameFieldSize>());
    entry.files.push_back(FoundFile{file.name, entry.end, file.size, plausible});
    entry.end += file.size;
    return true;
  }
  // A record read for its names after a fault is taken as type 1: its type
  // byte may be the damaged one.
  if (anyType) bytes[format::kRecordTypeOffset] = 1;
  const RecordSelection selection = DecodePairRecord(bytes);
  const std::array<std::size_t, 2> nameOffsets{format::kSlotAOffset + format::kSlotNameOffset,
                                               format::kSlotBOffset + format::kSlotNameOffset};
  const std::array<const SelectedFile*, 2> files{&selection.a, &selection.b};
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i]->size == 0) continue;
    const std::span<const std::uint8_t, format::kNameFieldSize> field(bytes.data() + nameOffsets[i],
                                                                      format::kNameFieldSize);
    entry.files.push_back(FoundFile{files[i]->name, entry.end, files[i]->size, PlausibleName(field)});
    entry.end += files[i]->size;
  }
  return true;
}

std::optional<std::uint32_t> Scanner::RiffLength(std::int64_t at) {
  std::array<std::uint8_t, format::kWaveTagsSize> tags{};
  if (!window_.ReadAt(at, tags.size(), tags.data()) || !TagsAt(tags.data())) return std::nullopt;
  const std::uint64_t length = std::uint64_t{DecodeFixed32(std::span(tags).subspan<4, 4>())} + 8;
  if (length < format::kWaveTagsSize || length > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(length);
}

// Why an entry cannot be taken as it stands, or empty when it can: every file
// has a plausible name and tagged payload inside the file, and its end is the
// end of the file, or a place where the layout holds, or each file's stored
// size agrees with its RIFF size.
std::string_view Scanner::Refusal(const FoundEntry& entry) {
  bool sizesAgree = true;
  for (const FoundFile& file : entry.files) {
    if (!file.plausibleName) return "the name is damaged";
    if (file.size < format::kWaveTagsSize) return "the stored size is too small for a WAV file";
    if (file.offset + file.size > fileSize_) return "the backup ends inside this payload";
    const std::optional<std::uint32_t> riff = RiffLength(file.offset);
    if (!riff && window_.failed()) return "read error";
    if (!riff) return "the payload has no RIFF/WAVE tags";
    sizesAgree = sizesAgree && *riff == file.size;
  }
  if (entry.end == fileSize_ || ChainHolds(entry.end)) return {};
  if (sizesAgree && !entry.files.empty()) return {};
  return paired_ ? "the record's selection or sizes cannot be right"
                 : "the stored size does not lead to the next entry";
}

// Whether an entry or record may begin at `at`: its names are plausible and
// its first payload is tagged. Near the end of the file, where too few bytes
// remain to tell, it may. Empty records are passed over, a few at most.
bool Scanner::ChainHolds(std::int64_t at) {
  for (int empties = 0; empties <= kMaxEmptyRecords; ++empties) {
    if (at == fileSize_) return true;
    if (fileSize_ - at < headerSize_ + kTagsSize) return true;
    FoundEntry entry;
    if (!Decode(at, false, entry)) return false;
    if (paired_) {
      std::uint8_t type = 0;
      if (!window_.ReadAt(at + static_cast<std::int64_t>(format::kRecordTypeOffset), 1, &type) || type > 3)
        return false;
    }
    if (entry.files.empty()) {
      at = entry.end;
      continue;
    }
    const bool named = std::all_of(entry.files.begin(), entry.files.end(),
                                   [](const FoundFile& file) { return file.plausibleName; });
    return named && RiffLength(entry.files.front().offset).has_value();
  }
  return false;
}

// A place to pick the walk up again: a header or record with plausible, safe
// names whose payloads are tagged and whose end is the end of the file, lies
// past it (the last entry, cut), or is a place where the layout holds; or
// whose stored sizes agree with the RIFF sizes.
bool Scanner::IsAnchor(std::int64_t at) {
  FoundEntry entry;
  if (at < 0 || !Decode(at, false, entry) || entry.files.empty()) return false;
  bool sizesAgree = true;
  for (const FoundFile& file : entry.files) {
    if (!file.plausibleName || !IsSafeOutputName(file.name.view()) || file.size < format::kWaveTagsSize)
      return false;
    if (file.offset + kTagsSize > fileSize_) continue;
    const std::optional<std::uint32_t> riff = RiffLength(file.offset);
    if (!riff) return false;
    sizesAgree = sizesAgree && *riff == file.size;
  }
  return entry.end >= fileSize_ || sizesAgree || ChainHolds(entry.end);
}

// The first place in [from, limit) with "RIFF" and "WAVE" 8 bytes later, -1
// when there is none, -2 on a read error or a cancel. One pass forward.
std::int64_t Scanner::FindTags(std::int64_t from, std::int64_t limit) {
  std::int64_t at = from;
  while (at < limit && at + kTagsSize <= fileSize_) {
    const std::span<const std::uint8_t> bytes = window_.From(at, static_cast<std::size_t>(ScanWindow::kSize));
    if (bytes.size() < format::kWaveTagsSize) return -2;
    const auto last = static_cast<std::size_t>(std::min<std::int64_t>(
        static_cast<std::int64_t>(bytes.size() - format::kWaveTagsSize + 1), limit - at));
    // The search goes by the "W" of "WAVE": a run of "RIFF" holds none.
    constexpr std::size_t kWaveAt = 8;
    for (std::size_t i = 0; i < last; ++i) {
      const void* w = std::memchr(bytes.data() + i + kWaveAt, 'W', last - i);
      if (w == nullptr) break;
      i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(w) - bytes.data()) - kWaveAt;
      if (TagsAt(bytes.data() + i)) return at + static_cast<std::int64_t>(i);
    }
    at += static_cast<std::int64_t>(last);
    if (!Progress(at).ok()) return -2;
  }
  return window_.failed() ? -2 : -1;
}

// The first anchor before `limit`: a header or record from `headerFrom` on
// whose first payload is tagged (found through its tags), or, when
// `carvable`, tags from `tagsFrom` on that no trusted header names (`carve`
// set). -1 when there is none, -2 on a read error or a cancel.
std::int64_t Scanner::FindAnchor(std::int64_t tagsFrom, std::int64_t headerFrom, std::int64_t limit,
                                 bool carvable, bool& carve) {
  std::int64_t search = std::min(tagsFrom, headerFrom + headerSize_);
  for (;;) {
    const std::int64_t tags = FindTags(search, carvable ? limit : limit + headerSize_);
    if (tags < 0) return tags;
    // The header comes first in the file; it is tried before the tags.
    const std::int64_t header = tags - headerSize_;
    if (header >= headerFrom && header < limit && IsAnchor(header)) {
      carve = false;
      return header;
    }
    if (window_.failed()) return -2;
    if (carvable && tags >= tagsFrom && tags < limit && RiffLength(tags)) {
      carve = true;
      return tags;
    }
    search = tags + 1;
  }
}

Outcome Scanner::Progress(std::int64_t position) {
  // A search for the end of a carve looks a header's length past it.
  reported_ = std::max(reported_, std::min(position, fileSize_));
  visitor_->OnProgress(reported_);
  if (visitor_->CancelRequested()) {
    cancelled_ = true;
    return Outcome::Cancelled();
  }
  return Outcome::Ok();
}

void Scanner::FlushDamage() {
  if (damage_) visitor_->OnDamage(*damage_);
  damage_.reset();
}

void Scanner::Damage(std::int64_t begin, std::int64_t end, std::string_view reason) {
  if (begin >= end) return;
  if (damage_ && damage_->end == begin) {
    damage_->end = end;
    return;
  }
  FlushDamage();
  damage_ = DamagedRange{begin, end, std::string(reason)};
}

// The stored name is read and checked by the run, as an extraction reads and
// checks it (a byte of a double-byte character may look like a separator).
Outcome Scanner::Emit(SalvagedMessage message) {
  FlushDamage();
  return visitor_->OnMessage(message);
}

// The files a faulty header named whose payloads lie before `before` and
// were not saved are lost.
Outcome Scanner::ReportLost(std::int64_t before) {
  for (FoundFile& file : expected_) {
    if (file.accounted || file.offset >= before) continue;
    file.accounted = true;
    SalvagedMessage lost{SalvageState::kLost, std::string(file.name.view()), {}, file.offset, 0,
                         file.size,           "its payload is damaged"};
    if (Outcome emitted = Emit(std::move(lost)); !emitted.ok()) return emitted;
  }
  return Outcome::Ok();
}

Outcome Scanner::TakeEntry(FoundEntry& entry) {
  for (const FoundFile& file : entry.files) {
    SalvagedMessage message{SalvageState::kComplete,
                            std::string(file.name.view()),
                            std::string(file.name.view()),
                            file.offset,
                            file.size,
                            file.size,
                            {}};
    if (Outcome emitted = Emit(std::move(message)); !emitted.ok()) return emitted;
  }
  expected_.clear();
  return Outcome::Ok();
}

// Saves the tagged payload at `at`, `riffLength` bytes long by its RIFF size
// unless a trusted header or the end of the file comes first. A faulty header
// that named a file at `at` gives it its name when the lengths agree: its
// stored size with the RIFF size, or the RIFF size with the next trusted
// header; or, when the end of the file cuts it, the name's ".partial.wav".
// The bytes from the fault at `faultAt` to `at` are damaged, unless they are
// the intact header of a payload the end of the file cuts.
Outcome Scanner::Carve(std::int64_t faultAt, std::string_view fault, std::int64_t at, std::int64_t& end) {
  const std::uint32_t riffLength = RiffLength(at).value_or(0);
  const std::int64_t riffEnd = at + riffLength;
  bool carve = false;
  // A header that begins inside the tags does not cut them off.
  const std::int64_t next = FindAnchor(at + 1, at + kTagsSize, std::min(riffEnd, fileSize_), false, carve);
  if (next == -2) return cancelled_ ? Outcome::Cancelled() : Outcome::FailWithErrno(StatusCode::kReadFailed);
  end = next >= 0 ? next : std::min(riffEnd, fileSize_);

  SalvagedMessage message{SalvageState::kUnnamed,
                          {},
                          RecoveredName(at),
                          at,
                          static_cast<std::uint64_t>(end - at),
                          riffLength,
                          {}};
  const auto named = std::find_if(expected_.begin(), expected_.end(), [&](const FoundFile& file) {
    return file.offset == at && file.plausibleName && !file.accounted;
  });
  std::optional<DamagedRange> missing;
  if (named != expected_.end()) {
    named->accounted = true;
    const std::string name(named->name.view());
    // The next trusted entry, the end of the file or the next payload of
    // the same record begins where the RIFF size ends.
    const bool checked =
        end == riffEnd && (next >= 0 || end == fileSize_ || ChainHolds(end) || RiffLength(end));
    if (end == riffEnd && (named->size == riffLength || checked)) {
      message = {SalvageState::kComplete, name, name, at, riffLength, riffLength, {}};
      // File B of a record follows file A's payload, wherever that ended.
      if (named + 1 != expected_.end()) (named + 1)->offset = end;
      if (named->size != riffLength) {
        message.note = "its stored size is damaged; the RIFF size was taken";
        fault = "the stored size is damaged";
      }
    } else if (named->offset + named->size > fileSize_ && end == fileSize_ && next < 0) {
      message = {SalvageState::kPartial,
                 name,
                 PartialName(name),
                 at,
                 static_cast<std::uint64_t>(end - at),
                 named->size,
                 "the backup ends inside it"};
      missing =
          DamagedRange{fileSize_, named->offset + named->size, "missing: the backup ends inside " + name};
      if (at - faultAt == headerSize_) faultAt = at;  // the header is intact
    } else {
      message.note = "follows the entry " + name + ", whose length does not check out";
    }
  }
  if (message.state == SalvageState::kUnnamed && message.saved < message.declared && message.note.empty())
    message.note = end == fileSize_ ? "the backup ends inside it" : "a trusted entry begins inside it";
  Damage(faultAt, at, fault);
  if (missing) Damage(missing->begin, missing->end, missing->reason);
  return Emit(std::move(message));
}

Outcome Scanner::Run(std::int64_t from) {
  std::int64_t pos = from;
  while (pos < fileSize_) {
    if (Outcome going = Progress(pos); !going.ok()) return going;
    FoundEntry entry;
    const bool decoded = fileSize_ - pos >= headerSize_ && Decode(pos, false, entry);
    std::string_view fault = decoded ? Refusal(entry) : "the backup ends inside an entry header";
    if (window_.failed()) return Outcome::FailWithErrno(StatusCode::kReadFailed, "read error");
    if (decoded && fault.empty()) {
      if (Outcome taken = TakeEntry(entry); !taken.ok()) return taken;
      pos = entry.end;
      continue;
    }
    // The names a faulty header gives, when they look like names, may still
    // be matched to the payloads found after it; a payload a header named
    // is not read as a header.
    FoundEntry named;
    const bool awaited = std::any_of(expected_.begin(), expected_.end(),
                                     [pos](const FoundFile& f) { return f.offset == pos && !f.accounted; });
    if (decoded && !awaited && Decode(pos, true, named) &&
        std::any_of(named.files.begin(), named.files.end(),
                    [](const FoundFile& f) { return f.plausibleName; })) {
      expected_ = named.files;
    }
    bool carve = false;
    const std::int64_t next = FindAnchor(pos, pos + 1, fileSize_, true, carve);
    if (next == -2)
      return cancelled_ ? Outcome::Cancelled() : Outcome::FailWithErrno(StatusCode::kReadFailed);
    const std::int64_t until = next < 0 ? fileSize_ : next;
    if (Outcome lost = ReportLost(until); !lost.ok()) return lost;
    if (!carve) {
      Damage(pos, until, fault);
      pos = until;
      continue;
    }
    std::int64_t end = 0;
    if (Outcome carved = Carve(pos, fault, next, end); !carved.ok()) return carved;
    pos = end;
  }
  if (Outcome lost = ReportLost(fileSize_ + 1); !lost.ok()) return lost;
  FlushDamage();
  return Progress(fileSize_).cancelled() ? Outcome::Cancelled() : Outcome::Ok();
}

std::size_t Scanner::CountChained(std::int64_t from) {
  std::size_t count = 0;
  for (std::int64_t pos = from; pos < fileSize_;) {
    FoundEntry entry;
    if (fileSize_ - pos < headerSize_ || !Decode(pos, false, entry) || !Refusal(entry).empty()) break;
    ++count;
    pos = entry.end;
  }
  return count;
}

std::int64_t FileSizeOf(FileSystem& fs, FileHandle backup) {
  errno = 0;
  return fs.Seek(backup, 0, SeekFrom::kEnd);
}

}  // namespace

std::string_view StateName(SalvageState state) {
  switch (state) {
    case SalvageState::kComplete:
      return "complete";
    case SalvageState::kPartial:
      return "partial";
    case SalvageState::kUnnamed:
      return "unnamed";
    case SalvageState::kLost:
      break;
  }
  return "lost";
}

std::string RecoveredName(std::int64_t offset) { return "recovered-" + std::to_string(offset) + ".wav"; }

std::string PartialName(std::string_view storedName) {
  const std::size_t dot = storedName.rfind('.');
  const std::string_view stem =
      dot == std::string_view::npos || dot == 0 ? storedName : storedName.substr(0, dot);
  return std::string(stem) + ".partial.wav";
}

Outcome SalvageScan(FileSystem& fs, FileHandle backup, BackupKind kind, std::int64_t from,
                    SalvageVisitor& visitor) {
  const std::int64_t fileSize = FileSizeOf(fs, backup);
  if (fileSize < 0) return Outcome::FailWithErrno(StatusCode::kReadFailed);
  Scanner scanner(fs, backup, kind, fileSize, &visitor);
  return scanner.Run(std::min(from, fileSize));
}

std::size_t CountChainedEntries(FileSystem& fs, FileHandle backup, BackupKind kind) {
  const std::int64_t fileSize = FileSizeOf(fs, backup);
  if (fileSize < 0) return 0;
  Scanner scanner(fs, backup, kind, fileSize, nullptr);
  return scanner.CountChained(EntryAreaStart(kind));
}

}  // namespace larkspool
