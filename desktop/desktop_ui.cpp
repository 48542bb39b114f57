#include "desktop/desktop_ui.h"

#include "desktop/front_end.h"

namespace larkspool::desktop {

KeyAction ProgressKeyAction(const Key& key) {
  switch (key.name) {
    case Key::Name::kEnter:
      return KeyAction::kSwallow;
    case Key::Name::kEscape:
      return KeyAction::kCancel;
    case Key::Name::kOther:
      break;
  }
  return key.alt && key.letter == kCancelLetter ? KeyAction::kCancel : KeyAction::kPassOn;
}

template <class Prompt>
auto DesktopUi::Ask(Prompt prompt) {
  const Owner owner = progressShown_ ? Owner::kProgressWindow : Owner::kMainWindow;
  struct Dismissed {
    DesktopUi& ui;
    // The prompt's own loop has just drained the queue.
    ~Dismissed() { ui.lastPump_ = ui.ticks_(); }
  } dismissed{*this};
  return prompt(owner);
}

void DesktopUi::ShowMessage(const Message& message) {
  Ask([&](Owner owner) { OpenMessageBox(owner, message); });
}

OverwriteAnswer DesktopUi::AskOverwrite(const std::string& name) {
  return OverwriteAnswerOf(Ask([&](Owner owner) { return OpenOverwritePrompt(owner, name); }));
}

std::optional<std::string> DesktopUi::AskPassword() {
  return Ask([&](Owner owner) { return OpenPasswordPrompt(owner); });
}

bool DesktopUi::AskYesNo(const std::string& question) {
  return Ask([&](Owner owner) { return OpenQuestion(owner, question); });
}

void DesktopUi::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  SetWaitCursor(busy);
}

bool DesktopUi::RunWithProgress(const ProgressLines& lines, CancelFlag& cancel,
                                const std::function<void()>& walk) {
  cancel_ = &cancel;
  cancelled_ = false;
  bar_ = 0;
  percent_ = lines.percentText;
  elapsed_ = lines.elapsedText;
  struct Gone {
    DesktopUi& ui;
    ~Gone() {
      ui.progressShown_ = false;
      ui.cancel_ = nullptr;
    }
  } gone{*this};
  return ShowProgressWindow(lines, [&] {
    progressShown_ = true;
    lastPump_ = ticks_();
    walk();
  });
}

void DesktopUi::Paint(ProgressChange change) {
  if (change.bar == bar_) change.bar.reset();
  if (change.percent == percent_) change.percent.reset();
  if (change.elapsed == elapsed_) change.elapsed.reset();
  if (!change.bar && !change.percent && !change.elapsed) return;
  if (change.bar) bar_ = *change.bar;
  if (change.percent) percent_ = *change.percent;
  if (change.elapsed) elapsed_ = *change.elapsed;
  PaintProgress(change);
}

void DesktopUi::ResetProgressBar() {
  Paint({0, std::nullopt, std::nullopt});
  PumpWhenDue();
}

void DesktopUi::ShowPercent(int percent, const std::string& text) {
  Paint({percent, text, std::nullopt});
  PumpWhenDue();
}

void DesktopUi::ShowElapsed(const std::string& text) {
  Paint({std::nullopt, std::nullopt, text});
  PumpWhenDue();
}

void DesktopUi::KeepResponsive() { PumpWhenDue(); }

void DesktopUi::PumpWhenDue() {
  if (progressShown_ && ticks_() - lastPump_ >= kPumpMilliseconds) PumpMessages();
}

void DesktopUi::PumpMessages() {
  DispatchWaiting();
  lastPump_ = ticks_();
  if (cancelled_ && cancel_ != nullptr) cancel_->Raise();
}

void DesktopUi::OnCancel() {
  cancelled_ = true;
  if (cancel_ != nullptr) cancel_->Raise();
}

bool DesktopUi::OnProgressKey(const Key& key) {
  const KeyAction action = ProgressKeyAction(key);
  if (action == KeyAction::kCancel) OnCancel();
  return action != KeyAction::kPassOn;
}

}  // namespace larkspool::desktop
