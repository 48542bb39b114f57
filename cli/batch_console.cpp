#include "cli/batch_console.h"

#include <algorithm>
#include <cstdio>

#include "cli/console_output.h"
#include "cli/name_escape.h"
#include "cli/terminal_input.h"
#include "cli/terminal_ui.h"
#include "progress/progress_reporter.h"

namespace larkspool::cli {
namespace {

constexpr int kBarCells = 20;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

}  // namespace

std::string FormatBytes(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

BatchConsole::BatchConsole(bool showProgress, std::atomic<bool>& cancelled)
    : showProgress_(showProgress),
      canAsk_(IsTerminal(kStdinFd)),
      cancelled_(cancelled),
      start_(std::chrono::steady_clock::now()) {}

std::optional<std::string> BatchConsole::AskPassword(const std::string& backup) {
  return Ask(Kind::kPassword, backup, {});
}

std::optional<OverwriteAnswer> BatchConsole::AskOverwrite(const std::string& backup,
                                                          const std::string& name) {
  const std::optional<std::string> answer = Ask(Kind::kOverwrite, backup, name);
  return answer ? ParseOverwriteAnswer(*answer) : std::nullopt;
}

std::optional<std::string> BatchConsole::Ask(Kind kind, const std::string& backup, const std::string& name) {
  std::future<std::optional<std::string>> answer;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!canAsk_ || cancelled_) return std::nullopt;
    auto question = std::make_shared<Question>(Question{kind, backup, name, {}});
    answer = question->answer.get_future();
    questions_.push_back(std::move(question));
    woken_ = true;
  }
  wake_.notify_one();
  return answer.get();
}

void BatchConsole::Wake() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
  }
  wake_.notify_one();
}

void BatchConsole::Serve(const std::function<bool()>& finished, const std::function<BatchTotals()>& totals) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (InterruptCatcher::Caught()) cancelled_ = true;
    if (cancelled_) {
      for (const std::shared_ptr<Question>& question : questions_) question->answer.set_value(std::nullopt);
      questions_.clear();
    }
    if (!questions_.empty()) {
      const std::shared_ptr<Question> question = questions_.front();
      questions_.pop_front();
      lock.unlock();
      EndLine();
      std::optional<std::string> answer = Prompt(*question);
      question->answer.set_value(std::move(answer));
      lock.lock();
      continue;
    }
    lock.unlock();
    const bool done = finished();
    if (!done) Draw(totals());
    lock.lock();
    if (done) break;
    wake_.wait_for(lock, kRedrawEvery, [this] { return woken_; });
    woken_ = false;
  }
  lock.unlock();
  if (lineLength_ > 0) Draw(totals());
  EndLine();
}

std::optional<std::string> BatchConsole::Prompt(const Question& question) {
  const std::string backup = EscapeName(question.backup);
  // Ctrl-C at a prompt cancels the batch instead of waiting for a line.
  const InterruptCatcher catcher(InterruptCatcher::Reads::kInterruptReads);
  if (question.kind == Kind::kPassword) {
    Print(stderr, "Enter mailbox password for %s: ", backup.c_str());
    std::fflush(stderr);
    LineRead line;
    {
      const EchoOff echo(kStdinFd);
      line = ReadLine(kStdinFd);
    }
    std::fputc('\n', stderr);
    if (line.end == LineRead::End::kInterrupted) cancelled_ = true;
    if (NoAnswer(line)) return std::nullopt;
    return std::move(line.text);
  }
  const std::string name = EscapeName(question.name);
  for (;;) {
    if (InterruptCatcher::Caught()) break;
    Print(stderr, "%s: File already exists. Overwrite? %s [y]es / [a]ll / [c]ancel ", backup.c_str(),
          name.c_str());
    std::fflush(stderr);
    const LineRead line = ReadLine(kStdinFd);
    if (NoAnswer(line)) {
      std::fputc('\n', stderr);
      break;
    }
    if (ParseOverwriteAnswer(line.text)) return line.text;
  }
  if (InterruptCatcher::Caught()) cancelled_ = true;
  return std::nullopt;
}

void BatchConsole::Draw(const BatchTotals& totals) {
  if (!showProgress_) return;
  const std::uint64_t total = std::max<std::uint64_t>(totals.totalBytes, 1);
  const auto filled = static_cast<int>(std::min<std::uint64_t>(totals.doneBytes, total) * kBarCells / total);
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start_).count();
  std::string line(1, '[');
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(kBarCells - filled), '-');
  line += "] " + std::to_string(totals.done) + "/" + std::to_string(totals.total) + " backups  ";
  line +=
      FormatBytes(totals.doneBytes) + " of " + FormatBytes(totals.totalBytes) + "  " + FormatElapsed(elapsed);
  const std::size_t length = line.size();
  // Blanks over what a longer line before it left.
  if (length < lineLength_) line += std::string(lineLength_ - length, ' ');
  Print(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
  lineLength_ = length;
}

void BatchConsole::EndLine() {
  if (lineLength_ == 0) return;
  std::fputc('\n', stderr);
  lineLength_ = 0;
}

}  // namespace larkspool::cli
