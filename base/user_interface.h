// The one interface through which the core reaches the user. Each front end
// (the desktop windows, the command line) implements it; the core never shows
// anything by other means. All calls come from the thread that runs the core.
#pragma once

#include <csignal>
#include <functional>
#include <optional>
#include <string>

#include "base/outcome.h"
#include "base/status.h"

namespace larkspool {

// The answer to "File already exists. Overwrite?".
enum class OverwriteAnswer : int {
  kYes = 1,
  kCancel = 2,  // also the answer when the prompt cannot be shown
  kYesToAll = 3,
  kSkip = 4,  // keep the existing file and skip its payload (command line only)
};

// Raised by the front end when the user cancels the progress display; read
// by the walkers between entries. Safe to raise from a signal handler.
class CancelFlag {
 public:
  void Raise() { m_bCancel = 1; }
  void Clear() { m_bCancel = 0; }
  bool IsRaised() const { return m_bCancel != 0; }

 private:
  volatile std::sig_atomic_t m_bCancel = 0;
};

// What the progress display shows when it comes up.
struct ProgressLines {
  std::string fileLine;     // "Backup File: box01.bkp"
  std::string dateLine;     // "Date: 03/05/2006 09:07"
  std::string percentText;  // "0%"
  std::string elapsedText;  // "Elapsed Time: 00:00:00"
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A modal message with a single OK button; returns once dismissed.
  virtual void ShowMessage(const Message& message) = 0;
  // Asks whether the existing file `name` may be replaced.
  virtual OverwriteAnswer AskOverwrite(const std::string& name) = 0;
  // Asks for the mailbox password; no value means the user cancelled.
  virtual std::optional<std::string> AskPassword() = 0;
  // A modal question with Yes and No buttons and the question icon; true for
  // Yes. A front end that offers no such choice answers No.
  virtual bool AskYesNo(const std::string& /*question*/) { return false; }
  // The busy indication (a wait cursor) for the length of a run.
  virtual void SetBusy(bool busy) = 0;

  // The progress display. OpenProgress shows it with `lines` and hands it the
  // flag its Cancel raises; it returns false when it cannot be shown. The
  // other calls are made only while it is open.
  virtual bool OpenProgress(const ProgressLines& lines, CancelFlag& cancel) = 0;
  virtual void ResetProgressBar() = 0;  // range 0..100, position 0
  virtual void ShowPercent(int percent, const std::string& text) = 0;
  virtual void ShowElapsed(const std::string& text) = 0;
  // Handles whatever input is waiting (a click on Cancel) without blocking.
  virtual void PumpMessages() = 0;
  virtual void CloseProgress() = 0;

  // Shows the progress display and runs `walk` while it is up; returns false,
  // without running `walk`, when the display cannot be shown. A front end
  // whose progress display is a modal window runs the walk from inside the
  // window's start-up, so the window's owner stays disabled throughout.
  virtual bool RunWithProgress(const ProgressLines& lines, CancelFlag& cancel,
                               const std::function<void()>& walk) {
    if (!OpenProgress(lines, cancel)) return false;
    // Closed also when the walk ends with an exception.
    struct Closer {
      UserInterface& ui;
      ~Closer() { ui.CloseProgress(); }
    } closer{*this};
    walk();
    return true;
  }
};

// A user who is never asked: shows nothing, cancels every prompt, and has a
// progress display that is always there. For work whose display follows
// something else (a copy inside a salvage) and for runs with nobody to ask.
class SilentUserInterface : public UserInterface {
 public:
  void ShowMessage(const Message& /*message*/) override {}
  OverwriteAnswer AskOverwrite(const std::string& /*name*/) override { return OverwriteAnswer::kCancel; }
  std::optional<std::string> AskPassword() override { return std::nullopt; }
  void SetBusy(bool /*busy*/) override {}
  bool OpenProgress(const ProgressLines& /*lines*/, CancelFlag& /*cancel*/) override { return true; }
  void ResetProgressBar() override {}
  void ShowPercent(int /*percent*/, const std::string& /*text*/) override {}
  void ShowElapsed(const std::string& /*text*/) override {}
  void PumpMessages() override {}
  void CloseProgress() override {}
};

// Shows the catalogue message of a failed outcome (or the text the outcome
// carries instead): the one message of a fault.
inline void ReportStatus(UserInterface& ui, const Outcome& failure) {
  Message message = StatusMessage(failure.code(), failure.detail());
  if (!failure.text().empty()) message.text = failure.text();
  ui.ShowMessage(message);
}

}  // namespace larkspool
