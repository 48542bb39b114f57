#include "cli/name_escape.h"

#include <cstddef>
#include <cstdint>

namespace larkspool::cli {
namespace {

bool IsContinuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence of two or more bytes that starts at
// `at`, or 0. Overlong forms, surrogates and code points past U+10FFFF are
// invalid.
std::size_t MultiByteLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[at + i]); };
  const std::uint8_t lead = byte(0);
  std::size_t length = 0;
  std::uint8_t low = 0x80;  // the range of the second byte
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size() || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!IsContinuation(byte(i))) return 0;
  }
  return length;
}

void AppendHexEscape(std::string& out, std::uint8_t byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

}  // namespace

std::string EscapeName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  std::size_t at = 0;
  while (at < name.size()) {
    const auto byte = static_cast<std::uint8_t>(name[at]);
    if (byte < 0x80) {
      if (byte < 0x20 || byte == 0x7F) {
        AppendHexEscape(out, byte);
      } else {
        out += static_cast<char>(byte);
      }
      ++at;
      continue;
    }
    const std::size_t length = MultiByteLength(name, at);
    if (length == 0) {
      AppendHexEscape(out, byte);
      ++at;
      continue;
    }
    out.append(name.substr(at, length));
    at += length;
  }
  return out;
}

}  // namespace larkspool::cli
