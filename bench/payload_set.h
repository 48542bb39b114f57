// A set of WAV payloads written side by side as backups, a tar archive and a
// plain file: the inputs of the benchmark (bench/run).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace larkspool::bench {

// Writes `count` WAV payloads of `size` bytes (at least 12), the same bytes in
// the same order and under the same names, as
//   DIR/NAME-k3.bkp  a kind 3 backup (80-byte entry headers),
//   DIR/NAME-k5.bkp  a kind 5 backup without a password (two files a record,
//                    an odd last file in a record of its own),
//   DIR/NAME.tar     a ustar archive in GNU tar's default 10240-byte records,
//   DIR/NAME.raw     every payload back to back, for a plain copy.
// `outputs` ("k3,k5,tar,raw" by default) chooses which of them are written.
// Everything is streamed one payload at a time, so any size is written in
// constant memory. Throws std::runtime_error when a file cannot be written,
// std::invalid_argument on arguments out of range.
void WritePayloadSet(const std::string& dir, const std::string& name, std::uint64_t count, std::size_t size,
                     const std::string& outputs = "k3,k5,tar,raw");

// "msg-00001.wav" for the first payload.
std::string EntryName(std::uint64_t index);

}  // namespace larkspool::bench
