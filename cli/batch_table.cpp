#include "cli/batch_table.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/name_escape.h"

namespace larkspool::cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kSalvageHint = "the backup is damaged: salvage saves what can still be read";

std::string KindText(const BatchRow& row) {
  return row.kind ? std::to_string(static_cast<unsigned>(*row.kind)) : "-";
}

std::size_t Count(const BatchReport& report, BatchState state) {
  return static_cast<std::size_t>(std::count_if(report.rows->begin(), report.rows->end(),
                                                [state](const BatchRow& row) { return row.state == state; }));
}

struct Totals {
  std::uint64_t messages = 0;
  std::uint64_t bytes = 0;
};

Totals Sum(const BatchReport& report) {
  Totals totals;
  for (const BatchRow& row : *report.rows) {
    totals.messages += row.messages;
    totals.bytes += row.bytes;
  }
  return totals;
}

constexpr BatchState kStates[] = {BatchState::kCompleted, BatchState::kDamaged,   BatchState::kFailed,
                                  BatchState::kSkipped,   BatchState::kCancelled, BatchState::kNotStarted};

}  // namespace

std::string_view StateName(BatchState state) {
  switch (state) {
    case BatchState::kCompleted:
      return "completed";
    case BatchState::kDamaged:
      return "damaged";
    case BatchState::kFailed:
      return "failed";
    case BatchState::kSkipped:
      return "skipped";
    case BatchState::kCancelled:
      return "cancelled";
    case BatchState::kNotStarted:
      return "not started";
  }
  return "failed";
}

std::string RowMessage(const BatchRow& row) {
  if (row.state == BatchState::kNotStarted) return "the batch was cancelled first";
  std::string text = row.message;
  if (row.damaged) text += "; " + std::string(kSalvageHint);
  return text;
}

std::string TableText(const BatchReport& report) {
  const bool folders = report.command != BatchCommand::kVerify;
  std::vector<std::vector<std::string>> cells;
  cells.push_back({"BACKUP", "FOLDER", "KIND", "MESSAGES", "BYTES", "STATUS", "MESSAGE"});
  for (std::size_t i = 0; i < report.rows->size(); ++i) {
    const BatchRow& row = (*report.rows)[i];
    const BatchJob& job = (*report.jobs)[i];
    cells.push_back({EscapeName(job.backup), row.folderMade ? EscapeName(job.folderName) : "-", KindText(row),
                     std::to_string(row.messages), std::to_string(row.bytes),
                     std::string(StateName(row.state)), RowMessage(row)});
  }
  // Columns padded to their widest cell (in bytes: names are mostly ASCII),
  // numbers to the right; the message, last, is not padded.
  std::vector<std::size_t> widths(7, 0);
  for (const auto& line : cells) {
    for (std::size_t c = 0; c + 1 < line.size(); ++c) widths[c] = std::max(widths[c], line[c].size());
  }
  std::string text;
  for (const auto& line : cells) {
    for (std::size_t c = 0; c < line.size(); ++c) {
      if (c == 1 && !folders) continue;
      const std::string& cell = line[c];
      if (c + 1 == line.size()) {
        text += cell;
      } else {
        const std::string pad(widths[c] - cell.size(), ' ');
        text += (c >= 2 && c <= 4) ? pad + cell : cell + pad;
        text += "  ";
      }
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    text += "\n";
  }
  const Totals totals = Sum(report);
  const std::size_t backups = report.rows->size();
  text += std::to_string(backups) + (backups == 1 ? " backup" : " backups") + ":";
  bool first = true;
  for (const BatchState state : kStates) {
    const std::size_t count = Count(report, state);
    if (count == 0 && state != BatchState::kCompleted) continue;
    text += (first ? " " : ", ") + std::to_string(count) + " " + std::string(StateName(state));
    first = false;
  }
  text += "; " + std::to_string(totals.messages) + " messages, " + std::to_string(totals.bytes) + " bytes\n";
  return text;
}

std::string JsonText(const BatchReport& report) {
  Json backups = Json::array();
  for (std::size_t i = 0; i < report.rows->size(); ++i) {
    const BatchRow& row = (*report.rows)[i];
    const BatchJob& job = (*report.jobs)[i];
    Json item{{"backup", EscapeName(job.backup)}};
    if (report.command != BatchCommand::kVerify) {
      item["folder"] = row.folderMade ? Json(EscapeName(job.folder)) : Json(nullptr);
    }
    item["kind"] = row.kind ? Json(static_cast<unsigned>(*row.kind)) : Json(nullptr);
    item["protected"] = row.passwordProtected;
    item["status"] = StateName(row.state);
    item["messages"] = row.messages;
    item["bytes"] = row.bytes;
    item["message"] = row.state == BatchState::kNotStarted ? RowMessage(row) : row.message;
    item["damaged"] = row.damaged;
    item["hint"] = row.damaged ? Json(kSalvageHint) : Json(nullptr);
    if (row.salvage) {
      item["complete"] = row.salvage->complete;
      item["partial"] = row.salvage->partial;
      item["unnamed"] = row.salvage->unnamed;
      item["lost"] = row.salvage->lost;
    }
    backups.push_back(std::move(item));
  }
  const Totals totals = Sum(report);
  Json counts{{"backups", report.rows->size()}};
  for (const BatchState state : kStates) {
    std::string key(StateName(state));
    std::replace(key.begin(), key.end(), ' ', '_');
    counts[key] = Count(report, state);
  }
  counts["messages"] = totals.messages;
  counts["bytes"] = totals.bytes;
  counts["seconds"] = report.seconds;
  static constexpr const char* kCommands[] = {"extract", "verify", "salvage"};
  Json out{{"command", kCommands[static_cast<int>(report.command)]}};
  if (report.command != BatchCommand::kVerify) out["outdir"] = EscapeName(report.outdir);
  out["backups"] = std::move(backups);
  out["totals"] = std::move(counts);
  return out.dump() + "\n";
}

}  // namespace larkspool::cli
