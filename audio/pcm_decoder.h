// Decoding one WAV payload to interleaved 16-bit PCM. The payload is read
// where it lies (in memory, or in the backup through the file layer) and
// decoded by libsndfile; which formats are decoded is decided here, from the
// payload's own format tag, so it is the same wherever the library was built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "archive/payload.h"
#include "base/outcome.h"
#include "platform/file_system.h"

namespace larkspool {

// The bytes of one WAV payload, read at any position.
class PayloadSource {
 public:
  virtual ~PayloadSource() = default;

  virtual std::uint64_t size() const = 0;
  // Reads `count` bytes from `at` (at + count <= size()). Returns the count
  // read; a count short of `count` is a fault, which status() keeps.
  virtual std::size_t ReadAt(std::uint64_t at, std::uint8_t* into, std::size_t count) = 0;
  // Success, or the first read that failed.
  const Outcome& status() const { return status_; }

 protected:
  void Failed(Outcome failure) {
    if (status_.ok()) status_ = std::move(failure);
  }

 private:
  Outcome status_ = Outcome::Ok();
};

// A payload held in memory; `bytes` must outlive it.
class MemoryPayload final : public PayloadSource {
 public:
  explicit MemoryPayload(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::uint64_t size() const override { return bytes_.size(); }
  std::size_t ReadAt(std::uint64_t at, std::uint8_t* into, std::size_t count) override;

 private:
  std::span<const std::uint8_t> bytes_;
};

// A payload read from the backup through `fs`; a read that comes short
// (the backup ends inside the payload) or fails is status 10.
class BackupPayload final : public PayloadSource {
 public:
  BackupPayload(FileSystem& fs, FileHandle backup, const PayloadSpan& payload)
      : fs_(fs), backup_(backup), payload_(payload) {}

  std::uint64_t size() const override { return payload_.size; }
  std::size_t ReadAt(std::uint64_t at, std::uint8_t* into, std::size_t count) override;
  // Fails with 10 unless the backup holds the payload's last byte, so a cut
  // payload is known before anything of it is written.
  Outcome CheckWhole();
  // Leaves the backup right after the payload, where a walk goes on.
  Outcome LeaveAtEnd();

 private:
  FileSystem& fs_;
  FileHandle backup_;
  PayloadSpan payload_;
  std::int64_t position_ = -1;  // of the backup, when known
};

// The shape of decoded audio.
struct PcmFormat {
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;
};

// Decoded audio: frames of `format.channels` interleaved samples.
struct PcmAudio {
  PcmFormat format;
  std::vector<std::int16_t> samples;

  std::uint64_t frames() const { return format.channels == 0 ? 0 : samples.size() / format.channels; }
};

// The format tags decoded here: PCM (8, 16, 24 and 32 bits), IEEE float,
// µ-law, A-law, IMA ADPCM, MS ADPCM and GSM 6.10.
bool IsDecodedFormat(std::uint16_t formatTag);
// "This message's audio format (G.729) cannot be played here.", status 13.
Outcome UndecodedFormat(std::uint16_t formatTag);

// Decodes a payload frame by frame. Float samples are scaled by 32768,
// rounded and held to the 16-bit range; wider integers are rounded to 16
// bits.
class PcmDecoder {
 public:
  explicit PcmDecoder(PayloadSource& source);
  ~PcmDecoder();
  PcmDecoder(const PcmDecoder&) = delete;
  PcmDecoder& operator=(const PcmDecoder&) = delete;

  // Reads the payload's header. Fails with 8 without "RIFF" and "WAVE" or
  // a readable "fmt " chunk in its first 16384 bytes, or when the library
  // cannot read what the header describes (the reason as the detail); with
  // 13 naming the format when it is not one decoded here; with the source's
  // fault (10) when the payload cannot be read.
  Outcome Open();
  PcmFormat format() const { return format_; }
  // Decodes the next frames into `samples` (whole frames: its size is cut to
  // a multiple of the channels) and returns how many; 0 at the end, or after
  // a fault, which status() tells.
  std::size_t Read(std::span<std::int16_t> samples);
  // Success, or the first fault of the source (10) or of decoding (8).
  Outcome status() const;

 private:
  struct Library;  // the library's handle and its reads
  PayloadSource& source_;
  std::unique_ptr<Library> library_;
  PcmFormat format_;
  std::vector<float> buffer_;
};

// The largest "data" chunk a WAV file can state: its RIFF size, 36 bytes
// more, must fit 32 bits.
inline constexpr std::uint64_t kMaxPcmWavData = 0xFFFFFFFFu - 36 - 1;

// "This message is too long to be written as a 16-bit PCM WAV file.", 13.
Outcome TooLongForPcmWav();

// The whole payload decoded into `audio`. Fails as PcmDecoder does, and with
// 13 when the decoded samples would not fit a WAV file of `maxDataBytes`.
Outcome DecodeToPcm(PayloadSource& source, PcmAudio& audio, std::uint64_t maxDataBytes = kMaxPcmWavData);

}  // namespace larkspool
