#include "app/salvage_gate.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <span>

#include "archive/salvage_scan.h"

namespace larkspool {
namespace {

constexpr std::size_t kHeaderBytes = format::kPasswordDigestOffset + format::kPasswordDigestSize;

DigestReading ReadDigest(std::span<const std::uint8_t, kHeaderBytes> header) {
  const auto digest = header.subspan<format::kPasswordDigestOffset, format::kPasswordDigestSize>();
  const auto kindWord = header.subspan<format::kKindOffset, format::kFixed32Size>();
  const std::uint8_t first = digest[0];
  const auto filled = [](auto bytes, std::uint8_t value) {
    return std::all_of(bytes.begin(), bytes.end(), [value](std::uint8_t b) { return b == value; });
  };
  // No digest is one byte sixteen times over; and an erased block that ran
  // over the kind field reads as "no password" without being one.
  if (filled(digest, first) &&
      (first != format::kNoPasswordMarker || filled(kindWord, format::kNoPasswordMarker))) {
    return DigestReading::kDamaged;
  }
  return first == format::kNoPasswordMarker ? DigestReading::kNoPassword : DigestReading::kPassword;
}

}  // namespace

Outcome ReadLayoutEvidence(FileSystem& fs, const std::string& backupFile, LayoutEvidence& evidence) {
  evidence = LayoutEvidence{};
  ScopedFile backup(fs, fs.OpenRead(backupFile.c_str()));
  if (!backup.valid()) return Outcome::FailWithErrno(StatusCode::kBackupNotFound).About(backupFile);
  errno = 0;
  const std::int64_t size = fs.Seek(backup.get(), 0, SeekFrom::kEnd);
  constexpr auto kFieldsEnd = static_cast<std::int64_t>(format::kKindOffset + format::kKindFieldsSize);
  if (size < kFieldsEnd)
    return Outcome::FailWithErrno(StatusCode::kReadFailed, "file too short for a backup header");

  std::array<std::uint8_t, kHeaderBytes> header{};
  const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(size, kHeaderBytes));
  errno = 0;
  const bool read = fs.Seek(backup.get(), 0, SeekFrom::kStart) == 0 &&
                    fs.Read(backup.get(), header.data(), wanted) == static_cast<std::int64_t>(wanted);
  if (read) {
    evidence.field =
        ClassifyKindFields(std::span(header).subspan<format::kKindOffset, format::kKindFieldsSize>()).kind;
    evidence.digest = wanted < kHeaderBytes ? DigestReading::kMissing : ReadDigest(header);
  }
  const auto start = [&fs, &backup, size](BackupKind kind) {
    const std::int64_t first =
        static_cast<std::int64_t>(UsesPairRecords(kind) ? format::kPairRecordSize : format::kEntryHeaderSize);
    const std::int64_t payload = EntryAreaStart(kind) + first;
    std::array<std::uint8_t, format::kWaveTagsSize> tags{};
    const bool tagged =
        payload + static_cast<std::int64_t>(tags.size()) <= size &&
        fs.Seek(backup.get(), payload, SeekFrom::kStart) == payload &&
        fs.Read(backup.get(), tags.data(), tags.size()) == static_cast<std::int64_t>(tags.size()) &&
        HasWaveTags(tags);
    return LayoutStart{CountChainedEntries(fs, backup.get(), kind), tagged};
  };
  evidence.single = start(BackupKind::k3);
  evidence.longHeader = start(BackupKind::k6);
  evidence.paired = start(BackupKind::k5);
  return Outcome::Ok();
}

std::optional<LayoutChoice> ChooseLayout(const LayoutEvidence& evidence) {
  const auto held = [&evidence](BackupKind kind) {
    switch (kind) {
      case BackupKind::k5:
        return evidence.paired.weight();
      case BackupKind::k6:
        return evidence.longHeader.weight();
      case BackupKind::k3:
      case BackupKind::k4:
        break;
    }
    return evidence.single.weight();
  };
  LayoutChoice choice;
  std::size_t most = 0;
  if (evidence.field) {
    choice.kind = *evidence.field;
    most = held(*evidence.field);
  }
  // The field stands unless another layout holds further: a tie keeps it.
  for (const BackupKind kind : {BackupKind::k3, BackupKind::k6, BackupKind::k5}) {
    if (held(kind) > most) {
      most = held(kind);
      choice.kind = kind;
      choice.assumed = true;
    }
  }
  if (!evidence.field) {
    if (most == 0) return std::nullopt;
    choice.assumed = true;
  }
  // Only the single-entry layout holding where no record does rules the
  // paired layout out; a kind field is one bit from another. (A protected
  // backup holds its digest and first record where an entry header would
  // name a first payload: no damage puts tags there.)
  choice.pairedPossible =
      evidence.paired.weight() > 0 || (evidence.single.weight() == 0 && evidence.longHeader.weight() == 0);
  return choice;
}

std::string_view UndecidedGateReason(DigestReading digest) {
  switch (digest) {
    case DigestReading::kDamaged:
      return "the backup's header is damaged";
    case DigestReading::kUnreadable:
      return "the backup's header cannot be read";
    case DigestReading::kMissing:
      return "the backup ends inside its header";
    case DigestReading::kNoPassword:
    case DigestReading::kPassword:
      break;
  }
  return {};
}

std::string UndecidedGateText(DigestReading digest) {
  return "Nothing can be saved: " + std::string(UndecidedGateReason(digest)) +
         ", and it cannot be told whether a mailbox password protects it.";
}

}  // namespace larkspool
