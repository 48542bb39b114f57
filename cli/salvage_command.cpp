#include "cli/salvage_command.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/salvage_request.h"
#include "cli/console_output.h"
#include "cli/name_escape.h"
#include "platform/file_system.h"

namespace larkspool::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string Shown(std::string_view name) { return EscapeName(name); }

Json ReportJson(const SalvageReport& report, const std::string& backup) {
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
             {"note", message.note},
             {"kept_existing", i < report.kept.size() && report.kept[i]}});
  }
  Json damaged = Json::array();
  for (const DamagedRange& range : report.damaged) {
    damaged.push_back(Json{{"begin", range.begin}, {"end", range.end}, {"reason", Shown(range.reason)}});
  }
  return Json{{"backup", Shown(backup)},
              {"kind", static_cast<unsigned>(report.kind)},
              {"kind_assumed", report.kindAssumed},
              {"damaged", report.Damaged()},
              {"complete", report.Count(SalvageState::kComplete)},
              {"partial", report.Count(SalvageState::kPartial)},
              {"unnamed", report.Count(SalvageState::kUnnamed)},
              {"lost", report.Count(SalvageState::kLost)},
              {"messages", messages},
              {"damaged_ranges", damaged}};
}

void PrintReport(const SalvageReport& report, const std::string& backup, bool json) {
  if (json) {
    Print(stdout, "%s\n", ReportJson(report, backup).dump().c_str());
  } else {
    Put(stdout, SalvageReportText(report, backup, Shown));
  }
}

// Salvage's exit code: a completed run fails when anything was damaged.
ExitCode Finish(RunResult result, const SalvageReport& report) {
  return result == RunResult::kCompleted && report.Damaged() ? ExitCode::kFailed : ToExitCode(result);
}

// What a salvage would save, writing nothing.
RunResult InspectForSalvage(const InspectOptions& options, SalvageReport& report) {
  TerminalUi ui(TerminalOptions{options.backup, false, options.passwordFromStdin, OverwritePolicy::kAsk});
  return Salvager(NativeFileSystem(), ui).Inspect(options.backup, report);
}

}  // namespace

ExitCode RunSalvage(const SalvageOptions& options) {
  TerminalUi ui(TerminalOptions{options.backup, options.quiet, options.passwordFromStdin, options.overwrite});
  Salvager salvager(NativeFileSystem(), ui);
  SalvageReport report;
  // The core enters the folder before it opens the backup.
  const RunResult result = salvager.OnSalvage(AbsolutePath(options.backup), options.folder, report);
  if (result == RunResult::kCompleted) PrintReport(report, options.backup, options.json);
  return Finish(result, report);
}

ExitCode RunSalvageList(const InspectOptions& options) {
  SalvageReport report;
  const RunResult result = InspectForSalvage(options, report);
  if (result == RunResult::kCompleted) PrintReport(report, options.backup, options.json);
  return Finish(result, report);
}

ExitCode RunSalvageVerify(const InspectOptions& options) {
  SalvageReport report;
  const RunResult result = InspectForSalvage(options, report);
  if (result == RunResult::kCompleted) {
    const std::size_t saved = report.Count(SalvageState::kComplete) + report.Count(SalvageState::kPartial) +
                              report.Count(SalvageState::kUnnamed);
    Print(stdout,
          "%s: %s, %zu of %zu messages can be saved (%zu in part, %zu without their names), %zu damaged "
          "ranges\n",
          EscapeName(options.backup).c_str(), report.Damaged() ? "damaged" : "OK", saved,
          report.messages.size(), report.Count(SalvageState::kPartial), report.Count(SalvageState::kUnnamed),
          report.damaged.size());
  }
  return Finish(result, report);
}

}  // namespace larkspool::cli
