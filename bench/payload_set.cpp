#include "bench/payload_set.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "builder/backup_builder.h"

namespace larkspool::bench {
namespace {

using larkspool::testing::BackupBuilder;
using larkspool::testing::Bytes;
using larkspool::testing::WavPayload;

constexpr std::size_t kTarBlock = 512;
constexpr std::size_t kTarRecord = 20 * kTarBlock;
// 2006-03-05, fixed so that every generation writes the same bytes.
constexpr std::uint64_t kTarMtime = 1141549620;

class Output {
 public:
  explicit Output(const std::string& path) : path_(path), out_(path, std::ios::binary | std::ios::trunc) {
    if (!out_) throw std::runtime_error("cannot create " + path);
  }
  void Write(const std::uint8_t* data, std::size_t size) {
    out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    written_ += size;
  }
  void Write(const Bytes& bytes, std::size_t from = 0) { Write(bytes.data() + from, bytes.size() - from); }
  void Zeros(std::size_t count) {
    static const std::uint8_t kZeros[kTarRecord] = {};
    while (count > 0) {
      const std::size_t now = count < sizeof kZeros ? count : sizeof kZeros;
      Write(kZeros, now);
      count -= now;
    }
  }
  std::uint64_t written() const { return written_; }
  void Finish() {
    out_.close();
    if (!out_) throw std::runtime_error("cannot write " + path_);
  }

 private:
  std::string path_;
  std::ofstream out_;
  std::uint64_t written_ = 0;
};

// Octal digits, NUL-terminated, right-aligned in a field of `width` bytes.
void PutOctal(std::uint8_t* field, std::size_t width, std::uint64_t value) {
  std::snprintf(reinterpret_cast<char*>(field), width, "%0*llo", static_cast<int>(width - 1),
                static_cast<unsigned long long>(value));
}

std::array<std::uint8_t, kTarBlock> TarHeader(const std::string& name, std::uint64_t size) {
  std::array<std::uint8_t, kTarBlock> header{};
  std::memcpy(header.data(), name.data(), name.size());
  PutOctal(header.data() + 100, 8, 0644);
  PutOctal(header.data() + 108, 8, 0);  // uid
  PutOctal(header.data() + 116, 8, 0);  // gid
  PutOctal(header.data() + 124, 12, size);
  PutOctal(header.data() + 136, 12, kTarMtime);
  header[156] = '0';
  std::memcpy(header.data() + 257, "ustar", 6);
  std::memcpy(header.data() + 263, "00", 2);
  // The checksum is taken with its own field read as eight spaces.
  std::memset(header.data() + 148, ' ', 8);
  unsigned sum = 0;
  for (std::uint8_t byte : header) sum += byte;
  std::snprintf(reinterpret_cast<char*>(header.data() + 148), 8, "%06o", sum);
  header[155] = ' ';
  return header;
}

struct Outputs {
  std::optional<Output> k3, k5, tar, raw;
};

Outputs Open(const std::string& dir, const std::string& name, const std::string& which) {
  const auto wanted = [&which](const char* key) {
    return ("," + which + ",").find(std::string(",") + key + ",") != std::string::npos;
  };
  Outputs out;
  if (wanted("k3")) out.k3.emplace(dir + "/" + name + "-k3.bkp");
  if (wanted("k5")) out.k5.emplace(dir + "/" + name + "-k5.bkp");
  if (wanted("tar")) out.tar.emplace(dir + "/" + name + ".tar");
  if (wanted("raw")) out.raw.emplace(dir + "/" + name + ".raw");
  if (!out.k3 && !out.k5 && !out.tar && !out.raw) throw std::invalid_argument("no known output in " + which);
  return out;
}

// The pair records hold files 1 and 2, 3 and 4, and so on; an odd last file
// has a record of its own.
void WritePaired(Output& k5, std::uint64_t index, std::uint64_t count, const Bytes& payload, Bytes& pending) {
  static const std::size_t kHeader = BackupBuilder::Paired().bytes().size();
  const std::string entry = EntryName(index + 1);
  if (index % 2 == 0 && index + 1 < count) {
    pending = payload;
  } else if (index % 2 == 0) {
    k5.Write(BackupBuilder::Paired().Files(entry, payload).bytes(), kHeader);
  } else {
    k5.Write(BackupBuilder::Paired().Files(EntryName(index), pending, entry, payload).bytes(), kHeader);
  }
}

void WriteTarEntry(Output& tar, const std::string& entry, const Bytes& payload) {
  const auto header = TarHeader(entry, payload.size());
  tar.Write(header.data(), header.size());
  tar.Write(payload);
  tar.Zeros((kTarBlock - payload.size() % kTarBlock) % kTarBlock);
}

void Generate(Outputs& out, std::uint64_t count, std::size_t size) {
  const Bytes single = BackupBuilder::Single(BackupKind::k3).bytes();
  if (out.k3) out.k3->Write(single);
  if (out.k5) out.k5->Write(BackupBuilder::Paired().bytes());

  Bytes pending;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::string entry = EntryName(i + 1);
    const Bytes payload = WavPayload(size, static_cast<std::uint8_t>(i % 251));
    if (out.k3)
      out.k3->Write(BackupBuilder::Single(BackupKind::k3).Entry(entry, payload).bytes(), single.size());
    if (out.k5) WritePaired(*out.k5, i, count, payload, pending);
    if (out.tar) WriteTarEntry(*out.tar, entry, payload);
    if (out.raw) out.raw->Write(payload);
  }
  if (out.tar) {
    out.tar->Zeros(2 * kTarBlock);
    out.tar->Zeros((kTarRecord - out.tar->written() % kTarRecord) % kTarRecord);
  }
  for (std::optional<Output>* file : {&out.k3, &out.k5, &out.tar, &out.raw}) {
    if (*file) (*file)->Finish();
  }
}

}  // namespace

std::string EntryName(std::uint64_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "msg-%05llu.wav", static_cast<unsigned long long>(index));
  return name;
}

void WritePayloadSet(const std::string& dir, const std::string& name, std::uint64_t count, std::size_t size,
                     const std::string& outputs) {
  if (count == 0 || size < 12 || size > 0xFFFFFFFFu)
    throw std::invalid_argument("COUNT or SIZE out of range");
  Outputs out = Open(dir, name, outputs);
  Generate(out, count, size);
}

}  // namespace larkspool::bench
