#include "tests/support/session.h"

#include <cctype>
#include <filesystem>

#include "app/extract_request.h"

namespace larkspool::testing {

std::vector<std::string> FaultText(StatusCode code) { return {StatusMessage(code).text}; }

std::vector<std::string> EndText(RunResult result) {
  if (result == RunResult::kCompleted) return {std::string(kCompletedText)};
  return {};
}

Clock TickingClock() {
  return [ticks = std::int64_t{0}]() mutable { return ++ticks; };
}

Session::Session() { std::filesystem::create_directory(folder); }

RunResult Session::Extract(const BackupBuilder& builder, FileSystem& files) {
  builder.WriteTo(backup);
  Extractor extractor(files, ui, TickingClock());
  extractor.set_payload_converter(converter);
  const RunResult result = extractor.OnExtract(backup, folder);
  doneBytes = extractor.run().progress().done_bytes();
  totalBytes = extractor.run().progress().total_bytes();
  if (std::filesystem::exists(backup)) {
    EXPECT_EQ(ReadFile(backup), builder.bytes()) << "the backup was changed";
  }
  return result;
}

std::string CaseName(std::string_view label) {
  std::string name;
  bool upper = true;
  for (const char c : label) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
      upper = true;
      continue;
    }
    name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
    upper = false;
  }
  return name;
}

}  // namespace larkspool::testing
