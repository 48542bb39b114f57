#include "cli/salvage_command.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/salvage_request.h"
#include "cli/console_output.h"
#include "cli/name_encoding.h"
#include "cli/name_escape.h"
#include "platform/file_system.h"

namespace larkspool::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string Shown(std::string_view name) { return EscapeName(name); }

std::string_view ResultName(RunResult result) {
  switch (result) {
    case RunResult::kCompleted:
      return "completed";
    case RunResult::kCancelled:
      return "cancelled";
    case RunResult::kFailed:
    case RunResult::kProgressWindowFailed:
      break;
  }
  return "failed";
}

Json ReportJson(const SalvageReport& report, const std::string& backup, RunResult result) {
  Json messages = Json::array();
  for (std::size_t i = 0; i < report.messages.size(); ++i) {
    const SalvagedMessage& message = report.messages[i];
    messages.push_back(
        Json{{"state", StateName(message.state)},
             {"name", message.storedName.empty() ? Json(nullptr) : Json(Shown(message.storedName))},
             {"file", message.outputName.empty() ? Json(nullptr) : Json(Shown(message.outputName))},
             {"offset", message.offset},
             {"saved", message.saved},
             {"size", message.declared},
             {"note", Shown(message.note)},
             {"kept_existing", i < report.kept.size() && report.kept[i]}});
  }
  Json damaged = Json::array();
  for (const DamagedRange& range : report.damaged) {
    damaged.push_back(Json{{"begin", range.begin},
                           {"end", range.end},
                           {"reason", Shown(range.reason)},
                           {"unreadable", range.unreadable}});
  }
  const std::int64_t unreadable = UnreadableBytes(report);
  return Json{{"backup", Shown(backup)},
              {"result", ResultName(result)},
              {"kind", static_cast<unsigned>(report.kind)},
              {"kind_assumed", report.kindAssumed},
              {"damaged", report.Damaged()},
              {"unreadable", unreadable > 0 || report.unreadable},
              {"unreadable_bytes", unreadable},
              {"complete", report.Count(SalvageState::kComplete)},
              {"partial", report.Count(SalvageState::kPartial)},
              {"unnamed", report.Count(SalvageState::kUnnamed)},
              {"lost", report.Count(SalvageState::kLost)},
              {"messages", messages},
              {"damaged_ranges", damaged}};
}

void PrintReport(const SalvageReport& report, const std::string& backup, RunResult result, bool json) {
  if (json) {
    Print(stdout, "%s\n", ReportJson(report, backup, result).dump().c_str());
  } else {
    Put(stdout, SalvageReportText(report, backup, Shown, result));
  }
}

// Salvage's exit code: a completed run fails when anything was damaged.
ExitCode Finish(RunResult result, const SalvageReport& report) {
  return result == RunResult::kCompleted && report.Damaged() ? ExitCode::kFailed : ToExitCode(result);
}

}  // namespace

ExitCode RunSalvage(const SalvageOptions& options) {
  TerminalUi ui(TerminalOptions{options.backup, options.quiet, options.passwordFromStdin, options.overwrite});
  Salvager salvager(NativeFileSystem(), ui);
  salvager.set_entry_options(NamingOptions(options.nameEncoding));
  SalvageReport report;
  // The core enters the folder before it opens the backup.
  const RunResult result = salvager.OnSalvage(AbsolutePath(options.backup), options.folder, report);
  // What was found is printed also after a fault or a cancel.
  if (salvager.scanned()) PrintReport(report, options.backup, result, options.json);
  return Finish(result, report);
}

ExitCode RunSalvageList(const InspectOptions& options) {
  TerminalUi ui(TerminalOptions{options.backup, false, options.passwordFromStdin, OverwritePolicy::kAsk});
  Salvager salvager(NativeFileSystem(), ui);
  salvager.set_entry_options(NamingOptions(options.choice.nameEncoding));
  SalvageReport report;
  const RunResult result = salvager.Inspect(options.backup, report);
  if (salvager.scanned()) PrintReport(report, options.backup, result, options.json);
  return Finish(result, report);
}

ExitCode RunSalvageVerify(const InspectOptions& options) {
  TerminalUi ui(TerminalOptions{options.backup, false, options.passwordFromStdin, OverwritePolicy::kAsk});
  Salvager salvager(NativeFileSystem(), ui);
  salvager.set_entry_options(NamingOptions(options.choice.nameEncoding));
  SalvageReport report;
  const RunResult result = salvager.Inspect(options.backup, report);
  if (salvager.scanned()) {
    const std::size_t saved = report.Count(SalvageState::kComplete) + report.Count(SalvageState::kPartial) +
                              report.Count(SalvageState::kUnnamed);
    std::string line = EscapeName(options.backup) + ": " + (report.Damaged() ? "damaged" : "OK") + ", " +
                       std::to_string(saved) + " of " + std::to_string(report.messages.size()) +
                       " messages can be saved (" + std::to_string(report.Count(SalvageState::kPartial)) +
                       " in part, " + std::to_string(report.Count(SalvageState::kUnnamed)) +
                       " without their names), " + std::to_string(report.damaged.size()) + " damaged ranges";
    if (const std::int64_t unreadable = UnreadableBytes(report); unreadable > 0) {
      line += ", " + std::to_string(unreadable) + " bytes cannot be read";
    }
    if (result != RunResult::kCompleted) line += std::string(" (") + std::string(ResultName(result)) + ")";
    Print(stdout, "%s\n", line.c_str());
  }
  return Finish(result, report);
}

}  // namespace larkspool::cli
