// MD5 message digest (RFC 1321). The mailbox password check compares the
// digest of a 16-byte password block with the digest stored in a backup.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace larkspool {

inline constexpr std::size_t kMd5DigestSize = 16;
using Md5Hash = std::array<std::uint8_t, kMd5DigestSize>;

// Working state of one digest.
struct MD5Context {
  std::uint32_t state[4];  // chaining values A, B, C, D
  std::uint32_t count[2];  // message length in bits modulo 2^64, low word first
  std::uint8_t block[64];  // bytes not yet compressed
};

void MD5Init(MD5Context& context);
void MD5Update(MD5Context& context, const void* data, std::size_t length);
// Finishes the message and writes the 16-byte digest; the context is spent.
void MD5Final(std::uint8_t digest[kMd5DigestSize], MD5Context& context);

// One-shot digest of a buffer.
void MD5Digest(const void* data, std::size_t length, std::uint8_t digest[kMd5DigestSize]);
Md5Hash MD5Digest(const void* data, std::size_t length);

}  // namespace larkspool
