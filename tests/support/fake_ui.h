// A scripted user: answers every prompt from a queue, cancels the progress
// display when told to, and records everything the core shows, in order.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/user_interface.h"

namespace larkspool::testing {

class FakeUi : public UserInterface {
 public:
  // Script
  std::deque<OverwriteAnswer> overwriteAnswers;            // an unscripted prompt fails the test and cancels
  std::deque<std::optional<std::string>> passwordAnswers;  // nullopt = Cancel
  std::deque<bool> yesNoAnswers;                           // an unscripted question fails the test: No
  bool progressCanOpen = true;
  int cancelAtPump = 0;  // press Cancel during the n-th pump (1-based); 0 never

  // Record
  std::vector<std::string> events;  // "message:TEXT", "overwrite:NAME", "password", "question:TEXT",
                                    // "open", "reset",
                                    // "percent:N", "elapsed:TEXT", "pump", "close", "busy:1"
  std::vector<Message> messages;
  std::vector<std::string> overwritePrompts;
  std::vector<int> percents;
  ProgressLines lines;
  int passwordPrompts = 0;
  int pumps = 0;

  void ShowMessage(const Message& message) override;
  OverwriteAnswer AskOverwrite(const std::string& name) override;
  std::optional<std::string> AskPassword() override;
  bool AskYesNo(const std::string& question) override;
  void SetBusy(bool busy) override;
  bool RunWithProgress(const ProgressLines& shown, CancelFlag& cancel,
                       const std::function<void()>& walk) override;
  void ResetProgressBar() override;
  void ShowPercent(int percent, const std::string& text) override;
  void ShowElapsed(const std::string& text) override;
  void PumpMessages() override;

  // The texts of every message shown, in order.
  std::vector<std::string> MessageTexts() const;

 private:
  CancelFlag* cancel_ = nullptr;
  bool busy_ = false;
};

}  // namespace larkspool::testing
