#include "archive/salvage_scan.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace larkspool {
namespace {

constexpr auto kTagsSize = static_cast<std::int64_t>(format::kWaveTagsSize);
// Empty records a chain may pass through before the place it lands on counts
// as no record at all: a zeroed block reads as a row of empty records.
constexpr int kMaxEmptyRecords = 8;
// A read that fails is made again over pages, and a page that fails over its
// sectors: the smallest blocks a disk loses.
constexpr std::int64_t kPageSize = 4096;
constexpr std::int64_t kSectorSize = 512;
// How far one probe follows a stretch that cannot be read before the scan
// hears of it (and of Cancel); a longer stretch takes several probes.
constexpr std::int64_t kProbeLimit = std::int64_t{1} << 20;
// The scan reports its progress, and reads Cancel, at least this often.
constexpr std::int64_t kProgressBytes = std::int64_t{1} << 20;
constexpr int kProgressCandidates = 1000;
// Zeros from the end of a message to the end of the file, up to this many,
// are taken for padding after the last entry.
constexpr std::int64_t kMaxPadding = 65536;
// The least a carve must hold to be a message: the tags, then "fmt " and its
// size, then a format chunk of at least 16 bytes.
constexpr std::uint32_t kMinFormatChunk = 16;
constexpr std::int64_t kCarveHeadSize = kTagsSize + 8;
constexpr std::int64_t kMinCarve = kCarveHeadSize + kMinFormatChunk;

std::int64_t NextBoundary(std::int64_t at, std::int64_t block) { return (at / block + 1) * block; }

bool TagsAt(const std::uint8_t* p) {
  return std::memcmp(p, "RIFF", 4) == 0 && std::memcmp(p + 8, "WAVE", 4) == 0;
}

// The byte count a RIFF header at `p` gives for the whole file, or 0 when it
// is less than the tags themselves.
std::uint64_t RiffLength(const std::uint8_t* p) {
  const std::uint64_t length = std::uint64_t{DecodeFixed32(std::span<const std::uint8_t, 4>(p + 4, 4))} + 8;
  return length < format::kWaveTagsSize ? 0 : length;
}

// A name a header of a backup may hold: its NUL inside the field, not empty,
// no control characters. Whether it may be written is decided apart. With
// `cut`, the field may end before its NUL (the file ends inside it).
bool PlausibleName(std::span<const std::uint8_t> field, bool cut = false) {
  if (field.empty()) return cut;
  if (field[0] == 0) return false;
  for (const std::uint8_t c : field) {
    if (c == 0) return true;
    if (c < 0x20 || c == 0x7F) return false;
  }
  return cut;
}

// Bytes of the backup held in memory, addressed by their offset in the file.
class HeldBytes {
 public:
  HeldBytes(std::span<const std::uint8_t> bytes, std::int64_t offset) : bytes_(bytes), offset_(offset) {}

  const std::uint8_t* At(std::int64_t offset) const { return bytes_.data() + (offset - offset_); }

  // The first place in [from, to - 12] with "RIFF" and "WAVE" 8 bytes later,
  // or -1. It goes by the "W" of "WAVE": a run of "RIFF" holds none.
  std::int64_t FindTags(std::int64_t from, std::int64_t to) const {
    for (std::int64_t at = from; at + kTagsSize <= to; ++at) {
      const void* w = std::memchr(At(at + 8), 'W', static_cast<std::size_t>(to - kTagsSize + 1 - at));
      if (w == nullptr) return -1;
      at = offset_ + (static_cast<const std::uint8_t*>(w) - bytes_.data()) - 8;
      if (TagsAt(At(at))) return at;
    }
    return -1;
  }

  // Where the zeros that [from, to) ends with begin: `to` when its last byte
  // is not zero, `from` when all are.
  std::int64_t ZerosFrom(std::int64_t from, std::int64_t to) const {
    while (to > from && *At(to - 1) == 0) --to;
    return to;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::int64_t offset_;
};

// The backup as the scan reads it: a window of up to 1 MiB that only moves
// forward, refilled by one read of the bytes after those it still holds.
// When a read fails, the same bytes are read again a page and then a sector
// at a time, so that every byte before the first unreadable sector is kept,
// and the stretch that cannot be read is followed to its end. Every read
// seeks first, so the handle may be moved in between.
class ForwardWindow {
 public:
  static constexpr std::int64_t kCapacity = std::int64_t{1} << 20;

  ForwardWindow(FileSystem& fs, FileHandle file, std::int64_t fileSize)
      : fs_(fs),
        file_(file),
        fileSize_(fileSize),
        capacity_(std::clamp<std::int64_t>(fileSize, 1, kCapacity)),
        bytes_(std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(capacity_))) {}

  struct View {
    std::span<const std::uint8_t> bytes;  // from the position asked for on
    // When above 0, the bytes right after `bytes`, up to here, cannot be read.
    std::int64_t unreadableEnd = 0;
  };

  // The bytes from `pos` on that the window holds after making sure it holds
  // `want` of them where it can: fewer at the end of the file or before bytes
  // that cannot be read. A `pos` before the window starts it afresh (the
  // scan never asks for one).
  View From(std::int64_t pos, std::int64_t want) {
    want = std::min({want, capacity_, fileSize_ - pos});
    if (pos >= end_ && pos < badEnd_) return {{}, badEnd_};
    if (pos < begin_ || pos > end_) {
      begin_ = end_ = pos;
      badEnd_ = 0;
    }
    if (end_ - pos < want && badEnd_ <= end_) {
      // The bytes still wanted move to the front; the rest is read after them.
      const std::int64_t kept = end_ - pos;
      if (kept > 0 && pos > begin_) {
        std::memmove(bytes_.get(), bytes_.get() + (pos - begin_), static_cast<std::size_t>(kept));
      }
      begin_ = pos;
      Fill();
    }
    return {{bytes_.get() + (pos - begin_), static_cast<std::size_t>(end_ - pos)},
            badEnd_ > end_ ? badEnd_ : 0};
  }

  // Copies [pos, pos + size) into `out`: from the window when it holds them,
  // else by a read of its own that leaves the window as it is. False when the
  // file ends first or the bytes cannot be read.
  bool Peek(std::int64_t pos, std::size_t size, std::uint8_t* out) {
    const std::int64_t end = pos + static_cast<std::int64_t>(size);
    if (pos < 0 || end > fileSize_) return false;
    if (pos >= begin_ && end <= end_) {
      std::memcpy(out, bytes_.get() + (pos - begin_), size);
      return true;
    }
    if (badEnd_ > end_ && pos < badEnd_ && end > end_) return false;
    return ReadPiece(pos, static_cast<std::int64_t>(size), out);
  }

 private:
  bool ReadPiece(std::int64_t at, std::int64_t size, std::uint8_t* out) {
    errno = 0;
    return fs_.Seek(file_, at, SeekFrom::kStart) == at &&
           fs_.Read(file_, out, static_cast<std::size_t>(size)) == size;
  }

  std::uint8_t* Tail() { return bytes_.get() + (end_ - begin_); }

  void Fill() {
    const std::int64_t to = std::min(begin_ + capacity_, fileSize_);
    if (to <= end_) return;
    if (ReadPiece(end_, to - end_, Tail())) {
      end_ = to;
      return;
    }
    // The read failed somewhere: the same bytes a page at a time, and a page
    // that fails a sector at a time, up to the first sector that fails.
    while (end_ < to) {
      const std::int64_t page = std::min(NextBoundary(end_, kPageSize), to) - end_;
      if (ReadPiece(end_, page, Tail())) {
        end_ += page;
        continue;
      }
      for (const std::int64_t pageEnd = end_ + page; end_ < pageEnd;) {
        const std::int64_t sector = std::min(NextBoundary(end_, kSectorSize), pageEnd) - end_;
        if (!ReadPiece(end_, sector, Tail())) {
          badEnd_ = UnreadableEnd(end_);
          return;
        }
        end_ += sector;
      }
    }
  }

  // Where the stretch that cannot be read, which begins with the sector at
  // `from`, ends: at the first page or sector after it that reads, at the end
  // of the file, or kProbeLimit on (the next probe takes it up from there).
  std::int64_t UnreadableEnd(std::int64_t from) {
    std::array<std::uint8_t, kPageSize> scratch{};
    std::int64_t at = std::min(NextBoundary(from, kSectorSize), fileSize_);
    while (at < fileSize_ && at - from < kProbeLimit) {
      if (at % kPageSize == 0 && fileSize_ - at >= kPageSize) {
        if (ReadPiece(at, kPageSize, scratch.data())) return at;
        for (std::int64_t sector = at; sector < at + kPageSize; sector += kSectorSize) {
          if (ReadPiece(sector, kSectorSize, scratch.data())) return sector;
        }
        at += kPageSize;
        continue;
      }
      const std::int64_t sector = std::min(NextBoundary(at, kSectorSize), fileSize_) - at;
      if (ReadPiece(at, sector, scratch.data())) return at;
      at += sector;
    }
    return at;
  }

  FileSystem& fs_;
  FileHandle file_;
  std::int64_t fileSize_;
  std::int64_t capacity_;  // no more than the file needs
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::int64_t begin_ = 0;  // the window holds [begin_, end_)
  std::int64_t end_ = 0;
  std::int64_t badEnd_ = 0;  // above end_: [end_, badEnd_) cannot be read
};

// One file a header or record names, where its payload would lie.
struct Claim {
  StoredName name;
  std::int64_t offset = 0;  // from the stored sizes until the file before it is taken
  std::uint32_t size = 0;   // stored
  bool named = false;       // a plausible name
  bool last = true;         // the last file of its entry: a header follows it
  bool failed = false;      // its payload was looked for where it should begin, in vain
  bool accounted = false;   // saved, or reported lost
};

// A header or record as it stands at one place.
struct Header {
  enum class Read { kWhole, kCut, kUnreadable } read = Read::kWhole;
  std::array<Claim, 2> claims;
  std::size_t count = 0;
  bool named = false;        // every file it selects has a plausible name
  bool typeDamaged = false;  // a record's type byte is none of 0 to 3: read as type 1
  bool prefixFits = false;   // kCut: the bytes there could begin a header
};

// How the evidence stands that a payload ends at a place.
enum class Evidence {
  kNone,
  kWeak,    // a header stands there, named, or what can be read of one fits
  kStrong,  // the end of the file, a header whose payload is tagged, or a
            // payload where a header there would put it
};

// How one file's payload ends, as its sizes and what follows decide.
struct Ending {
  enum class Kind {
    kFault,       // it cannot be taken: `fault` says why
    kConfirmed,   // the layout holds where it ends
    kUnverified,  // its sizes agree, but what follows is no header
    kCut,         // the end of the file cuts it
  } kind = Kind::kFault;
  std::uint32_t length = 0;  // the bytes from its offset that belong to it
  std::string note;
  std::string_view fault;
};

// A header or record judged where it stands: the files it names that can be
// taken, in order, and where and why the layout stops holding after them.
struct Judged {
  Header header;
  std::array<Ending, 2> endings;
  std::size_t taken = 0;
  bool passOver = false;     // a record that selects no file, and the layout holds after it
  std::string_view fault;    // why claims[taken] (or the header) cannot be taken; empty: none
  std::int64_t faultAt = 0;  // where that damage begins
  std::int64_t end = 0;      // after the last file taken
};

// What a read through a payload met before it stopped.
struct Passage {
  enum class Stop { kLimit, kUnreadable, kAnchor } stop = Stop::kLimit;
  std::int64_t at = 0;         // where it stopped
  std::int64_t badEnd = 0;     // kUnreadable: the end of the stretch that cannot be read
  std::int64_t zerosFrom = 0;  // kLimit: where the zeros the bytes end with begin (`at` when none)
};

std::string Range(std::int64_t begin, std::int64_t end) {
  return std::to_string(begin) + "-" + std::to_string(end - 1);
}

std::string Joined(std::string_view first, const std::string& second) {
  return second.empty() ? std::string(first) : std::string(first) + "; " + second;
}

// One resynchronising reader over the backup: at each place it judges the
// header that should stand there; when the layout does not hold, it searches
// forward for the first place where it does again, and tells the visitor of
// the bytes it passed over and why.
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
  // The evidence, one check for every use.
  Header ReadHeader(std::int64_t at);
  bool QuickNamed(const std::uint8_t* header) const;
  Evidence LayoutAt(std::int64_t at);
  Evidence NextFileAt(std::int64_t at);
  bool TaggedAt(std::int64_t at);
  bool ZerosAcross(std::int64_t at, bool last);
  bool ZerosToEnd(std::int64_t at);
  Ending DecideEnding(const Claim& claim);
  Judged Judge(std::int64_t at);
  std::uint32_t CarveLength(std::int64_t at);

  // The walk.
  Outcome Walk(std::int64_t from);
  Outcome Resync(std::int64_t faultAt, std::string_view reason, std::int64_t& next);
  Outcome ReadThrough(std::int64_t from, std::int64_t limit, std::int64_t held, bool anchors,
                      Passage& passage);
  Outcome PassOver(std::int64_t from, std::int64_t limit, const std::string& reason);
  Outcome TakeFile(Claim& claim, const Ending& ending, std::int64_t& next);
  Outcome Carve(std::int64_t at, const Claim* follows, std::int64_t& next);
  Outcome Cut(SalvagedMessage& message, const Passage& passage, std::int64_t limit, bool last,
              std::int64_t& next);
  Claim* Awaited(std::int64_t at);
  Outcome ReportLost(std::int64_t before);
  Outcome Emit(SalvagedMessage message);
  void Damage(std::int64_t begin, std::int64_t end, std::string_view reason, bool unreadable = false);
  void FlushDamage();
  Outcome Progress(std::int64_t position);

  bool paired_;
  std::int64_t headerSize_;
  std::int64_t fileSize_;
  ForwardWindow window_;
  SalvageVisitor* visitor_;
  std::int64_t reported_ = 0;    // the furthest position given to OnProgress
  std::vector<Claim> expected_;  // the files the last faulty header named (two at most)
  DamagedRange damage_;          // told at the next message, or when the next range does not join it
  bool damaged_ = false;         // damage_ holds a range not told yet
};

// ---------------------------------------------------------------------------
// The evidence

Header Scanner::ReadHeader(std::int64_t at) {
  Header header;
  std::array<std::uint8_t, format::kPairRecordSize> bytes{};
  const std::int64_t available = std::min(headerSize_, fileSize_ - at);
  if (!window_.Peek(at, static_cast<std::size_t>(available), bytes.data())) {
    header.read = Header::Read::kUnreadable;
    return header;
  }
  const auto field = [&](std::size_t offset) {
    const auto from = static_cast<std::int64_t>(offset);
    const std::int64_t size =
        std::clamp<std::int64_t>(available - from, 0, static_cast<std::int64_t>(format::kNameFieldSize));
    return std::span<const std::uint8_t>(bytes.data() + offset, static_cast<std::size_t>(size));
  };
  if (available < headerSize_) {
    // The file ends inside it: do the bytes there fit the start of one?
    header.read = Header::Read::kCut;
    if (!paired_) {
      header.prefixFits = available <= static_cast<std::int64_t>(format::kEntryNameOffset) ||
                          PlausibleName(field(format::kEntryNameOffset), true);
    } else {
      const auto typeAt = static_cast<std::int64_t>(format::kRecordTypeOffset);
      const std::size_t nameAt = format::kSlotAOffset + format::kSlotNameOffset;
      header.prefixFits =
          available <= typeAt ||
          (bytes[format::kRecordTypeOffset] <= 3 &&
           (available <= static_cast<std::int64_t>(nameAt) || PlausibleName(field(nameAt), true)));
    }
    return header;
  }
  const std::int64_t payloads = at + headerSize_;
  if (!paired_) {
    const std::span<const std::uint8_t, format::kEntryHeaderSize> entry(bytes.data(),
                                                                        format::kEntryHeaderSize);
    const SelectedFile file = DecodeEntryHeader(entry);
    header.claims[0] = Claim{file.name, payloads, file.size, PlausibleName(field(format::kEntryNameOffset))};
    header.count = 1;
    header.named = header.claims[0].named;
    return header;
  }
  // A record whose type byte is damaged is read for the files type 1 would
  // select: the rest of it may still chain.
  if (bytes[format::kRecordTypeOffset] > 3) {
    header.typeDamaged = true;
    bytes[format::kRecordTypeOffset] = 1;
  }
  const RecordSelection selection = DecodePairRecord(bytes);
  const std::array<std::pair<const SelectedFile*, std::size_t>, 2> slots{
      {{&selection.a, format::kSlotAOffset}, {&selection.b, format::kSlotBOffset}}};
  std::int64_t offset = payloads;
  header.named = true;
  for (const auto& [file, slot] : slots) {
    if (file->size == 0) continue;
    Claim& claim = header.claims[header.count++];
    claim = Claim{file->name, offset, file->size, PlausibleName(field(slot + format::kSlotNameOffset))};
    header.named = header.named && claim.named;
    offset += file->size;
  }
  if (header.count == 2) header.claims[0].last = false;
  return header;
}

// The first test of a header found through its payload's tags, on the bytes
// in place: the name of its first file is plausible.
bool Scanner::QuickNamed(const std::uint8_t* header) const {
  const std::size_t nameAt =
      paired_ ? format::kSlotAOffset + format::kSlotNameOffset : format::kEntryNameOffset;
  return PlausibleName(std::span<const std::uint8_t>(header + nameAt, format::kNameFieldSize));
}

bool Scanner::TaggedAt(std::int64_t at) {
  std::array<std::uint8_t, format::kWaveTagsSize> tags{};
  return window_.Peek(at, tags.size(), tags.data()) && TagsAt(tags.data());
}

// Whether the layout holds at `at`, where an entry or record would begin.
// This is the one test of trust: a chain, a found header, a carve's end and
// the choice between two sizes all go by it.
Evidence Scanner::LayoutAt(std::int64_t at) {
  for (int empties = 0; empties <= kMaxEmptyRecords; ++empties, at += headerSize_) {
    if (at == fileSize_) return Evidence::kStrong;
    if (at > fileSize_) return Evidence::kNone;
    // The next payload where a header here would put it: the header is
    // damaged, but it stands here.
    if (TaggedAt(at + headerSize_)) return Evidence::kStrong;
    const Header header = ReadHeader(at);
    switch (header.read) {
      case Header::Read::kUnreadable:
        // The damage begins here, not before.
        return Evidence::kWeak;
      case Header::Read::kCut:
        return header.prefixFits || ZerosToEnd(at) ? Evidence::kWeak : Evidence::kNone;
      case Header::Read::kWhole:
        break;
    }
    if (header.count == 0 && paired_ && !header.typeDamaged) continue;  // an empty record
    if (header.count > 0 && header.named) {
      return !header.typeDamaged && TaggedAt(header.claims[0].offset) ? Evidence::kStrong : Evidence::kWeak;
    }
    return ZerosToEnd(at) ? Evidence::kWeak : Evidence::kNone;
  }
  return Evidence::kNone;
}

// Whether the second file of a record begins at `at`: its tags there; without
// them the record's word that it follows.
Evidence Scanner::NextFileAt(std::int64_t at) {
  if (at == fileSize_ || TaggedAt(at)) return Evidence::kStrong;
  return Evidence::kWeak;
}

// Whether zeros from `at` on run into the first field a header there cannot
// have zero (its name; for a second file its tags), or to the end of the file.
bool Scanner::ZerosAcross(std::int64_t at, bool last) {
  const std::int64_t reach =
      last ? static_cast<std::int64_t>(paired_ ? format::kSlotAOffset + format::kSlotNameOffset + 1
                                               : format::kEntryNameOffset + 1)
           : kTagsSize;
  const std::int64_t size = std::min(reach, fileSize_ - at);
  std::array<std::uint8_t, format::kPairRecordSize> bytes{};
  if (size <= 0 || !window_.Peek(at, static_cast<std::size_t>(size), bytes.data())) return false;
  return std::all_of(bytes.begin(), bytes.begin() + size, [](std::uint8_t b) { return b == 0; });
}

bool Scanner::ZerosToEnd(std::int64_t at) {
  if (fileSize_ - at > kMaxPadding) return false;
  std::array<std::uint8_t, kPageSize> bytes{};
  for (std::int64_t from = at; from < fileSize_; from += kPageSize) {
    const std::int64_t size = std::min(kPageSize, fileSize_ - from);
    if (!window_.Peek(from, static_cast<std::size_t>(size), bytes.data())) return false;
    if (!std::all_of(bytes.begin(), bytes.begin() + size, [](std::uint8_t b) { return b == 0; }))
      return false;
  }
  return true;
}

// Where a named file's payload ends. Complete only where the layout confirms
// the end; where the stored size and the RIFF size disagree, the one the
// layout confirms wins, and the note says so.
Ending Scanner::DecideEnding(const Claim& claim) {
  const std::int64_t at = claim.offset;
  if (at + kTagsSize > fileSize_) return {Ending::Kind::kFault, 0, {}, "the backup ends inside this payload"};
  std::array<std::uint8_t, format::kWaveTagsSize> tags{};
  if (!window_.Peek(at, tags.size(), tags.data())) return {Ending::Kind::kFault, 0, {}, kUnreadableReason};
  if (!TagsAt(tags.data())) return {Ending::Kind::kFault, 0, {}, "the payload has no RIFF/WAVE tags"};
  const std::uint64_t riff = RiffLength(tags.data());
  const std::uint32_t stored = claim.size;
  if (riff == 0 && stored < format::kWaveTagsSize) {
    return {Ending::Kind::kFault, 0, {}, "the stored size is too small for a WAV file"};
  }
  struct Try {
    Evidence evidence = Evidence::kNone;
    bool pastEnd = false;
  };
  const auto attempt = [&](std::uint64_t length) {
    Try t;
    if (length < format::kWaveTagsSize || length > UINT32_MAX) return t;
    const std::int64_t end = at + static_cast<std::int64_t>(length);
    t.pastEnd = end > fileSize_;
    if (!t.pastEnd) t.evidence = claim.last ? LayoutAt(end) : NextFileAt(end);
    return t;
  };
  const Try byStored = attempt(stored);
  if (riff == stored) {
    if (byStored.pastEnd) return {Ending::Kind::kCut, stored, "the backup ends inside it", {}};
    if (byStored.evidence != Evidence::kNone) return {Ending::Kind::kConfirmed, stored, {}, {}};
    return {Ending::Kind::kUnverified, stored, "end unverified: no entry header follows it", {}};
  }
  const Try byRiff = attempt(riff);
  const std::string sizes =
      "its stored size is " + std::to_string(stored) + " bytes, its RIFF size " + std::to_string(riff) + "; ";
  if (byStored.evidence == Evidence::kStrong) {
    return {Ending::Kind::kConfirmed,
            stored,
            sizes + "the stored size was taken, after which the layout holds",
            {}};
  }
  if (byRiff.evidence == Evidence::kStrong) {
    return {Ending::Kind::kConfirmed,
            static_cast<std::uint32_t>(riff),
            sizes + "the RIFF size was taken, after which the layout holds",
            {}};
  }
  if (byStored.pastEnd && (byRiff.pastEnd || riff == 0)) {
    return {Ending::Kind::kCut, stored, sizes + "the backup ends inside it", {}};
  }
  return {Ending::Kind::kFault,
          0,
          {},
          "its stored size and its RIFF size disagree, and neither leads to the next entry"};
}

Judged Scanner::Judge(std::int64_t at) {
  Judged judged;
  judged.faultAt = at;
  judged.header = ReadHeader(at);
  Header& header = judged.header;
  switch (header.read) {
    case Header::Read::kCut:
      judged.fault = "the backup ends inside an entry header";
      return judged;
    case Header::Read::kUnreadable:
      judged.fault = "the entry header cannot be read";
      return judged;
    case Header::Read::kWhole:
      break;
  }
  if (header.count == 0) {
    if (!header.typeDamaged && LayoutAt(at + headerSize_) == Evidence::kStrong) {
      judged.passOver = true;
      judged.end = at + headerSize_;
    } else {
      judged.fault = "the record selects no file";
    }
    return judged;
  }
  std::int64_t offset = at + headerSize_;
  for (std::size_t i = 0; i < header.count; ++i) {
    Claim& claim = header.claims[i];
    claim.offset = offset;
    judged.faultAt = i == 0 ? at : offset;
    if (!claim.named) {
      judged.fault = "the name is damaged";
      break;
    }
    Ending ending = DecideEnding(claim);
    if (ending.kind == Ending::Kind::kFault) {
      judged.fault = ending.fault;
      break;
    }
    if (header.typeDamaged) ending.note = Joined("the record's type byte is damaged", ending.note);
    offset += ending.length;
    judged.endings[judged.taken++] = std::move(ending);
    if (judged.endings[i].kind != Ending::Kind::kConfirmed) break;
  }
  // The files not taken are looked for from where they should begin.
  for (std::size_t i = judged.taken; i < header.count; ++i) {
    if (i > judged.taken) offset += header.claims[i - 1].size;
    header.claims[i].offset = offset;
  }
  judged.end = judged.taken > 0
                   ? header.claims[judged.taken - 1].offset + judged.endings[judged.taken - 1].length
                   : at;
  return judged;
}

// The length of a carve at `at`, whose tags are in place: its RIFF size when
// a format chunk follows the tags and fits in it, else 0 (not a message).
std::uint32_t Scanner::CarveLength(std::int64_t at) {
  std::array<std::uint8_t, kCarveHeadSize> head{};
  if (!window_.Peek(at, head.size(), head.data()) || std::memcmp(head.data() + kTagsSize, "fmt ", 4) != 0)
    return 0;
  const std::uint64_t riff = RiffLength(head.data());
  const std::uint32_t chunk = DecodeFixed32(std::span<const std::uint8_t, 4>(head.data() + kTagsSize + 4, 4));
  if (chunk < kMinFormatChunk || riff > UINT32_MAX ||
      riff < static_cast<std::uint64_t>(kCarveHeadSize) + chunk) {
    return 0;
  }
  return static_cast<std::uint32_t>(riff);
}

// ---------------------------------------------------------------------------
// The walk

Outcome Scanner::Progress(std::int64_t position) {
  reported_ = std::max(reported_, std::min(position, fileSize_));
  visitor_->OnProgress(reported_);
  return visitor_->CancelRequested() ? Outcome::Cancelled() : Outcome::Ok();
}

void Scanner::FlushDamage() {
  if (damaged_) visitor_->OnDamage(damage_);
  damaged_ = false;
}

void Scanner::Damage(std::int64_t begin, std::int64_t end, std::string_view reason, bool unreadable) {
  if (begin >= end) return;
  if (damaged_ && damage_.end == begin && damage_.unreadable == unreadable) {
    damage_.end = end;
    return;
  }
  FlushDamage();
  damage_ = DamagedRange{begin, end, std::string(unreadable ? kUnreadableReason : reason), unreadable};
  damaged_ = true;
}

// The stored name is read and checked by the run, as an extraction reads and
// checks it (a byte of a double-byte character may look like a separator).
Outcome Scanner::Emit(SalvagedMessage message) {
  FlushDamage();
  return visitor_->OnMessage(message);
}

Claim* Scanner::Awaited(std::int64_t at) {
  const auto found = std::find_if(expected_.begin(), expected_.end(), [at](const Claim& claim) {
    return claim.offset == at && claim.named && !claim.accounted;
  });
  return found == expected_.end() ? nullptr : &*found;
}

// The files a faulty header named whose payloads would begin before `before`
// and were not saved are lost.
Outcome Scanner::ReportLost(std::int64_t before) {
  for (Claim& claim : expected_) {
    if (claim.accounted || !claim.named || claim.offset >= before) continue;
    claim.accounted = true;
    const std::string_view why =
        claim.offset >= fileSize_ ? "the backup ends before it" : "its payload is damaged";
    SalvagedMessage lost{SalvageState::kLost, std::string(claim.name.view()), {}, claim.offset, 0, claim.size,
                         std::string(why)};
    if (Outcome emitted = Emit(std::move(lost)); !emitted.ok()) return emitted;
  }
  return Outcome::Ok();
}

// Reads [from, limit) through the window, as far as it can be read. With
// `anchors`, a header the layout holds at (a header beginning after the
// tags at `from`) stops it there. Reports progress at `held` (the message
// being read is not told yet), so Cancel is heard inside a large payload.
Outcome Scanner::ReadThrough(std::int64_t from, std::int64_t limit, std::int64_t held, bool anchors,
                             Passage& passage) {
  std::int64_t at = from;
  std::int64_t zerosFrom = from;
  std::int64_t lastReport = from;
  while (at < limit) {
    // A search for headers looks a header's length back from its tags.
    const std::int64_t lookFrom = anchors ? std::max(from + kTagsSize, at - headerSize_) : at;
    const ForwardWindow::View view = window_.From(std::min(lookFrom, at), limit - std::min(lookFrom, at));
    const std::int64_t base = std::min(lookFrom, at);
    const auto viewEnd = std::min(limit, base + static_cast<std::int64_t>(view.bytes.size()));
    if (viewEnd <= at) {
      passage = {Passage::Stop::kUnreadable, at, std::max(view.unreadableEnd, at + 1), at};
      return Outcome::Ok();
    }
    const HeldBytes bytes(view.bytes, base);
    for (std::int64_t t = std::max(at, from + 1); anchors; ++t) {
      t = bytes.FindTags(t, viewEnd);
      if (t < 0) break;
      const std::int64_t header = t - headerSize_;
      if (header >= from + kTagsSize && QuickNamed(bytes.At(header)) && Judge(header).taken > 0) {
        passage = {Passage::Stop::kAnchor, header, 0, header};
        return Outcome::Ok();
      }
    }
    const std::int64_t zeros = bytes.ZerosFrom(at, viewEnd);
    if (zeros > at) zerosFrom = zeros;
    at = viewEnd;
    if (at - lastReport >= kProgressBytes && at < limit) {
      lastReport = at;
      if (Outcome going = Progress(held); !going.ok()) return going;
    }
  }
  passage = {Passage::Stop::kLimit, limit, 0, zerosFrom};
  return Outcome::Ok();
}

// The bytes [from, limit), which no message holds, told as damage: those
// that cannot be read as such, the rest for `reason`.
Outcome Scanner::PassOver(std::int64_t from, std::int64_t limit, const std::string& reason) {
  std::int64_t at = from;
  while (at < limit) {
    Passage passage;
    if (Outcome read = ReadThrough(at, limit, at, false, passage); !read.ok()) return read;
    Damage(at, passage.at, reason);
    if (passage.stop != Passage::Stop::kUnreadable) break;
    const std::int64_t badEnd = std::min(passage.badEnd, limit);
    Damage(passage.at, badEnd, kUnreadableReason, true);
    at = badEnd;
    if (Outcome going = Progress(at); !going.ok()) return going;
  }
  return Outcome::Ok();
}

// Ends a message found at `message.offset` whose bytes run to `limit` where
// the read through it stopped: at bytes that cannot be read, at a trusted
// header, or at zeros that run on into the next header (damage that began
// before that header). Tells the message, and the damage inside its extent;
// `next` is where the walk goes on.
Outcome Scanner::Cut(SalvagedMessage& message, const Passage& passage, std::int64_t limit, bool last,
                     std::int64_t& next) {
  const std::int64_t at = message.offset;
  const bool named = !message.storedName.empty() && message.state != SalvageState::kUnnamed;
  const auto partial = [&](std::int64_t end, std::string note) {
    message.saved = static_cast<std::uint64_t>(end - at);
    if (named) {
      message.state = SalvageState::kPartial;
      message.outputName = PartialName(message.storedName);
    }
    message.note = std::move(note);
  };
  const std::string label = named ? message.storedName : message.outputName;
  std::string rest;  // the reason for the bytes of the extent not saved
  next = limit;
  switch (passage.stop) {
    case Passage::Stop::kUnreadable:
      partial(passage.at, "bytes " + Range(passage.at, passage.badEnd) + " cannot be read");
      rest = "the rest of " + label + ", after bytes that cannot be read";
      break;
    case Passage::Stop::kAnchor:
      partial(passage.at, "a trusted entry begins inside it");
      next = passage.at;
      break;
    case Passage::Stop::kLimit:
      if (passage.zerosFrom < limit && limit < fileSize_ && ZerosAcross(limit, last)) {
        partial(passage.zerosFrom, "bytes " + Range(passage.zerosFrom, limit) +
                                       " are zeros that run on into the next entry header");
        rest = "zeros that run on into the next entry header";
      }
      break;
  }
  const std::int64_t savedEnd = at + static_cast<std::int64_t>(message.saved);
  if (named || savedEnd - at >= kMinCarve) {
    if (Outcome emitted = Emit(message); !emitted.ok()) return emitted;
  } else {
    // Too little is left of the carve to be a message.
    Damage(at, savedEnd, "a RIFF/WAVE header too short for a message");
  }
  if (savedEnd >= next) return Outcome::Ok();
  if (!named && passage.stop == Passage::Stop::kUnreadable) {
    // A carve's extent is only what its RIFF size says: the search goes on
    // after the bytes that cannot be read.
    Damage(passage.at, passage.badEnd, kUnreadableReason, true);
    next = passage.badEnd;
    return Outcome::Ok();
  }
  return PassOver(savedEnd, next, rest);
}

// Takes a named file whose ending is decided: reads its payload through and
// tells it; `next` is where the walk goes on.
Outcome Scanner::TakeFile(Claim& claim, const Ending& ending, std::int64_t& next) {
  claim.accounted = true;
  const std::int64_t at = claim.offset;
  const std::int64_t end = at + ending.length;
  const std::int64_t limit = std::min(end, fileSize_);
  const std::string name(claim.name.view());
  SalvagedMessage message{
      SalvageState::kComplete, name,       name, at, static_cast<std::uint64_t>(limit - at),
      ending.length,           ending.note};
  if (ending.kind != Ending::Kind::kConfirmed) {
    message.state = SalvageState::kPartial;
    message.outputName = PartialName(name);
  }
  Passage passage;
  if (Outcome read = ReadThrough(at, limit, at, false, passage); !read.ok()) return read;
  if (Outcome cut = Cut(message, passage, limit, claim.last, next); !cut.ok()) return cut;
  if (end > fileSize_) Damage(fileSize_, end, "missing: the backup ends inside " + name);
  // The next file of the same record begins where this one ends.
  for (std::size_t i = 0; i + 1 < expected_.size(); ++i) {
    if (&expected_[i] == &claim) expected_[i + 1].offset = end;
  }
  return Outcome::Ok();
}

// Saves the tagged payload at `at`, as long as its RIFF size says, unless a
// trusted header or the end of the file comes first. `follows` is a file a
// faulty header named at `at` whose length does not check out.
Outcome Scanner::Carve(std::int64_t at, const Claim* follows, std::int64_t& next) {
  const std::uint32_t length = CarveLength(at);
  const std::int64_t riffEnd = at + length;
  const std::int64_t limit = std::min(riffEnd, fileSize_);
  SalvagedMessage message{
      SalvageState::kUnnamed, {}, RecoveredName(at), at, static_cast<std::uint64_t>(limit - at), length, {}};
  if (follows != nullptr) {
    message.note =
        "follows the entry " + std::string(follows->name.view()) + ", whose length does not check out";
  } else if (riffEnd > fileSize_) {
    message.note = "the backup ends inside it";
  } else if (LayoutAt(riffEnd) == Evidence::kNone && !TaggedAt(riffEnd)) {
    message.note = "end unverified: no entry header follows it";
  }
  Passage passage;
  if (Outcome read = ReadThrough(at, limit, at, true, passage); !read.ok()) return read;
  return Cut(message, passage, limit, true, next);
}

// Searches forward from `faultAt`, where the layout does not hold for
// `reason`, for the first place where it holds again: a header that Judge
// takes, the payload of a file a faulty header named, or tags that begin a
// carve. The bytes before it are damage; `next` is where the walk goes on.
Outcome Scanner::Resync(std::int64_t faultAt, std::string_view reason, std::int64_t& next) {
  const std::string why(reason);
  std::int64_t damageFrom = faultAt;
  std::int64_t cursor = faultAt;  // where tags may begin
  std::int64_t lastReport = faultAt;
  int candidates = 0;
  for (;;) {
    // Headers are looked for a header's length before their payload's tags.
    const std::int64_t lookFrom = std::max(damageFrom, cursor - headerSize_);
    const ForwardWindow::View view = window_.From(lookFrom, ForwardWindow::kCapacity);
    const std::int64_t viewEnd = lookFrom + static_cast<std::int64_t>(view.bytes.size());
    const HeldBytes bytes(view.bytes, lookFrom);
    for (std::int64_t t = bytes.FindTags(cursor, viewEnd); t >= 0; t = bytes.FindTags(cursor, viewEnd)) {
      cursor = t + 1;
      const std::int64_t header = t - headerSize_;
      if (header > faultAt && header >= damageFrom && QuickNamed(bytes.At(header)) &&
          Judge(header).taken > 0) {
        if (Outcome lost = ReportLost(header); !lost.ok()) return lost;
        Damage(damageFrom, header, why);
        next = header;
        return Outcome::Ok();
      }
      Claim* awaited = Awaited(t);
      if (awaited != nullptr && !awaited->failed) {
        awaited->failed = true;
        const Ending ending = DecideEnding(*awaited);
        if (ending.kind != Ending::Kind::kFault) {
          if (Outcome lost = ReportLost(t); !lost.ok()) return lost;
          Damage(damageFrom, t, why);
          return TakeFile(*awaited, ending, next);
        }
      }
      // A carve needs its format chunk: looked for in place first.
      const bool format =
          t + kCarveHeadSize > viewEnd || std::memcmp(bytes.At(t + kTagsSize), "fmt ", 4) == 0;
      if (format && CarveLength(t) > 0) {
        if (awaited != nullptr) awaited->accounted = true;
        if (Outcome lost = ReportLost(t); !lost.ok()) return lost;
        Damage(damageFrom, t, why);
        return Carve(t, awaited, next);
      }
      if (++candidates % kProgressCandidates == 0) {
        if (Outcome going = Progress(t); !going.ok()) return going;
      }
    }
    if (view.unreadableEnd > 0) {
      // The search goes on after bytes that cannot be read.
      Damage(damageFrom, viewEnd, why);
      Damage(viewEnd, view.unreadableEnd, kUnreadableReason, true);
      damageFrom = cursor = view.unreadableEnd;
    } else if (viewEnd >= fileSize_) {
      if (Outcome lost = ReportLost(fileSize_); !lost.ok()) return lost;
      Damage(damageFrom, fileSize_, why);
      next = fileSize_;
      return Outcome::Ok();
    } else {
      cursor = std::max(cursor, viewEnd - kTagsSize + 1);
    }
    if (cursor - lastReport >= kProgressBytes) {
      lastReport = cursor;
      if (Outcome going = Progress(cursor - headerSize_); !going.ok()) return going;
    }
  }
}

Outcome Scanner::Run(std::int64_t from) {
  Outcome outcome = Walk(from);
  // A fault or a cancel still tells the damage found before it.
  FlushDamage();
  return outcome;
}

Outcome Scanner::Walk(std::int64_t from) {
  std::int64_t pos = from;
  while (pos < fileSize_) {
    if (Outcome going = Progress(pos); !going.ok()) return going;
    std::string_view fault;
    Claim* awaited = Awaited(pos);
    if (awaited != nullptr) {
      // The next file of a faulty record, where the file before it ended.
      const Ending ending = DecideEnding(*awaited);
      if (ending.kind != Ending::Kind::kFault) {
        if (Outcome taken = TakeFile(*awaited, ending, pos); !taken.ok()) return taken;
        continue;
      }
      awaited->failed = true;
      fault = ending.fault;
    }
    // A header may still stand where a file was expected (the size that put
    // it there was damaged).
    Judged judged = Judge(pos);
    if (judged.passOver) {
      pos = judged.end;
      continue;
    }
    if (judged.taken > 0) {
      // A header holds again: what the last faulty one named and was not
      // found is lost.
      if (Outcome lost = ReportLost(INT64_MAX); !lost.ok()) return lost;
      expected_.clear();
    }
    for (std::size_t i = 0; i < judged.taken; ++i) {
      if (Outcome taken = TakeFile(judged.header.claims[i], judged.endings[i], pos); !taken.ok())
        return taken;
    }
    // What was not taken is looked for where it should begin.
    for (std::size_t i = judged.taken; i < judged.header.count; ++i) {
      if (judged.header.claims[i].named) expected_.push_back(judged.header.claims[i]);
    }
    if (judged.fault.empty()) {
      pos = std::max(pos, judged.end);
      continue;
    }
    if (judged.taken > 0) {
      // Where a record's next file should begin a header may stand (the
      // record's word that another file follows was damaged): it is judged
      // before anything is searched for.
      pos = judged.faultAt;
      continue;
    }
    if (fault.empty()) fault = judged.fault;
    pos = judged.faultAt;
    if (Outcome found = Resync(pos, fault, pos); !found.ok()) return found;
  }
  if (Outcome lost = ReportLost(INT64_MAX); !lost.ok()) return lost;
  FlushDamage();
  return Progress(fileSize_);
}

std::size_t Scanner::CountChained(std::int64_t from) {
  std::size_t count = 0;
  for (std::int64_t pos = from; pos < fileSize_;) {
    const Judged judged = Judge(pos);
    if (judged.passOver) {
      pos = judged.end;
      continue;
    }
    if (judged.taken == 0) break;
    ++count;
    if (!judged.fault.empty() || judged.endings[judged.taken - 1].kind != Ending::Kind::kConfirmed) break;
    pos = judged.end;
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
