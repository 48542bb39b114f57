// The password check over arbitrary input: 16 bytes of stored digest, then
// the typed text. Checks the block rule, the decision of VerifyPassword and
// that an MD5 digest does not depend on how its input is split.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "password/md5.h"
#include "password/password_gate.h"

namespace larkspool::fuzz {
namespace {

void Require(bool holds, const char* promise) {
  if (holds) return;
  std::fprintf(stderr, "broken promise: %s\n", promise);
  std::abort();
}

bool IsPassword(std::string_view text) {
  return !text.empty() && text.size() <= kMaxPasswordDigits &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void CheckBlock(std::string_view text, const std::optional<PasswordDigest>& block) {
  Require(block.has_value() == IsPassword(text), "a block exists exactly for 1 to 15 ASCII digits");
  if (!block) return;
  for (std::size_t i = 0; i < block->size(); ++i) {
    const auto expected = i < text.size() ? static_cast<std::uint8_t>(text[i] - '0') : std::uint8_t{0xFF};
    Require((*block)[i] == expected, "the block holds digit values, then 0xFF");
  }
}

void CheckVerify(const PasswordDigest& stored, std::string_view text,
                 const std::optional<PasswordDigest>& block) {
  const bool matches = block && MD5Digest(block->data(), block->size()) == Md5Hash(stored);
  const bool accepted = VerifyPassword(stored, text) == 0;
  Require(accepted == (stored[0] != 0xFF && matches),
          "accepted exactly when the stored digest is the block's");
  if (!block) return;
  PasswordDigest own{};
  MD5Digest(block->data(), block->size(), own.data());
  Require((VerifyPassword(own, text) == 0) == (own[0] != 0xFF),
          "the digest of its own block accepts a password");
}

// Feeds `data` in three pieces cut where its first bytes say.
void CheckMd5Split(const std::uint8_t* data, std::size_t size) {
  const std::size_t first = size == 0 ? 0 : data[0] % (size + 1);
  const std::size_t second = size < 2 ? first : std::max(first, data[1] * 7u % (size + 1));
  MD5Context context;
  MD5Init(context);
  MD5Update(context, data, first);
  MD5Update(context, data + first, second - first);
  MD5Update(context, data + second, size - second);
  Md5Hash pieces{};
  MD5Final(pieces.data(), context);
  Require(pieces == MD5Digest(data, size), "a digest does not depend on how its input is split");
}

}  // namespace
}  // namespace larkspool::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace larkspool;
  fuzz::CheckMd5Split(data, size);
  if (size < format::kPasswordDigestSize) return 0;
  PasswordDigest stored{};
  std::copy(data, data + stored.size(), stored.begin());
  const std::string_view text(reinterpret_cast<const char*>(data) + stored.size(), size - stored.size());
  const std::optional<PasswordDigest> block = PasswordBlock(text);
  fuzz::CheckBlock(text, block);
  fuzz::CheckVerify(stored, text, block);
  return 0;
}
