#include "cli/salvage_command.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <system_error>

#include "app/salvage_request.h"
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
    std::printf("%s\n", ReportJson(report, backup).dump().c_str());
  } else {
    std::fputs(SalvageReportText(report, backup, Shown).c_str(), stdout);
  }
}

ExitCode Finish(RunResult result, const SalvageReport& report) {
  switch (result) {
    case RunResult::kCompleted:
      return report.Damaged() ? ExitCode::kFailed : ExitCode::kCompleted;
    case RunResult::kCancelled:
      return ExitCode::kCancelled;
    case RunResult::kFailed:
    case RunResult::kProgressWindowFailed:
      break;
  }
  return ExitCode::kFailed;
}

// The core enters the folder before it opens the backup.
std::string AbsoluteFromHere(const std::string& path) {
  if (path.empty()) return path;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.string();
}

}  // namespace

void SetupSalvage(CLI::App& app, ExitCode& result) {
  auto options = std::make_shared<SalvageOptions>();
  CLI::App* command = app.add_subcommand(
      "salvage",
      "Save every voice message a damaged BACKUP still holds into DIR, and report what was damaged");
  command->add_option("BACKUP", options->backup, "The backup file (.bkp)")->required();
  command->add_option("DIR", options->folder, "The folder to save into; it must exist")->required();
  command->add_flag("--password-stdin", options->passwordFromStdin,
                    "Read the mailbox password from the first line of standard input");
  command
      ->add_option_function<std::string>(
          "--overwrite",
          [options](const std::string& value) {
            options->overwrite = value == "all"     ? OverwritePolicy::kAll
                                 : value == "never" ? OverwritePolicy::kNever
                                                    : OverwritePolicy::kAsk;
          },
          "When a file exists: ask (needs a terminal), all (replace), never (keep); default ask")
      ->check(CLI::IsMember({"ask", "all", "never"}));
  command->add_flag("-q,--quiet", options->quiet, "Print no progress");
  command->add_flag("--json", options->json, "Print the report as one JSON object");
  command->callback([options, &result] { result = RunSalvage(*options); });
}

ExitCode RunSalvage(const SalvageOptions& options) {
  TerminalUi ui(TerminalOptions{options.backup, options.quiet, options.passwordFromStdin, options.overwrite});
  Salvager salvager(NativeFileSystem(), ui);
  SalvageReport report;
  const RunResult result = salvager.OnSalvage(AbsoluteFromHere(options.backup), options.folder, report);
  if (result == RunResult::kCompleted) PrintReport(report, options.backup, options.json);
  return Finish(result, report);
}

ExitCode RunSalvageList(const InspectOptions& options) {
  TerminalUi ui(TerminalOptions{options.backup, false, options.passwordFromStdin, OverwritePolicy::kAsk});
  Salvager salvager(NativeFileSystem(), ui);
  SalvageReport report;
  const RunResult result = salvager.Inspect(options.backup, report);
  if (result == RunResult::kCompleted) PrintReport(report, options.backup, options.json);
  return Finish(result, report);
}

ExitCode RunSalvageVerify(const InspectOptions& options) {
  TerminalUi ui(TerminalOptions{options.backup, false, options.passwordFromStdin, OverwritePolicy::kAsk});
  Salvager salvager(NativeFileSystem(), ui);
  SalvageReport report;
  const RunResult result = salvager.Inspect(options.backup, report);
  if (result == RunResult::kCompleted) {
    const std::size_t saved = report.Count(SalvageState::kComplete) + report.Count(SalvageState::kPartial) +
                              report.Count(SalvageState::kUnnamed);
    std::printf(
        "%s: %s, %zu of %zu messages can be saved (%zu in part, %zu without their names), %zu damaged "
        "ranges\n",
        EscapeName(options.backup).c_str(), report.Damaged() ? "damaged" : "OK", saved,
        report.messages.size(), report.Count(SalvageState::kPartial), report.Count(SalvageState::kUnnamed),
        report.damaged.size());
  }
  return Finish(result, report);
}

}  // namespace larkspool::cli
