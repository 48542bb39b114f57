#include "cli/terminal_ui.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

#include "cli/console_output.h"
#include "cli/name_escape.h"

namespace larkspool::cli {
namespace {

constexpr int kBarCells = 20;

}  // namespace

void PrintNotice(std::string_view text) {
  Print(stderr, "larkspool-cli: %.*s\n", static_cast<int>(text.size()), text.data());
}

std::string MessageLine(const Message& message) {
  return message.detail.empty() ? message.text : message.text + ": " + EscapeName(message.detail);
}

std::optional<OverwriteAnswer> PolicyAnswer(OverwritePolicy policy) {
  switch (policy) {
    case OverwritePolicy::kAll:
      return OverwriteAnswer::kYesToAll;
    case OverwritePolicy::kNever:
      return OverwriteAnswer::kSkip;
    case OverwritePolicy::kAsk:
      break;
  }
  return std::nullopt;
}

std::string NoPromptNote(const std::string& name) {
  return EscapeName(name) + " already exists; use --overwrite=all or --overwrite=never";
}

std::optional<OverwriteAnswer> ParseOverwriteAnswer(std::string text) {
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
  text.erase(std::find_if_not(text.rbegin(), text.rend(), blank).base(), text.end());
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (text == "y" || text == "yes") return OverwriteAnswer::kYes;
  if (text == "a" || text == "all") return OverwriteAnswer::kYesToAll;
  if (text == "c" || text == "cancel") return OverwriteAnswer::kCancel;
  return std::nullopt;
}

bool NoAnswer(const LineRead& line) {
  return line.end == LineRead::End::kInterrupted || line.end == LineRead::End::kError ||
         (line.end == LineRead::End::kEndOfFile && line.text.empty());
}

TerminalUi::TerminalUi(TerminalOptions options)
    : options_(std::move(options)), showProgress_(!options_.quiet && IsTerminal(kStderrFd)) {}

TerminalUi::~TerminalUi() {
  if (tty_ >= 0) CloseTerminal(tty_);
}

void TerminalUi::ShowMessage(const Message& message) {
  EndBarLine();
  messageShown_ = true;
  if (message.style == MessageStyle::kInformation) {
    if (!options_.quiet) Print(stdout, "%s\n", message.text.c_str());
    return;
  }
  Notice(MessageLine(message));
}

OverwriteAnswer TerminalUi::AskOverwrite(const std::string& name) {
  if (const std::optional<OverwriteAnswer> answer = PolicyAnswer(options_.overwrite)) return *answer;
  const int input = AnswerInput();
  if (input < 0) {
    Notice(NoPromptNote(name));
    return OverwriteAnswer::kCancel;
  }
  return PromptOverwrite(input, name);
}

std::optional<std::string> TerminalUi::AskPassword() {
  if (options_.passwordFromStdin) {
    LineRead line = ReadLine(kStdinFd);
    if (line.end == LineRead::End::kError) {
      Notice("cannot read the password from standard input");
      return std::nullopt;
    }
    return std::move(line.text);
  }
  if (IsTerminal(kStdinFd)) return PromptPassword();
  Notice(EscapeName(options_.backupName) +
         " is password-protected: use --password-stdin or run on a terminal");
  return std::nullopt;
}

bool TerminalUi::RunWithProgress(const ProgressLines& lines, CancelFlag& cancel,
                                 const std::function<void()>& walk) {
  OpenProgress(lines, cancel);
  // Closed also when the walk ends with an exception.
  struct Closer {
    TerminalUi& ui;
    ~Closer() { ui.CloseProgress(); }
  } closer{*this};
  walk();
  return true;
}

void TerminalUi::OpenProgress(const ProgressLines& lines, CancelFlag& cancel) {
  cancel_ = &cancel;
  InterruptCatcher::Clear();
  walkCatcher_.emplace(InterruptCatcher::Reads::kRestart);
  percent_ = 0;
  percentText_ = lines.percentText;
  elapsedText_ = lines.elapsedText;
  if (showProgress_) {
    Print(stderr, "%s\n%s\n", EscapeName(lines.fileLine).c_str(), lines.dateLine.c_str());
  }
}

void TerminalUi::ResetProgressBar() { percent_ = 0; }

void TerminalUi::ShowPercent(int percent, const std::string& text) {
  percent_ = std::clamp(percent, 0, 100);
  percentText_ = text;
  DrawBar();
}

void TerminalUi::ShowElapsed(const std::string& text) {
  elapsedText_ = text;
  DrawBar();
}

void TerminalUi::PumpMessages() {
  if (cancel_ != nullptr && InterruptCatcher::Caught()) cancel_->Raise();
}

void TerminalUi::CloseProgress() {
  EndBarLine();
  // A cancel shows no message of its own; Ctrl-C deserves a word.
  if (cancel_ != nullptr && cancel_->IsRaised() && !messageShown_) {
    Notice("interrupted; the files extracted before it are kept");
  }
  walkCatcher_.reset();
  cancel_ = nullptr;
}

void TerminalUi::Notice(std::string_view text) {
  EndBarLine();
  PrintNotice(text);
}

void TerminalUi::DrawBar() {
  if (!showProgress_) return;
  const int filled = percent_ * kBarCells / 100;
  const std::string bar = std::string(filled, '#') + std::string(kBarCells - filled, '-');
  Print(stderr, "\r[%s] %4s  %s", bar.c_str(), percentText_.c_str(), elapsedText_.c_str());
  barDrawn_ = true;
}

void TerminalUi::EndBarLine() {
  if (!barDrawn_) return;
  Put(stderr, "\n");
  barDrawn_ = false;
}

int TerminalUi::AnswerInput() {
  // With --password-stdin, stdin is a pipe or a file, not the user.
  if (!options_.passwordFromStdin) return IsTerminal(kStdinFd) ? kStdinFd : -1;
  if (!ttyTried_) {
    ttyTried_ = true;
    tty_ = OpenTerminal();
  }
  return tty_;
}

OverwriteAnswer TerminalUi::PromptOverwrite(int input, const std::string& name) {
  EndBarLine();
  // Ctrl-C at the prompt answers Cancel instead of waiting for a line.
  InterruptCatcher catcher(InterruptCatcher::Reads::kInterruptReads);
  const std::string shown = EscapeName(name);
  for (;;) {
    if (InterruptCatcher::Caught()) break;
    Print(stderr, "File already exists. Overwrite? %s [y]es / [a]ll / [c]ancel ", shown.c_str());
    const LineRead line = ReadLine(input);
    if (NoAnswer(line)) {
      Put(stderr, "\n");
      break;
    }
    if (const std::optional<OverwriteAnswer> answer = ParseOverwriteAnswer(line.text)) return *answer;
  }
  return OverwriteAnswer::kCancel;
}

std::optional<std::string> TerminalUi::PromptPassword() {
  Put(stderr, "Enter mailbox password: ");
  LineRead line;
  {
    // Declared in this order so that echo is back before Ctrl-C is.
    InterruptCatcher catcher(InterruptCatcher::Reads::kInterruptReads);
    EchoOff echo(kStdinFd);
    line = ReadLine(kStdinFd);
  }
  Put(stderr, "\n");
  // The default behaviour of Ctrl-C, now that the terminal is restored.
  if (line.end == LineRead::End::kInterrupted) ResendInterrupt();
  if (NoAnswer(line)) return std::nullopt;
  return std::move(line.text);
}

}  // namespace larkspool::cli
