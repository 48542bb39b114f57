#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "archive/extraction_run.h"
#include "progress/progress_reporter.h"
#include "tests/support/fake_ui.h"

namespace larkspool::testing {
namespace {

TEST(PercentTest, DividesFirstAndShowsNinetyNineAsHundred) {
  struct Case {
    std::uint64_t done;
    std::int64_t total;
    int percent;
  };
  const Case cases[] = {{0, 100, 0},    {29, 100, 28},   {57, 100, 56}, {58, 100, 57}, {98, 100, 98},
                        {99, 100, 100}, {100, 100, 100}, {1, 3, 33},    {0, 0, 0},     {5000, 10000, 50}};
  for (const Case& c : cases) {
    EXPECT_EQ(ComputePercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
  }
  EXPECT_EQ(FormatPercent(37), "37%");
}

TEST(ElapsedTest, ShowsHoursMinutesSecondsWithoutDays) {
  EXPECT_EQ(FormatElapsed(0), "Elapsed Time: 00:00:00");
  EXPECT_EQ(FormatElapsed(3725), "Elapsed Time: 01:02:05");
  EXPECT_EQ(FormatElapsed(90061), "Elapsed Time: 01:01:01");
  EXPECT_EQ(FormatElapsed(86399), "Elapsed Time: 23:59:59");
}

TEST(ProgressLinesTest, FileLineKeepsTheTextAfterTheLastSeparator) {
  EXPECT_EQ(FileLine("C:\\Backups\\box01.bkp"), "Backup File: box01.bkp");
  EXPECT_EQ(FileLine("box01.bkp"), "Backup File: box01.bkp");
#ifdef _WIN32
  // On Windows the line cuts at the backslash alone.
  EXPECT_EQ(FileLine("C:/Backups/box01.bkp"), "Backup File: C:/Backups/box01.bkp");
#else
  EXPECT_EQ(FileLine("/home/u/box01.bkp"), "Backup File: box01.bkp");
#endif
  EXPECT_EQ(FileLine("a/b\\box01.bkp"), "Backup File: box01.bkp");
  EXPECT_EQ(FileLine("dir\\"), "Backup File: ");
}

TEST(ProgressLinesTest, DateLineShowsLocalTime) {
  std::tm local{};
  local.tm_year = 106;
  local.tm_mon = 0;
  local.tm_mday = 9;
  local.tm_hour = 14;
  local.tm_min = 5;
  local.tm_sec = 59;
  local.tm_isdst = -1;
  EXPECT_EQ(DateLine(static_cast<std::int64_t>(std::mktime(&local))), "Date: 01/09/2006 14:05");
}

// Whatever would leave the screen as it is never reaches the front end.
TEST(ProgressReporterTest, PassesOnlyChangesToTheDisplay) {
  FakeUi ui;
  std::int64_t now = 500;
  ProgressReporter progress(ui, [&now] { return now; });
  progress.MarkStart();
  progress.SetTotal(1000);
  progress.AddDone(5);
  progress.UpdatePercent();  // still 0
  progress.UpdateElapsed();  // still 0 s
  progress.AddDone(5);
  progress.UpdatePercent();
  progress.UpdatePercent();
  now = 502;
  progress.UpdateElapsed();
  progress.UpdateElapsed();
  progress.AddDone(990);
  progress.UpdatePercent();
  EXPECT_EQ(ui.events,
            (std::vector<std::string>{"percent:1", "elapsed:Elapsed Time: 00:00:02", "percent:100"}));
  EXPECT_EQ(progress.done_bytes(), 1000u);
}

}  // namespace
}  // namespace larkspool::testing
