// Writes the bundled example backups, one of each kind, into the folder given
// on the command line. The voice messages are synthesised tones (8 kHz, 16-bit
// mono) so that every extracted file plays. The output is deterministic: the
// same program always writes the same bytes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <numbers>
#include <string>
#include <vector>

#include "builder/backup_builder.h"

namespace {

using larkspool::BackupKind;
using larkspool::testing::BackupBuilder;
using larkspool::testing::Bytes;
using larkspool::testing::PairRecordSpec;
using larkspool::testing::WavFile;

constexpr double kSampleRate = 8000.0;

struct Note {
  double low;   // Hz; 0 is a pause
  double high;  // a second tone mixed in (two-tone beeps), 0 for none
  double seconds;
};

// A short fade at both ends of every note keeps the tones free of clicks.
void AppendNote(std::vector<std::int16_t>& samples, const Note& note) {
  const int count = static_cast<int>(note.seconds * kSampleRate);
  const int fade = static_cast<int>(0.01 * kSampleRate);
  for (int i = 0; i < count; ++i) {
    const double t = i / kSampleRate;
    double value = 0.0;
    if (note.low > 0) value += std::sin(2 * std::numbers::pi * note.low * t);
    if (note.high > 0) value += std::sin(2 * std::numbers::pi * note.high * t);
    if (note.low > 0 && note.high > 0) value /= 2;
    const double envelope =
        std::min({1.0, static_cast<double>(i) / fade, static_cast<double>(count - i) / fade});
    samples.push_back(static_cast<std::int16_t>(std::lround(value * envelope * 9000)));
  }
}

Bytes Tune(std::initializer_list<Note> notes) {
  std::vector<std::int16_t> samples;
  for (const Note& note : notes) AppendNote(samples, note);
  return WavFile(samples);
}

// A rising scale, a falling one, two-tone beeps and a long tone that spans
// several copy chunks.
Bytes Greeting() { return Tune({{523, 0, .25}, {659, 0, .25}, {784, 0, .25}, {1047, 0, .5}}); }
Bytes Farewell() { return Tune({{1047, 0, .25}, {784, 0, .25}, {659, 0, .25}, {523, 0, .5}}); }
Bytes Beeps() { return Tune({{697, 1209, .2}, {0, 0, .1}, {770, 1336, .2}, {0, 0, .1}, {852, 1477, .2}}); }
Bytes LongTone() { return Tune({{440, 0, 1.5}, {0, 0, .2}, {440, 660, 1.0}}); }

std::string Path(const std::string& folder, const char* name) { return folder + "/" + name; }

void WriteExamples(const std::string& folder) {
  std::filesystem::create_directories(folder);
  BackupBuilder::Single(BackupKind::k3)
      .Entry("greeting.wav", Greeting())
      .Entry("message-001.wav", Beeps())
      .Entry("message-002.wav", LongTone())
      .WriteTo(Path(folder, "kind3.bkp"));
  BackupBuilder::Single(BackupKind::k4)
      .Entry("morning.wav", Greeting())
      .Entry("evening.wav", Farewell())
      .WriteTo(Path(folder, "kind4.bkp"));
  BackupBuilder::Single(BackupKind::k6)
      .Entry("box06-001.wav", Beeps())
      .Entry("box06-002.wav", Farewell())
      .WriteTo(Path(folder, "kind6.bkp"));

  // Mailbox password 2468. The records show each way a record selects files:
  // two files, file A only, and none.
  PairRecordSpec onlyA;
  onlyA.type = 2;
  onlyA.nameA = "box05-003.wav";
  onlyA.payloadA = LongTone();
  PairRecordSpec none;
  none.type = 3;
  BackupBuilder::Paired("2468")
      .Files("box05-001.wav", Greeting(), "box05-002.wav", Beeps())
      .Record(onlyA)
      .Record(none)
      .WriteTo(Path(folder, "kind5-protected.bkp"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 64;
  }
  try {
    WriteExamples(argv[1]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
    return 1;
  }
  return 0;
}
