// What the extraction tests share: one extraction into a scratch folder with
// a scripted user, the texts a run ends with, clocks, and names for the cases
// of parameterised tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "archive/payload.h"
#include "base/outcome.h"
#include "builder/backup_builder.h"
#include "platform/file_system.h"
#include "progress/progress_reporter.h"
#include "tests/support/fake_ui.h"
#include "tests/support/scratch_dir.h"

namespace larkspool::testing {

using Files = std::map<std::string, Bytes>;

// What stands in the folder before a run, where a test needs a file there.
inline const Bytes kOld = {'o', 'l', 'd'};

// The one message of a fault.
std::vector<std::string> FaultText(StatusCode code);
// The messages a run ends with: "Extraction completed." or none.
std::vector<std::string> EndText(RunResult result);

// A clock that moves on by a second whenever it is read.
Clock TickingClock();

// One extraction into scratch/out. The backup lies beside the folder, so the
// folder holds exactly what the run wrote.
struct Session {
  ScratchDir scratch;
  std::string backup = scratch / "box.bkp";
  std::string folder = scratch / "out";
  FakeUi ui;
  std::uint64_t doneBytes = 0;
  std::int64_t totalBytes = 0;
  PayloadConverter converter;  // how payloads are written; unset, as stored

  Session();
  // Writes the backup and extracts it with a ticking clock; afterwards the
  // backup, unless the test removed it, must be unchanged.
  RunResult Extract(const BackupBuilder& builder, FileSystem& files = NativeFileSystem());
  Files Output() const { return FilesIn(folder); }
  // Puts a file holding kOld into the folder.
  void Put(const std::string& name) const { WriteFile(folder + "/" + name, kOld); }
};

// "payload past the end" -> "PayloadPastTheEnd": a test name from a label.
std::string CaseName(std::string_view label);

// Names the cases of a parameterised test after their `label`.
struct ByLabel {
  template <typename Param>
  std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
    return CaseName(info.param.label);
  }
};

// Prints a case by its label in the test's output.
template <typename Case>
requires requires(const Case& c) { std::string_view(c.label); }
void PrintTo(const Case& c, std::ostream* out) { *out << c.label; }

}  // namespace larkspool::testing
