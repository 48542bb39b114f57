#include "cli/name_encoding.h"

#include <cerrno>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <cctype>
#include <cstdlib>
#else
#include <iconv.h>
#endif

namespace larkspool::cli {

#ifdef _WIN32

// Windows knows code pages by number: "CP932", "cp1252" or "932".
struct NameEncoding::Converter {
  UINT codePage = 0;
};

std::unique_ptr<NameEncoding> NameEncoding::Open(const std::string& charset) {
  std::string digits = charset;
  if (digits.size() > 2 && std::toupper(static_cast<unsigned char>(digits[0])) == 'C' &&
      std::toupper(static_cast<unsigned char>(digits[1])) == 'P') {
    digits.erase(0, 2);
  }
  char* end = nullptr;
  const unsigned long number = std::strtoul(digits.c_str(), &end, 10);
  if (digits.empty() || *end != '\0' || number == 0 || number > 65535 || !IsValidCodePage(number)) {
    return nullptr;
  }
  auto converter = std::make_unique<Converter>();
  converter->codePage = static_cast<UINT>(number);
  return std::unique_ptr<NameEncoding>(new NameEncoding(charset, std::move(converter)));
}

std::optional<std::string> NameEncoding::ToUtf8(std::string_view stored) const {
  if (stored.empty()) return std::string();
  const int size = static_cast<int>(stored.size());
  const int wide =
      MultiByteToWideChar(converter_->codePage, MB_ERR_INVALID_CHARS, stored.data(), size, nullptr, 0);
  if (wide <= 0) return std::nullopt;
  std::wstring text(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(converter_->codePage, MB_ERR_INVALID_CHARS, stored.data(), size, text.data(), wide);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, out.data(), bytes, nullptr, nullptr);
  return out;
}

NameEncoding::~NameEncoding() = default;

#else

struct NameEncoding::Converter {
  iconv_t handle;
};

std::unique_ptr<NameEncoding> NameEncoding::Open(const std::string& charset) {
  const iconv_t handle = ::iconv_open("UTF-8", charset.c_str());
  if (handle == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return std::unique_ptr<NameEncoding>(
      new NameEncoding(charset, std::make_unique<Converter>(Converter{handle})));
}

std::optional<std::string> NameEncoding::ToUtf8(std::string_view stored) const {
  ::iconv(converter_->handle, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  // A stored name is at most 46 bytes, and no character set needs more than
  // six UTF-8 bytes for one of its bytes.
  std::vector<char> in(stored.begin(), stored.end());
  std::vector<char> out(stored.size() * 6 + 8);
  char* inAt = in.data();
  std::size_t inLeft = in.size();
  char* outAt = out.data();
  std::size_t outLeft = out.size();
  if (::iconv(converter_->handle, &inAt, &inLeft, &outAt, &outLeft) == static_cast<std::size_t>(-1) ||
      ::iconv(converter_->handle, nullptr, nullptr, &outAt, &outLeft) == static_cast<std::size_t>(-1)) {
    return std::nullopt;
  }
  return std::string(out.data(), outAt);
}

NameEncoding::~NameEncoding() { ::iconv_close(converter_->handle); }

#endif

NameEncoding::NameEncoding(std::string charset, std::unique_ptr<Converter> converter)
    : charset_(std::move(charset)), converter_(std::move(converter)) {}

EntryOptions NamingOptions(const std::string& charset) {
  EntryOptions options;
  if (charset.empty()) return options;
  std::shared_ptr<NameEncoding> converter = NameEncoding::Open(charset);
  if (converter) {
    options.mapName = [converter](std::string_view stored) { return converter->ToUtf8(stored); };
    options.unnamedReason = "the name is not valid " + charset;
  }
  return options;
}

}  // namespace larkspool::cli
