// The run as both desktop tools show it, whatever toolkit draws the windows:
// which window owns each prompt, where the wait cursor shows, when the
// window's queue is drained, which keys cancel, and which lines of the
// progress window are painted again. A toolkit's front end derives from
// DesktopUi and draws what the protected calls ask for; it reports the
// Cancel button, the close box and the progress window's keys back.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "base/user_interface.h"
#include "progress/progress_reporter.h"

namespace larkspool::desktop {

// A key pressed in the progress window, as the front end reads it.
struct Key {
  enum class Name { kEnter, kEscape, kOther };
  Name name = Name::kOther;
  char letter = 0;  // a to z, or 0
  bool alt = false;
};

// What a key pressed in the progress window does. Esc and Alt with the
// Cancel button's letter cancel; Enter does nothing, so a second press of the
// key that started the run does not stop it; the toolkit handles the rest.
enum class KeyAction { kPassOn, kCancel, kSwallow };
KeyAction ProgressKeyAction(const Key& key);
// The letter of "&Cancel".
inline constexpr char kCancelLetter = 'c';

// What changed on the progress window: each line given is painted again.
struct ProgressChange {
  std::optional<int> bar;  // position in 0..100
  std::optional<std::string> percent;
  std::optional<std::string> elapsed;
};

class DesktopUi : public UserInterface {
 public:
  // How long the walk may go without the window's queue being drained.
  static constexpr std::int64_t kPumpMilliseconds = 100;

  explicit DesktopUi(Ticks ticks = SteadyMilliseconds) : ticks_(std::move(ticks)) {}

  // Every prompt goes over the progress window while it is up, else over the
  // main window.
  void ShowMessage(const Message& message) final;
  OverwriteAnswer AskOverwrite(const std::string& name) final;
  std::optional<std::string> AskPassword() final;
  bool AskYesNo(const std::string& question) final;
  // The wait cursor for the length of a run, prompts and all; it shows over
  // the progress window only (SetWaitCursor).
  void SetBusy(bool busy) final;
  bool RunWithProgress(const ProgressLines& lines, CancelFlag& cancel,
                       const std::function<void()>& walk) final;
  // Each call paints only what changes and drains the queue when it has not
  // been drained for kPumpMilliseconds.
  void ResetProgressBar() final;
  void ShowPercent(int percent, const std::string& text) final;
  void ShowElapsed(const std::string& text) final;
  void KeepResponsive() final;
  // Drains the queue now: after each entry.
  void PumpMessages() final;

  // The progress window's Cancel button and close box. A Cancel made while
  // the window comes up counts, although the run clears its flag after that.
  void OnCancel();
  // A key pressed in the progress window; true when it was handled here
  // and the toolkit must not handle it too.
  bool OnProgressKey(const Key& key);

 protected:
  enum class Owner { kMainWindow, kProgressWindow };

  // Modal prompts over `owner`; each returns once it is dismissed.
  virtual void OpenMessageBox(Owner owner, const Message& message) = 0;
  virtual bool OpenQuestion(Owner owner, const std::string& question) = 0;
  // Returns the value the prompt ended with (desktop::OverwriteAnswerOf).
  virtual long long OpenOverwritePrompt(Owner owner, const std::string& name) = 0;
  virtual std::optional<std::string> OpenPasswordPrompt(Owner owner) = 0;
  // The wait cursor over the progress window, its buttons excepted, now and
  // whenever the window comes up. Never over a prompt, which is a window of
  // its own and keeps its arrow while the progress window below it shows the
  // wait cursor, nor over the main window.
  virtual void SetWaitCursor(bool shown) = 0;
  // Shows the progress window with `lines` (0 %, an empty bar), modal over
  // the main window, and calls `whileUp` once it is on screen; the window
  // goes when `whileUp` returns or throws. False, without calling `whileUp`,
  // when the window cannot be made.
  virtual bool ShowProgressWindow(const ProgressLines& lines, const std::function<void()>& whileUp) = 0;
  virtual void PaintProgress(const ProgressChange& change) = 0;
  // Dispatches every waiting message without blocking; keys for the
  // progress window go through OnProgressKey first.
  virtual void DispatchWaiting() = 0;

 private:
  template <class Prompt>
  auto Ask(Prompt prompt);
  void Paint(ProgressChange change);
  void PumpWhenDue();

  Ticks ticks_;
  bool busy_ = false;
  bool progressShown_ = false;
  CancelFlag* cancel_ = nullptr;
  bool cancelled_ = false;
  std::int64_t lastPump_ = 0;
  // What the progress window shows.
  int bar_ = 0;
  std::string percent_;
  std::string elapsed_;
};

}  // namespace larkspool::desktop
