#include "tests/support/salvage_fixture.h"

#include <algorithm>
#include <cstring>

namespace larkspool::testing {

Bytes WaveMessage(std::size_t size, std::uint8_t seed) {
  constexpr std::size_t kHead = 44;
  WaveShape shape;
  shape.dataBytes = static_cast<std::uint32_t>(std::max(size, kHead) - kHead);
  Bytes wav = WavWithFormat(shape);
  for (std::size_t i = kHead; i < wav.size(); ++i) {
    wav[i] = static_cast<std::uint8_t>(1 + (i * 31 + seed * 7 + (i >> 8)) % 255);
  }
  return wav;
}

BuiltBackup::BuiltBackup(bool pairedLayout, const std::vector<std::size_t>& sizes) : paired(pairedLayout) {
  BackupBuilder builder = paired ? BackupBuilder::Paired() : BackupBuilder::Single(BackupKind::k3);
  std::int64_t at = paired ? 51 : 24;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    PlacedMessage m{std::string(1, static_cast<char>('a' + i)) + ".wav",
                    WaveMessage(sizes[i], static_cast<std::uint8_t>(i + 1))};
    if (!paired) {
      builder.Entry(m.name, m.original);
      m.header = at;
      m.offset = at + 80;
    } else if (i % 2 == 0) {
      m.header = at;
      m.offset = at + 256;
      if (i + 1 == sizes.size()) builder.Files(m.name, m.original);
    } else {
      const PlacedMessage& first = messages.back();
      builder.Files(first.name, first.original, m.name, m.original);
      m.header = first.header;
      m.offset = first.end();
    }
    at = m.end();
    messages.push_back(m);
  }
  bytes = builder.bytes();
}

std::int64_t BuiltBackup::SizeField(char name) const {
  const PlacedMessage& m = (*this)[name];
  if (!paired) return m.header + 68;
  // Slot A's size at 100, slot B's at 168.
  return m.header + (m.offset == m.header + 256 ? 100 : 168);
}

SalvageOutcome SalvageInto(Session& session, const Bytes& backup, FileSystem& files) {
  WriteFile(session.backup, backup);
  SalvageOutcome o;
  o.result = Salvager(files, session.ui, TickingClock()).OnSalvage(session.backup, session.folder, o.report);
  o.files = session.Output();
  return o;
}

std::map<std::string, std::string> StatesOf(const SalvageReport& report) {
  std::map<std::string, std::string> states;
  for (const SalvagedMessage& m : report.messages) {
    states[m.state == SalvageState::kLost ? m.storedName : m.outputName] = std::string(StateName(m.state));
  }
  return states;
}

Bytes SavedPart(const Bytes& original, std::size_t size) {
  Bytes part(original.begin(),
             original.begin() + static_cast<std::ptrdiff_t>(std::min(size, original.size())));
  if (size >= original.size()) return part;
  // WaveMessage's data chunk begins at 36: its size at 40, its bytes at 44.
  EncodeFixed32(std::span(part).subspan(4).first<4>(), static_cast<std::uint32_t>(size - 8));
  if (size >= 44)
    EncodeFixed32(std::span(part).subspan(40).first<4>(), static_cast<std::uint32_t>(size - 44));
  return part;
}

}  // namespace larkspool::testing
