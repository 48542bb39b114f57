// What every desktop front end does the same way, whatever toolkit draws its
// windows: the answers of the overwrite prompt, the password taken at OK, the
// caption and text of a message box, and where a prompt goes on the screen.
// The run itself is desktop/desktop_ui.h.
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <string>

#include "base/status.h"
#include "base/user_interface.h"

namespace larkspool::desktop {

// The caption of every message box and prompt titled after the program.
inline constexpr char kCaption[] = "Larkspool";

// The value the overwrite prompt's window ends with for each of its buttons:
// the numbers of OverwriteAnswer.
inline constexpr int kOverwriteYes = static_cast<int>(OverwriteAnswer::kYes);
inline constexpr int kOverwriteCancel = static_cast<int>(OverwriteAnswer::kCancel);
inline constexpr int kOverwriteYesToAll = static_cast<int>(OverwriteAnswer::kYesToAll);
// The answer of a prompt that ended with `result`; anything but Yes and Yes
// to All (Esc, the close box, a prompt that could not be shown) cancels.
OverwriteAnswer OverwriteAnswerOf(long long result);

// The password prompt's text: it follows the edit as the user types; OK
// takes its length at that moment, then reads the edit back once more.
class PasswordEntry {
 public:
  void OnEditChange(std::string text) { m_strPassword = std::move(text); }
  void OnOK(std::string text);
  // What the gate checks: the text read back at OK, cut to the length taken
  // at OK.
  std::string Password() const { return m_strPassword.substr(0, m_nPasswordLength); }
  const std::string& text() const { return m_strPassword; }

 private:
  std::string m_strPassword;
  std::size_t m_nPasswordLength = 0;
};

// The text of a message box: the catalogue's text, and for a "System
// error(N)" whose fault has a reason, the reason on a second line.
std::string BoxText(const Message& message);

// The catalogue message for an exception that reached the top of a request:
// no memory (status 12) for a failed allocation, and for anything else too,
// with what it says as the reason.
Message MessageForException(const std::exception_ptr& fault);

struct Rect {
  long left = 0;
  long top = 0;
  long right = 0;
  long bottom = 0;
  long width() const { return right - left; }
  long height() const { return bottom - top; }
};

// Where a window of `width` x `height` goes: centred over `owner`, moved
// inside `workArea` (the work area of the owner's monitor, which may lie left
// of or above the primary one) as far as it fits, its top left corner first.
struct Point {
  long x = 0;
  long y = 0;
};
Point CentredOrigin(const Rect& owner, long width, long height, const Rect& workArea);

}  // namespace larkspool::desktop
