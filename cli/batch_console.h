// The batch's one voice on the terminal, all of it on the main thread: one
// progress line for the whole batch, and the questions the jobs put to the
// user (a password, an existing file), asked one at a time, by backup name,
// while the other jobs go on. Ctrl-C, caught here, cancels every job.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/user_interface.h"

namespace larkspool::cli {

// What the progress line shows.
struct BatchTotals {
  std::size_t done = 0;  // backups finished
  std::size_t total = 0;
  std::uint64_t doneBytes = 0;  // of the backups, finished and under way
  std::uint64_t totalBytes = 0;
};

class BatchConsole {
 public:
  // `showProgress`: draw the line (stderr is a terminal and -q was not
  // given). Questions are asked only when standard input is a terminal.
  BatchConsole(bool showProgress, std::atomic<bool>& cancelled);

  // From a job's thread: waits while the question is asked. Nothing when
  // there is no terminal to ask on, the batch is cancelled, or the user gave
  // no answer (an empty end of input).
  std::optional<std::string> AskPassword(const std::string& backup);
  // Yes, Yes to all or Cancel; nothing as for AskPassword.
  std::optional<OverwriteAnswer> AskOverwrite(const std::string& backup, const std::string& name);
  bool CanAsk() const { return canAsk_; }
  // From a job's thread: something changed (a job ended).
  void Wake();

  // On the main thread: asks the questions as they come and redraws the
  // progress line until `finished` holds; raises `cancelled` on Ctrl-C,
  // which an InterruptCatcher of the caller's catches.
  void Serve(const std::function<bool()>& finished, const std::function<BatchTotals()>& totals);
  // Ends the progress line, so that what follows starts on a line of its own.
  void EndLine();

 private:
  enum class Kind { kPassword, kOverwrite };
  struct Question {
    Kind kind;
    std::string backup;
    std::string name;
    std::promise<std::optional<std::string>> answer;
  };

  std::optional<std::string> Ask(Kind kind, const std::string& backup, const std::string& name);
  std::optional<std::string> Prompt(const Question& question);
  void Draw(const BatchTotals& totals);

  const bool showProgress_;
  const bool canAsk_;
  std::atomic<bool>& cancelled_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
  std::deque<std::shared_ptr<Question>> questions_;
  std::chrono::steady_clock::time_point start_;
  std::size_t lineLength_ = 0;  // of the progress line on screen; 0: none
};

// "12.3 MiB": a byte count for people.
std::string FormatBytes(std::uint64_t bytes);

}  // namespace larkspool::cli
