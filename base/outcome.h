// The result of one step of an extraction: go on, failed with a status, or
// cancelled by the user.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "base/status.h"

namespace larkspool {

// What an extraction run returns; also what each walker ends with.
enum class RunResult : int {
  kCompleted = 0,
  kFailed = 1,     // its message has been shown
  kCancelled = 2,  // nothing is shown
  kProgressWindowFailed = -1,
};

// The reason a system call failed: the text of `error`, or `fallback` when
// the call set none (a read that came short at the end of the file).
std::string ErrorText(int error, std::string_view fallback = {});
// "subject: detail", or the subject alone when there is no detail.
std::string Detailed(std::string_view subject, std::string_view detail);

class Outcome {
 public:
  static Outcome Ok() { return Outcome(RunResult::kCompleted, StatusCode::kSuccess, {}); }
  static Outcome Cancelled() { return Outcome(RunResult::kCancelled, StatusCode::kSuccess, {}); }
  static Outcome Fail(StatusCode code, std::string detail = {}) {
    return Outcome(RunResult::kFailed, code, std::move(detail));
  }
  // A failed system call: the detail is the text of errno, or `fallback`
  // when errno is 0.
  static Outcome FailWithErrno(StatusCode code, std::string_view fallback = {});

  bool ok() const { return result_ == RunResult::kCompleted; }
  bool failed() const { return result_ == RunResult::kFailed; }
  bool cancelled() const { return result_ == RunResult::kCancelled; }
  RunResult result() const { return result_; }
  StatusCode code() const { return code_; }
  const std::string& detail() const { return detail_; }

  // The same outcome; a failure's detail now names what it is about:
  // "a.wav: short write". Success and cancel pass unchanged.
  Outcome About(std::string_view subject) const;

  // The same outcome, shown with `text` instead of its code's catalogue
  // text: for a fault the catalogue cannot word, such as the name of an
  // audio format. Success and cancel pass unchanged.
  Outcome WithText(std::string text) const;
  // The text that replaces the catalogue's; empty when there is none.
  const std::string& text() const { return text_; }

 private:
  Outcome(RunResult result, StatusCode code, std::string detail)
      : result_(result), code_(code), detail_(std::move(detail)) {}

  RunResult result_;
  StatusCode code_;
  std::string detail_;
  std::string text_;
};

}  // namespace larkspool
