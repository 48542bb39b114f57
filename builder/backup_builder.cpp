#include "builder/backup_builder.h"

#include <cstring>
#include <fstream>
#include <span>
#include <stdexcept>

namespace larkspool::testing {
namespace {

void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  EncodeFixed32(std::span(bytes).subspan(offset).first<format::kFixed32Size>(), value);
}

void PutName(Bytes& bytes, std::size_t offset, std::string_view name) {
  std::memcpy(bytes.data() + offset, name.data(), std::min(name.size(), format::kNameFieldSize));
}

void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

}  // namespace

Bytes KnownDigestOf(std::string_view password) {
  for (const KnownDigest& known : kKnownDigests) {
    if (password != known.password) continue;
    Bytes digest;
    for (const char* hex = known.hex; hex[0] != '\0'; hex += 2) {
      digest.push_back(static_cast<std::uint8_t>(std::stoul(std::string(hex, 2), nullptr, 16)));
    }
    return digest;
  }
  throw std::invalid_argument("no independently computed digest for the password " + std::string(password));
}

Bytes WavPayload(std::size_t size, std::uint8_t seed) {
  Bytes wav(std::max<std::size_t>(size, format::kWaveTagsSize));
  std::memcpy(wav.data(), "RIFF", 4);
  Put32(wav, 4, static_cast<std::uint32_t>(wav.size() - 8));
  std::memcpy(wav.data() + 8, "WAVE", 4);
  for (std::size_t i = format::kWaveTagsSize; i < wav.size(); ++i) {
    wav[i] = static_cast<std::uint8_t>(i * 31 + seed * 7 + (i >> 8));
  }
  wav.resize(size);
  return wav;
}

Bytes WavFile(const std::vector<std::int16_t>& samples, std::uint32_t sampleRate) {
  const auto dataSize = static_cast<std::uint32_t>(samples.size() * 2);
  Bytes wav(44 + dataSize);
  std::memcpy(wav.data(), "RIFF", 4);
  Put32(wav, 4, 36 + dataSize);
  std::memcpy(wav.data() + 8, "WAVEfmt ", 8);
  Put32(wav, 16, 16);              // fmt chunk size
  Put32(wav, 20, 1 | (1u << 16));  // PCM, one channel
  Put32(wav, 24, sampleRate);
  Put32(wav, 28, sampleRate * 2);   // byte rate
  Put32(wav, 32, 2 | (16u << 16));  // block align, bits per sample
  std::memcpy(wav.data() + 36, "data", 4);
  Put32(wav, 40, dataSize);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto sample = static_cast<std::uint16_t>(samples[i]);
    wav[44 + 2 * i] = static_cast<std::uint8_t>(sample);
    wav[45 + 2 * i] = static_cast<std::uint8_t>(sample >> 8);
  }
  return wav;
}

Bytes WavWithFormat(const WaveShape& waveFormat) {
  const std::size_t fmtSize = waveFormat.subFormat ? 40 : 16;
  Bytes wav(12 + 8 + fmtSize);
  std::memcpy(wav.data(), "RIFF", 4);
  std::memcpy(wav.data() + 8, "WAVEfmt ", 8);
  Put32(wav, 16, static_cast<std::uint32_t>(fmtSize));
  Put32(wav, 20, waveFormat.formatTag | (static_cast<std::uint32_t>(waveFormat.channels) << 16));
  Put32(wav, 24, waveFormat.sampleRate);
  Put32(wav, 28, waveFormat.byteRate);
  Put32(wav, 32, waveFormat.blockAlign | (static_cast<std::uint32_t>(waveFormat.bitsPerSample) << 16));
  if (waveFormat.subFormat) {
    Put32(wav, 36,
          22 | (static_cast<std::uint32_t>(waveFormat.bitsPerSample) << 16));  // extra size, valid bits
    Put32(wav, 44, *waveFormat.subFormat);  // the first bytes of the sub-format's GUID
  }
  Append(wav, waveFormat.beforeData);
  const std::size_t data = wav.size();
  wav.resize(data + 8 + waveFormat.dataBytes);
  std::memcpy(wav.data() + data, "data", 4);
  Put32(wav, data + 4, waveFormat.dataSize.value_or(waveFormat.dataBytes));
  for (std::size_t i = data + 8; i < wav.size(); ++i) wav[i] = static_cast<std::uint8_t>(i * 13);
  Put32(wav, 4, static_cast<std::uint32_t>(wav.size() - 8));
  return wav;
}

BackupBuilder BackupBuilder::Header(std::uint32_t kind, std::int32_t variant, std::size_t headerSize) {
  BackupBuilder builder;
  builder.bytes_.assign(std::max<std::size_t>(headerSize, 16), 0);
  Put32(builder.bytes_, 8, kind);
  Put32(builder.bytes_, 12, static_cast<std::uint32_t>(variant));
  builder.bytes_.resize(headerSize);
  return builder;
}

BackupBuilder BackupBuilder::Single(BackupKind kind) {
  switch (kind) {
    case BackupKind::k3:
      return Header(3, 0, format::kSingleEntryStart);
    case BackupKind::k4:
      return Header(4, 0, format::kSingleEntryStart);
    case BackupKind::k6:
      return Header(3, 20, format::kLongHeaderEntryStart);
    case BackupKind::k5:
      break;
  }
  throw std::invalid_argument("kind 5 uses BackupBuilder::Paired");
}

BackupBuilder BackupBuilder::Paired(std::optional<std::string> password) {
  BackupBuilder builder = Header(5, 0, format::kPairRecordStart);
  return builder.Digest(password ? KnownDigestOf(*password) : Bytes(format::kPasswordDigestSize, 0xFF));
}

BackupBuilder& BackupBuilder::Digest(const Bytes& digest) {
  std::memcpy(bytes_.data() + format::kPasswordDigestOffset, digest.data(),
              std::min(digest.size(), format::kPasswordDigestSize));
  return *this;
}

BackupBuilder& BackupBuilder::Entry(std::string_view name, const Bytes& payload,
                                    std::optional<std::uint32_t> storedSize) {
  Bytes header(format::kEntryHeaderSize, 0);
  PutName(header, format::kEntryNameOffset, name);
  Put32(header, format::kEntrySizeOffset, storedSize.value_or(static_cast<std::uint32_t>(payload.size())));
  Append(bytes_, header);
  Append(bytes_, payload);
  return *this;
}

BackupBuilder& BackupBuilder::Record(const PairRecordSpec& wanted) {
  Bytes record(format::kPairRecordSize, 0);
  record[format::kRecordTypeOffset] = wanted.type;
  record[format::kSlotAOffset + format::kSlotMarkerOffset] = wanted.markerA;
  record[format::kTailMarkerOffset] = wanted.tailMarker;
  PutName(record, format::kSlotAOffset + format::kSlotNameOffset, wanted.nameA);
  PutName(record, format::kSlotBOffset + format::kSlotNameOffset, wanted.nameB);
  Put32(record, format::kSlotAOffset + format::kSlotSizeOffset,
        wanted.sizeA.value_or(static_cast<std::uint32_t>(wanted.payloadA.size())));
  Put32(record, format::kSlotBOffset + format::kSlotSizeOffset,
        wanted.sizeB.value_or(static_cast<std::uint32_t>(wanted.payloadB.size())));
  Put32(record, format::kSlotBOffset + format::kSlotPresentOffset, wanted.presentB);
  Append(bytes_, record);
  Append(bytes_, wanted.payloadA);
  Append(bytes_, wanted.payloadB);
  return *this;
}

BackupBuilder& BackupBuilder::Files(std::string_view nameA, const Bytes& payloadA, std::string_view nameB,
                                    const Bytes& payloadB) {
  PairRecordSpec wanted;
  wanted.nameA = std::string(nameA);
  wanted.payloadA = payloadA;
  if (!nameB.empty()) {
    wanted.nameB = std::string(nameB);
    wanted.payloadB = payloadB;
    wanted.presentB = 1;
  }
  return Record(wanted);
}

BackupBuilder& BackupBuilder::Raw(const Bytes& bytes) {
  Append(bytes_, bytes);
  return *this;
}

void BackupBuilder::WriteTo(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace larkspool::testing
