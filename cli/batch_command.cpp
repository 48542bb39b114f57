#include "cli/batch_command.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <set>
#include <thread>

#include "app/name_pattern.h"
#include "base/outcome.h"
#include "cli/batch_console.h"
#include "cli/batch_files.h"
#include "cli/batch_job.h"
#include "cli/batch_table.h"
#include "cli/console_output.h"
#include "cli/name_escape.h"
#include "cli/password_file.h"
#include "cli/terminal_input.h"
#include "platform/file_system.h"

namespace larkspool::cli {
namespace {

// What one batch is asked to do, from the command's options.
struct Plan {
  BatchCommand command = BatchCommand::kExtract;
  std::vector<std::string> operands;  // backups and folders of backups
  const BatchOptions* batch = nullptr;
  EntryChoice choice;
  OverwritePolicy overwrite = OverwritePolicy::kAsk;
  bool quiet = false;
  bool json = false;
  OutputForm form = OutputForm::kStored;
};

CLI::Option* AddEach(CLI::App& command, const std::shared_ptr<BatchOptions>& batch, CLI::Option* folder) {
  CLI::Option* each = nullptr;
  if (folder != nullptr) {
    each = command
               .add_option_function<std::string>(
                   "--each",
                   [batch, folder](const std::string& outdir) {
                     batch->each = true;
                     batch->outdir = outdir;
                     // Every operand is a backup now, DIR too.
                     folder->required(false);
                   },
                   "Take every operand as a backup (a folder: the *.bkp files in it), each into "
                   "OUTDIR/NAME/ (OUTDIR/NAME (2)/ for a second backup of that name), several at a time")
               ->type_name("OUTDIR");
  } else {
    each = command.add_flag(
        "--each", batch->each,
        "Take every operand as a backup (a folder: the *.bkp files in it), several at a time");
  }
  command
      .add_option("-j,--jobs", batch->jobs,
                  "With --each: run up to N backups at a time (default: one a processor)")
      ->type_name("N")
      ->check(CLI::Range(1u, 1024u))
      ->needs(each);
  command.add_flag("-r,--recursive", batch->recursive, "With --each: take the backups in subfolders too")
      ->needs(each);
  command
      .add_option(
          "--password-file", batch->passwordFile,
          "With --each: read passwords from FILE, lines of NAME<TAB>DIGITS (NAME.bkp's); only its owner "
          "may read it")
      ->type_name("FILE")
      ->needs(each);
  if (CLI::Option* fromStdin = command.get_option_no_throw("--password-stdin")) fromStdin->excludes(each);
  return each;
}

void AddIncludes(CLI::App& command, BatchOptions& batch, CLI::Option* each) {
  command
      .add_option("--include", batch.includes,
                  "With --each: take only the entries whose names match PATTERN; repeatable")
      ->type_name("PATTERN")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->needs(each);
}

std::string Stem(const std::string& path) {
  std::string name = LastComponent(path);
  if (name.size() > 4) {
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (extension == ".bkp") name.resize(name.size() - 4);
  }
  return name;
}

// Two folder names that the system takes for the same folder.
std::string FolderKey(std::string name) {
#ifdef _WIN32
  return AsciiLower(name);
#else
  return name;
#endif
}

std::uint64_t FileSize(const std::string& path) {
  FileSystem& fs = NativeFileSystem();
  ScopedFile file(fs, fs.OpenRead(path.c_str()));
  const std::int64_t size = file.valid() ? fs.Seek(file.get(), 0, SeekFrom::kEnd) : -1;
  return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

// The backups the operands name, each once, in the order given; false when
// a folder cannot be read.
bool GatherBackups(const Plan& plan, std::vector<std::string>& backups) {
  std::vector<std::string> found;
  for (const std::string& operand : plan.operands) {
    if (!IsFolder(operand.c_str())) {
      found.push_back(operand);
      continue;
    }
    const std::size_t before = found.size();
    if (!ListBackups(operand, plan.batch->recursive, found)) {
      PrintNotice("cannot read the folder " + EscapeName(operand) + ": " + ErrorText(errno));
      return false;
    }
    if (found.size() == before) PrintNotice("no backup (*.bkp) in " + EscapeName(operand));
  }
  std::set<std::string> seen;
  for (const std::string& backup : found) {
    if (seen.insert(AbsolutePath(backup)).second) backups.push_back(backup);
  }
  return true;
}

std::vector<BatchJob> MakeJobs(const Plan& plan, const std::vector<std::string>& backups) {
  const bool folders = plan.command != BatchCommand::kVerify;
  const std::string outdir = folders ? AbsolutePath(plan.batch->outdir) : std::string();
  std::set<std::string> used;
  std::vector<BatchJob> jobs;
  for (const std::string& backup : backups) {
    BatchJob job;
    job.backup = backup;
    job.path = AbsolutePath(backup);
    job.stem = Stem(backup);
    job.size = FileSize(job.path);
    if (folders) {
      job.folderName = job.stem;
      for (int n = 2; !used.insert(FolderKey(job.folderName)).second; ++n) {
        job.folderName = job.stem + " (" + std::to_string(n) + ")";
      }
      job.folder = JoinPath(plan.batch->outdir, job.folderName);
      job.folderPath = JoinPath(outdir, job.folderName);
    }
    jobs.push_back(std::move(job));
  }
  return jobs;
}

// Runs the jobs on `threads` threads while this thread serves the console.
class Runner {
 public:
  Runner(const std::vector<BatchJob>& jobs, BatchShared& shared)
      : jobs_(jobs),
        shared_(shared),
        rows_(jobs.size()),
        progress_(std::make_unique<JobProgress[]>(jobs.size())),
        states_(std::make_unique<std::atomic<int>[]>(jobs.size())) {}

  std::vector<BatchRow> Run(unsigned threads) {
    // Ctrl-C only sets a flag, which the console reads between waits; the
    // jobs' reads and writes go on, and their threads never take the signal.
    InterruptCatcher::Clear();
    const InterruptCatcher catcher(InterruptCatcher::Reads::kRestart);
    std::vector<std::thread> workers;
    {
      const InterruptsStayHere interrupts;
      for (unsigned i = 0; i < threads; ++i) workers.emplace_back([this] { Work(); });
    }
    shared_.console->Serve([this] { return finished_ == jobs_.size(); }, [this] { return Totals(); });
    for (std::thread& worker : workers) worker.join();
    return std::move(rows_);
  }

 private:
  enum : int { kWaiting = 0, kRunning = 1, kDone = 2 };

  void Work() {
    for (;;) {
      const std::size_t i = next_++;
      if (i >= jobs_.size()) return;
      if (!shared_.cancelled) {
        states_[i] = kRunning;
        rows_[i] = Guarded(i);
      }
      states_[i] = kDone;
      ++finished_;
      shared_.console->Wake();
    }
  }

  // A job that throws (memory ran out) fails alone.
  BatchRow Guarded(std::size_t i) {
    BatchRow failed;
    failed.state = BatchState::kFailed;
    try {
      return RunJob(jobs_[i], shared_, progress_[i]);
    } catch (const std::bad_alloc&) {
      failed.message = StatusMessage(StatusCode::kNoMemory).text;
    } catch (const std::exception& error) {
      failed.message = error.what();
    }
    return failed;
  }

  BatchTotals Totals() const {
    BatchTotals totals;
    totals.total = jobs_.size();
    totals.done = finished_;
    for (std::size_t i = 0; i < jobs_.size(); ++i) {
      totals.totalBytes += jobs_[i].size;
      const int state = states_[i];
      if (state == kDone) totals.doneBytes += jobs_[i].size;
      if (state == kRunning) {
        totals.doneBytes += jobs_[i].size * static_cast<std::uint64_t>(progress_[i].percent) / 100;
      }
    }
    return totals;
  }

  const std::vector<BatchJob>& jobs_;
  BatchShared& shared_;
  std::vector<BatchRow> rows_;
  std::unique_ptr<JobProgress[]> progress_;
  std::unique_ptr<std::atomic<int>[]> states_;
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> finished_{0};
};

bool Completed(const BatchRow& row) { return row.state == BatchState::kCompleted; }

// The patterns that took no entry of any backup that completed.
std::vector<std::string> UnmatchedEverywhere(const std::vector<BatchRow>& rows,
                                             const std::vector<std::string>& patterns) {
  std::vector<std::string> unmatched;
  if (std::none_of(rows.begin(), rows.end(), Completed)) return unmatched;
  for (const std::string& pattern : patterns) {
    const auto missed = [&](const BatchRow& row) {
      return !Completed(row) ||
             std::find(row.unmatched.begin(), row.unmatched.end(), pattern) != row.unmatched.end();
    };
    if (std::all_of(rows.begin(), rows.end(), missed)) unmatched.push_back(pattern);
  }
  return unmatched;
}

ExitCode Run(const Plan& plan) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> backups;
  if (!GatherBackups(plan, backups)) return ExitCode::kFailed;
  if (backups.empty()) {
    PrintNotice("no backups to take");
    return ExitCode::kFailed;
  }
  std::optional<PasswordFile> passwords;
  if (!plan.batch->passwordFile.empty()) {
    std::string error;
    passwords = PasswordFile::Read(plan.batch->passwordFile, error);
    if (!passwords) {
      PrintNotice(error);
      return ExitCode::kFailed;
    }
  }
  if (plan.command != BatchCommand::kVerify && !MakeFolder(plan.batch->outdir)) {
    PrintNotice("cannot make the folder " + EscapeName(plan.batch->outdir) + ": " + ErrorText(errno));
    return ExitCode::kFailed;
  }
  const std::vector<BatchJob> jobs = MakeJobs(plan, backups);

  BatchShared shared;
  shared.command = plan.command;
  shared.choice = plan.choice;
  shared.overwrite = plan.overwrite;
  shared.form = plan.form;
  shared.passwords = passwords ? &*passwords : nullptr;
  BatchConsole console(!plan.quiet && IsTerminal(kStderrFd), shared.cancelled);
  shared.console = &console;
  unsigned threads = plan.batch->jobs != 0 ? plan.batch->jobs : std::thread::hardware_concurrency();
  threads = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(jobs.size())));
  const std::vector<BatchRow> rows = Runner(jobs, shared).Run(threads);

  if (shared.cancelled) PrintNotice("interrupted; the files written before it are kept");
  const BatchReport report{plan.command, plan.batch->outdir, &jobs, &rows,
                           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
  Put(stdout, plan.json ? JsonText(report) : TableText(report));
  const std::vector<std::string> unmatched = UnmatchedEverywhere(rows, plan.choice.patterns);
  for (const std::string& pattern : unmatched)
    PrintNotice("no entry of any backup matches " + EscapeName(pattern));

  if (shared.cancelled) return ExitCode::kCancelled;
  return std::all_of(rows.begin(), rows.end(), Completed) && unmatched.empty() ? ExitCode::kCompleted
                                                                               : ExitCode::kFailed;
}

}  // namespace

std::shared_ptr<BatchOptions> AddExtractBatch(CLI::App& command, CLI::Option& folder) {
  auto batch = std::make_shared<BatchOptions>();
  CLI::Option* each = AddEach(command, batch, &folder);
  AddIncludes(command, *batch, each);
  command.add_flag("--json", batch->json, "With --each: print the table as one JSON object")->needs(each);
  return batch;
}

std::shared_ptr<BatchOptions> AddVerifyBatch(CLI::App& command) {
  auto batch = std::make_shared<BatchOptions>();
  CLI::Option* each = AddEach(command, batch, nullptr);
  AddIncludes(command, *batch, each);
  command.add_flag("--json", batch->json, "With --each: print the table as one JSON object")->needs(each);
  if (CLI::Option* salvage = command.get_option_no_throw("--salvage")) salvage->excludes(each);
  return batch;
}

std::shared_ptr<BatchOptions> AddSalvageBatch(CLI::App& command, CLI::Option& folder) {
  auto batch = std::make_shared<BatchOptions>();
  AddEach(command, batch, &folder);
  // The backups after the first two, which only --each takes.
  command.add_option("MORE", batch->more, "With --each: more backups (and DIR is one too)");
  return batch;
}

bool RunBatch(const ExtractOptions& options, const BatchOptions& batch, ExitCode& result) {
  if (!batch.each) return false;
  Plan plan{BatchCommand::kExtract, {options.backup}, &batch,    options.choice,
            options.overwrite,      options.quiet,    batch.json};
  if (!options.folder.empty()) plan.operands.push_back(options.folder);
  plan.operands.insert(plan.operands.end(), options.choice.patterns.begin(), options.choice.patterns.end());
  plan.choice.patterns = batch.includes;
  plan.form = options.form;
  if (!CanWrite(plan.form)) {
    result = ExitCode::kFailed;
    return true;
  }
  result = Run(plan);
  return true;
}

bool RunBatch(const InspectOptions& options, const BatchOptions& batch, ExitCode& result) {
  if (!batch.each) return false;
  Plan plan{BatchCommand::kVerify,
            {options.backup},
            &batch,
            options.choice,
            OverwritePolicy::kNever,
            false,
            batch.json};
  plan.operands.insert(plan.operands.end(), options.choice.patterns.begin(), options.choice.patterns.end());
  plan.choice.patterns = batch.includes;
  result = Run(plan);
  return true;
}

bool RunBatch(const SalvageOptions& options, const BatchOptions& batch, ExitCode& result) {
  if (!batch.each) {
    if (!batch.more.empty()) throw CLI::ExtrasError(batch.more);
    return false;
  }
  Plan plan{BatchCommand::kSalvage, {options.backup}, &batch,      {},
            options.overwrite,      options.quiet,    options.json};
  plan.choice.nameEncoding = options.nameEncoding;
  if (!options.folder.empty()) plan.operands.push_back(options.folder);
  plan.operands.insert(plan.operands.end(), batch.more.begin(), batch.more.end());
  result = Run(plan);
  return true;
}

}  // namespace larkspool::cli
