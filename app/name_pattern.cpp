#include "app/name_pattern.h"

#include <cstdint>
#include <optional>
#include <string>

namespace larkspool {
namespace {

// A byte that is not part of a valid UTF-8 sequence decodes to a value above
// every code point, so it can only match itself.
constexpr char32_t kRawByte = 0x110000;

std::u32string Decode(std::string_view text) {
  std::u32string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[at]);
    std::size_t length = lead < 0x80                    ? 1
                         : lead >= 0xC2 && lead <= 0xDF ? 2
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                        : 0;
    char32_t value = length == 1   ? lead
                     : length == 2 ? (lead & 0x1F)
                     : length == 3 ? (lead & 0x0F)
                                   : (lead & 0x07);
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = at + i < text.size() ? static_cast<std::uint8_t>(text[at + i]) : 0;
      if ((next & 0xC0) != 0x80) {
        length = 0;
        break;
      }
      value = (value << 6) | (next & 0x3F);
    }
    // Overlong forms and surrogates are not valid sequences either.
    const bool valid = length == 1 || (length == 2 && value >= 0x80) ||
                       (length == 3 && value >= 0x800 && (value < 0xD800 || value > 0xDFFF)) ||
                       (length == 4 && value >= 0x10000 && value <= 0x10FFFF);
    if (!valid) {
      out += kRawByte + lead;
      ++at;
      continue;
    }
    out += value;
    at += length;
  }
  return out;
}

char32_t Fold(char32_t c, bool ignoreCase) {
  return ignoreCase && c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// Matches the set that starts after '[' at `p`. Sets `p` past the closing
// ']' and returns whether `c` is in it; nullopt when the set is not closed
// (then '[' is an ordinary character).
std::optional<bool> MatchSet(const std::u32string& pattern, std::size_t& p, char32_t c, bool ignoreCase) {
  std::size_t at = p;
  const bool negated = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
  if (negated) ++at;
  bool found = false;
  bool first = true;
  while (at < pattern.size() && (pattern[at] != ']' || first)) {
    first = false;
    char32_t low = pattern[at++];
    if (low == '\\' && at < pattern.size()) low = pattern[at++];
    char32_t high = low;
    if (at + 1 < pattern.size() && pattern[at] == '-' && pattern[at + 1] != ']') {
      high = pattern[at + 1];
      at += 2;
      if (high == '\\' && at < pattern.size()) high = pattern[at++];
    }
    const char32_t folded = Fold(c, ignoreCase);
    if ((c >= low && c <= high) || (folded >= Fold(low, ignoreCase) && folded <= Fold(high, ignoreCase))) {
      found = true;
    }
  }
  if (at >= pattern.size()) return std::nullopt;
  p = at + 1;
  return found != negated;
}

bool Match(const std::u32string& pattern, const std::u32string& name, bool ignoreCase) {
  std::size_t p = 0;
  std::size_t n = 0;
  // Where to resume after the last '*': the pattern after it, and the name
  // position it has swallowed up to.
  std::size_t starP = std::u32string::npos;
  std::size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starN = n;
      continue;
    }
    if (p < pattern.size()) {
      std::size_t next = p + 1;
      bool same = false;
      if (pattern[p] == '?') {
        same = true;
      } else if (pattern[p] == '[') {
        std::size_t after = p + 1;
        if (const std::optional<bool> in = MatchSet(pattern, after, name[n], ignoreCase)) {
          same = *in;
          next = after;
        } else {
          same = name[n] == '[';
        }
      } else {
        char32_t literal = pattern[p];
        if (literal == '\\' && p + 1 < pattern.size()) {
          literal = pattern[p + 1];
          next = p + 2;
        }
        same = Fold(literal, ignoreCase) == Fold(name[n], ignoreCase);
      }
      if (same) {
        p = next;
        ++n;
        continue;
      }
    }
    if (starP == std::u32string::npos) return false;
    p = starP;
    n = ++starN;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool MatchesPattern(std::string_view pattern, std::string_view name, bool ignoreCase) {
  return Match(Decode(pattern), Decode(name), ignoreCase);
}

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace larkspool
