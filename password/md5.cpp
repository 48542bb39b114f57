#include "password/md5.h"

#include <cstring>

namespace larkspool {
namespace {

constexpr std::size_t kBlockSize = 64;
constexpr std::size_t kWordsPerBlock = 16;
// Where the 64-bit message length starts in the last block.
constexpr std::size_t kLengthOffset = 56;

// T[i] = floor(2^32 * |sin(i + 1)|), i counting steps across all four rounds.
constexpr std::uint32_t kSineTable[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

using MixFunction = std::uint32_t (*)(std::uint32_t, std::uint32_t, std::uint32_t);

constexpr std::uint32_t MixF(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & y) | (~x & z); }
constexpr std::uint32_t MixG(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & z) | (y & ~z); }
constexpr std::uint32_t MixH(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }
constexpr std::uint32_t MixI(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (x | ~z); }

// What distinguishes the four rounds. Step i of a round reads message word
// (first_word + word_stride * i) mod 16 and rotates by shifts[i mod 4].
struct Round {
  MixFunction mix;
  std::size_t first_word;
  std::size_t word_stride;
  int shifts[4];
};

constexpr Round kRounds[4] = {
    {&MixF, 0, 1, {7, 12, 17, 22}},
    {&MixG, 1, 5, {5, 9, 14, 20}},
    {&MixH, 5, 3, {4, 11, 16, 23}},
    {&MixI, 0, 7, {6, 10, 15, 21}},
};

// n must be 1..31; a shift by 32 would be undefined.
constexpr std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// MD5 words are little-endian whatever the host's byte order.
std::uint32_t DecodeWord(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void EncodeWord(std::uint32_t word, std::uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<std::uint8_t>(word >> (8 * i));
  }
}

struct Registers {
  std::uint32_t a, b, c, d;
};

// Updates a from b, c and d, then renames the registers so that the next step
// again updates a: after four steps every register is back under its own name.
inline void Step(Registers& r, MixFunction mix, std::uint32_t word, std::uint32_t constant, int shift) {
  const std::uint32_t sum = r.a + mix(r.b, r.c, r.d) + word + constant;
  r = {r.d, r.b + RotateLeft(sum, shift), r.b, r.c};
}

void Compress(std::uint32_t state[4], const std::uint8_t block[kBlockSize]) {
  std::uint32_t words[kWordsPerBlock];
  for (std::size_t i = 0; i < kWordsPerBlock; ++i) {
    words[i] = DecodeWord(block + 4 * i);
  }
  Registers r{state[0], state[1], state[2], state[3]};
  for (std::size_t round = 0; round < 4; ++round) {
    const Round& rule = kRounds[round];
    for (std::size_t i = 0; i < kWordsPerBlock; ++i) {
      const std::size_t word = (rule.first_word + rule.word_stride * i) % kWordsPerBlock;
      Step(r, rule.mix, words[word], kSineTable[round * kWordsPerBlock + i], rule.shifts[i % 4]);
    }
  }
  state[0] += r.a;
  state[1] += r.b;
  state[2] += r.c;
  state[3] += r.d;
}

std::size_t BufferedBytes(const MD5Context& context) { return (context.count[0] >> 3) % kBlockSize; }

// The count is kept modulo 2^64 bits, so length * 8 may wrap on purpose.
void AddBitCount(MD5Context& context, std::size_t length) {
  const auto low_bits = static_cast<std::uint32_t>(length << 3);
  context.count[0] += low_bits;
  if (context.count[0] < low_bits) {
    ++context.count[1];
  }
  context.count[1] += static_cast<std::uint32_t>(length >> 29);
}

// Stores through a volatile pointer so the compiler cannot drop them as dead.
void Wipe(MD5Context& context) {
  volatile auto* bytes = reinterpret_cast<volatile unsigned char*>(&context);
  for (std::size_t i = 0; i < sizeof context; ++i) {
    bytes[i] = 0;
  }
}

}  // namespace

void MD5Init(MD5Context& context) {
  context = MD5Context{};
  context.state[0] = 0x67452301;
  context.state[1] = 0xefcdab89;
  context.state[2] = 0x98badcfe;
  context.state[3] = 0x10325476;
}

void MD5Update(MD5Context& context, const void* data, std::size_t length) {
  // An empty update may come with a null pointer, which memcpy must not see.
  if (length == 0) {
    return;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t used = BufferedBytes(context);
  AddBitCount(context, length);

  const std::size_t room = kBlockSize - used;
  if (length >= room) {
    std::memcpy(context.block + used, bytes, room);
    Compress(context.state, context.block);
    std::size_t offset = room;
    for (; offset + kBlockSize <= length; offset += kBlockSize) {
      Compress(context.state, bytes + offset);
    }
    bytes += offset;
    length -= offset;
    used = 0;
  }
  std::memcpy(context.block + used, bytes, length);
}

void MD5Final(std::uint8_t digest[kMd5DigestSize], MD5Context& context) {
  std::size_t used = BufferedBytes(context);
  context.block[used++] = 0x80;
  if (used > kLengthOffset) {
    std::memset(context.block + used, 0, kBlockSize - used);
    Compress(context.state, context.block);
    used = 0;
  }
  std::memset(context.block + used, 0, kLengthOffset - used);
  EncodeWord(context.count[0], context.block + kLengthOffset);
  EncodeWord(context.count[1], context.block + kLengthOffset + 4);
  Compress(context.state, context.block);

  for (std::size_t i = 0; i < 4; ++i) {
    EncodeWord(context.state[i], digest + 4 * i);
  }
  // The message may be a password; leave none of it behind.
  Wipe(context);
}

void MD5Digest(const void* data, std::size_t length, std::uint8_t digest[kMd5DigestSize]) {
  MD5Context context;
  MD5Init(context);
  MD5Update(context, data, length);
  MD5Final(digest, context);
}

Md5Hash MD5Digest(const void* data, std::size_t length) {
  Md5Hash digest;
  MD5Digest(data, length, digest.data());
  return digest;
}

}  // namespace larkspool
