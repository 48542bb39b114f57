#include "desktop/front_end.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string_view>

namespace larkspool::desktop {

OverwriteAnswer OverwriteAnswerOf(long long result) {
  if (result == kOverwriteYes) return OverwriteAnswer::kYes;
  if (result == kOverwriteYesToAll) return OverwriteAnswer::kYesToAll;
  return OverwriteAnswer::kCancel;
}

void PasswordEntry::OnOK(std::string text) {
  m_nPasswordLength = m_strPassword.size();
  m_strPassword = std::move(text);
}

std::string BoxText(const Message& message) {
  constexpr std::string_view kSystemError = "System error(";
  if (message.detail.empty() ||
      std::string_view(message.text).substr(0, kSystemError.size()) != kSystemError) {
    return message.text;
  }
  return message.text + "\n" + message.detail;
}

Message MessageForException(const std::exception_ptr& fault) {
  std::string reason = "out of memory";
  try {
    std::rethrow_exception(fault);
  } catch (const std::bad_alloc&) {
  } catch (const std::exception& error) {
    reason = error.what();
  } catch (...) {
    reason = "unexpected fault";
  }
  return StatusMessage(StatusCode::kNoMemory, reason);
}

namespace {

// The start of a span of `size` centred on [from, to), moved inside
// [areaFrom, areaTo); when it is larger than the area, its start lies on the
// area's start.
long Place(long from, long to, long size, long areaFrom, long areaTo) {
  const long centred = from + (to - from - size) / 2;
  return std::max(areaFrom, std::min(centred, areaTo - size));
}

}  // namespace

Point CentredOrigin(const Rect& owner, long width, long height, const Rect& workArea) {
  return Point{Place(owner.left, owner.right, width, workArea.left, workArea.right),
               Place(owner.top, owner.bottom, height, workArea.top, workArea.bottom)};
}

}  // namespace larkspool::desktop
