// How a batch ended: a table with a row per backup and the totals, or the
// same as one JSON object.
#pragma once

#include <string>
#include <vector>

#include "cli/batch_job.h"

namespace larkspool::cli {

struct BatchReport {
  BatchCommand command = BatchCommand::kExtract;
  std::string outdir;  // empty for verify
  const std::vector<BatchJob>* jobs = nullptr;
  const std::vector<BatchRow>* rows = nullptr;  // one a job, in the same order
  double seconds = 0;
};

// "completed", "damaged", "failed", "skipped", "cancelled", "not started"
std::string_view StateName(BatchState state);
// What a row's MESSAGE column says: its message, and for a backup that
// stopped at damage the hint to salvage it.
std::string RowMessage(const BatchRow& row);

std::string TableText(const BatchReport& report);
std::string JsonText(const BatchReport& report);

}  // namespace larkspool::cli
