#include "base/outcome.h"

#include <cerrno>
#include <cstring>

namespace larkspool {

std::string ErrorText(int error, std::string_view fallback) {
  return error != 0 ? std::string(std::strerror(error)) : std::string(fallback);
}

std::string Detailed(std::string_view subject, std::string_view detail) {
  std::string text(subject);
  if (!detail.empty()) {
    if (!text.empty()) text += ": ";
    text += detail;
  }
  return text;
}

Outcome Outcome::FailWithErrno(StatusCode code, std::string_view fallback) {
  return Fail(code, ErrorText(errno, fallback));
}

Outcome Outcome::About(std::string_view subject) const {
  if (!failed()) return *this;
  Outcome about = Fail(code_, Detailed(subject, detail_));
  about.text_ = text_;
  return about;
}

Outcome Outcome::WithText(std::string text) const {
  Outcome with = *this;
  if (failed()) with.text_ = std::move(text);
  return with;
}

}  // namespace larkspool
