#include "password/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace larkspool {
namespace {

std::string Hex(const Md5Hash& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xf];
  }
  return hex;
}

struct KnownDigest {
  std::string message;
  const char* hex;
};

// The test suite published with RFC 1321, then 55 and 56 bytes (either side of
// the point where the length field no longer fits after the 0x80 marker) and
// one exact block; those three digests were computed with coreutils md5sum.
const KnownDigest kKnownDigests[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"1234567890123456789012345678901234567890"
     "1234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
    {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
    {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
};

TEST(Md5Test, MatchesKnownDigests) {
  for (const KnownDigest& known : kKnownDigests) {
    SCOPED_TRACE("message length " + std::to_string(known.message.size()));
    EXPECT_EQ(Hex(MD5Digest(known.message.data(), known.message.size())), known.hex);
  }
}

// The mailbox password check digests exactly one 16-byte block. Expected value
// from: printf '\x01\x02\x03\x04\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff' | md5sum
TEST(Md5Test, DigestsSixteenBytePasswordBlock) {
  std::uint8_t block[16] = {1, 2, 3, 4};
  std::fill(block + 4, block + 16, 0xff);
  EXPECT_EQ(Hex(MD5Digest(block, sizeof block)), "0203f8b0a5899f7fa7591acf9768f48c");
}

// Every way of cutting a 150-byte message into three pieces, empty pieces
// included, must give the one-call digest; the cuts cross both block edges.
TEST(Md5Test, PiecewiseUpdatesMatchOneCall) {
  std::string message(150, '\0');
  for (std::size_t i = 0; i < message.size(); ++i) {
    message[i] = static_cast<char>(i * 7 + 3);
  }
  const Md5Hash whole = MD5Digest(message.data(), message.size());

  for (std::size_t first = 0; first <= message.size(); ++first) {
    for (std::size_t second = first; second <= message.size(); ++second) {
      MD5Context context;
      MD5Init(context);
      MD5Update(context, message.data(), first);
      MD5Update(context, message.data() + first, second - first);
      MD5Update(context, message.data() + second, message.size() - second);
      Md5Hash pieces;
      MD5Final(pieces.data(), context);
      ASSERT_EQ(pieces, whole) << "cuts at " << first << " and " << second;
    }
  }
}

TEST(Md5Test, BitCountCarriesIntoHighWord) {
  MD5Context context;
  MD5Init(context);
  context.count[0] = 0xfffffff8;
  const std::uint8_t byte = 0;
  MD5Update(context, &byte, 1);
  EXPECT_EQ(context.count[0], 0u);
  EXPECT_EQ(context.count[1], 1u);
}

}  // namespace
}  // namespace larkspool
