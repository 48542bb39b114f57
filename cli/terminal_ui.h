// The UserInterface of the command line: messages and prompts on stderr,
// the completion note on stdout, a one-line progress bar on a terminal, and
// Ctrl-C as the progress display's Cancel.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/user_interface.h"
#include "cli/terminal_input.h"

namespace larkspool::cli {

enum class OverwritePolicy { kAsk, kAll, kNever };

struct TerminalOptions {
  std::string backupName;  // as the user typed it, for hints
  bool quiet = false;
  bool passwordFromStdin = false;
  OverwritePolicy overwrite = OverwritePolicy::kAsk;
};

// Writes "larkspool-cli: TEXT" and a newline on stderr.
void PrintNotice(std::string_view text);
// A message as the command line shows it: "TEXT: DETAIL", the detail escaped.
std::string MessageLine(const Message& message);

// What `policy` answers without asking; nothing for kAsk.
std::optional<OverwriteAnswer> PolicyAnswer(OverwritePolicy policy);
// Why an existing file cannot be asked about: "NAME already exists; use ...".
std::string NoPromptNote(const std::string& name);
// "y", "yes", "a", "all", "c" or "cancel", in any case, blanks around it;
// nothing for anything else.
std::optional<OverwriteAnswer> ParseOverwriteAnswer(std::string text);
// EOF on an empty line, an error or Ctrl-C: the user gave no answer.
bool NoAnswer(const LineRead& line);

class TerminalUi final : public UserInterface {
 public:
  explicit TerminalUi(TerminalOptions options);
  ~TerminalUi() override;
  TerminalUi(const TerminalUi&) = delete;
  TerminalUi& operator=(const TerminalUi&) = delete;

  void ShowMessage(const Message& message) override;
  OverwriteAnswer AskOverwrite(const std::string& name) override;
  std::optional<std::string> AskPassword() override;
  void SetBusy(bool /*busy*/) override {}

  bool RunWithProgress(const ProgressLines& lines, CancelFlag& cancel,
                       const std::function<void()>& walk) override;
  void ResetProgressBar() override;
  void ShowPercent(int percent, const std::string& text) override;
  void ShowElapsed(const std::string& text) override;
  void PumpMessages() override;

 private:
  void OpenProgress(const ProgressLines& lines, CancelFlag& cancel);
  void CloseProgress();
  void Notice(std::string_view text);
  void DrawBar();
  void EndBarLine();
  // Where the answer to an overwrite prompt is read from, or -1.
  int AnswerInput();
  OverwriteAnswer PromptOverwrite(int input, const std::string& name);
  std::optional<std::string> PromptPassword();

  TerminalOptions options_;
  bool showProgress_;
  CancelFlag* cancel_ = nullptr;
  std::optional<InterruptCatcher> walkCatcher_;
  bool barDrawn_ = false;
  bool messageShown_ = false;
  int percent_ = 0;
  std::string percentText_;
  std::string elapsedText_;
  int tty_ = -1;
  bool ttyTried_ = false;
};

}  // namespace larkspool::cli
