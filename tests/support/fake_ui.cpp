#include "tests/support/fake_ui.h"

#include <gtest/gtest.h>

namespace larkspool::testing {

void FakeUi::ShowMessage(const Message& message) {
  messages.push_back(message);
  events.push_back("message:" + message.text);
}

OverwriteAnswer FakeUi::AskOverwrite(const std::string& name) {
  overwritePrompts.push_back(name);
  events.push_back("overwrite:" + name);
  if (overwriteAnswers.empty()) {
    ADD_FAILURE() << "unexpected overwrite prompt for " << name;
    return OverwriteAnswer::kCancel;
  }
  const OverwriteAnswer answer = overwriteAnswers.front();
  overwriteAnswers.pop_front();
  return answer;
}

std::optional<std::string> FakeUi::AskPassword() {
  ++passwordPrompts;
  events.emplace_back("password");
  if (passwordAnswers.empty()) {
    ADD_FAILURE() << "unexpected password prompt";
    return std::nullopt;
  }
  std::optional<std::string> answer = passwordAnswers.front();
  passwordAnswers.pop_front();
  return answer;
}

bool FakeUi::AskYesNo(const std::string& question) {
  events.push_back("question:" + question);
  if (yesNoAnswers.empty()) {
    ADD_FAILURE() << "unexpected question: " << question;
    return false;
  }
  const bool answer = yesNoAnswers.front();
  yesNoAnswers.pop_front();
  return answer;
}

void FakeUi::SetBusy(bool busy) {
  EXPECT_NE(busy, busy_) << "busy indication switched twice the same way";
  busy_ = busy;
  events.push_back(busy ? "busy:1" : "busy:0");
}

bool FakeUi::RunWithProgress(const ProgressLines& shown, CancelFlag& cancel,
                             const std::function<void()>& walk) {
  if (!progressCanOpen) return false;
  lines = shown;
  cancel_ = &cancel;
  events.emplace_back("open");
  struct Closer {
    FakeUi& ui;
    ~Closer() {
      ui.cancel_ = nullptr;
      ui.events.emplace_back("close");
    }
  } closer{*this};
  walk();
  return true;
}

void FakeUi::ResetProgressBar() {
  EXPECT_NE(cancel_, nullptr) << "progress reset while no display is open";
  events.emplace_back("reset");
}

void FakeUi::ShowPercent(int percent, const std::string& text) {
  EXPECT_EQ(text, std::to_string(percent) + "%");
  percents.push_back(percent);
  events.push_back("percent:" + std::to_string(percent));
}

void FakeUi::ShowElapsed(const std::string& text) { events.push_back("elapsed:" + text); }

void FakeUi::PumpMessages() {
  EXPECT_NE(cancel_, nullptr) << "pump while no display is open";
  ++pumps;
  events.emplace_back("pump");
  if (pumps == cancelAtPump && cancel_ != nullptr) cancel_->Raise();
}

std::vector<std::string> FakeUi::MessageTexts() const {
  std::vector<std::string> texts;
  for (const Message& message : messages) texts.push_back(message.text);
  return texts;
}

}  // namespace larkspool::testing
