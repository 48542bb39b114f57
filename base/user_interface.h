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

  // The progress display. RunWithProgress shows it with `lines`, hands it
  // the flag its Cancel raises and runs `walk` while it is up; it returns
  // false, without running `walk`, when the display cannot be shown. The
  // display closes when `walk` returns or throws. A front end whose display
  // is a modal window runs the walk from inside the window's start-up, so
  // the window's owner stays disabled throughout. The other calls are made
  // only while `walk` runs.
  virtual bool RunWithProgress(const ProgressLines& lines, CancelFlag& cancel,
                               const std::function<void()>& walk) = 0;
  virtual void ResetProgressBar() = 0;  // range 0..100, position 0
  virtual void ShowPercent(int percent, const std::string& text) = 0;
  virtual void ShowElapsed(const std::string& text) = 0;
  // Handles whatever input is waiting (a click on Cancel) without blocking;
  // called after each entry.
  virtual void PumpMessages() = 0;
  // Called while one entry is still being worked on, after each piece of a
  // payload copy; nothing on screen changes. A front end whose windows must
  // keep answering drains its queue here when it has not done so for a
  // while. The cancel flag is still read between entries only.
  virtual void KeepResponsive() {}
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
  bool RunWithProgress(const ProgressLines& /*lines*/, CancelFlag& /*cancel*/,
                       const std::function<void()>& walk) override {
    walk();
    return true;
  }
  void ResetProgressBar() override {}
  void ShowPercent(int /*percent*/, const std::string& /*text*/) override {}
  void ShowElapsed(const std::string& /*text*/) override {}
  void PumpMessages() override {}
};

// Shows the catalogue message of a failed outcome (or the text the outcome
// carries instead): the one message of a fault.
inline void ReportStatus(UserInterface& ui, const Outcome& failure) {
  Message message = StatusMessage(failure.code(), failure.detail());
  if (!failure.text().empty()) message.text = failure.text();
  ui.ShowMessage(message);
}

}  // namespace larkspool
