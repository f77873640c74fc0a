#include "console/fatal_report.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fake_console.h"

namespace hidlist {
namespace {

using testing::FakeConsole;
using Strings = std::vector<std::string>;

TEST(FatalReportFormat, LinesFullStopPositionAndCut) {
  EXPECT_EQ(FormatFatalReport("EInOutError", "hidlist.exe", 0x1A2B, "I/O error 232"),
            "Exception EInOutError in module hidlist.exe at 00001A2B.\r\nI/O error 232.\r\n");
  // A message that ends with a full stop gets no second one; an empty one none.
  EXPECT_EQ(FormatFatalReport("E", "m", 0xFFFFFFFFu, "Done."),
            "Exception E in module m at FFFFFFFF.\r\nDone.\r\n");
  EXPECT_EQ(FormatFatalReport("E", "m", 0, ""), "Exception E in module m at 00000000.\r\n\r\n");
  // A long report is cut at 1023 characters.
  const std::string report = FormatFatalReport("E", "m", 1, std::string(2000, 'x'));
  EXPECT_EQ(report.size(), 1023u);
  EXPECT_EQ(report.rfind("Exception E in module m at 00000001.\r\nxxx", 0), 0u);
  EXPECT_EQ(report.back(), 'x');
}

std::int32_t FailWith(ConsoleText& console) {
  console.CheckIo();
  return 0;
}

IoFailure RaiseFrom(ConsoleText& console) {
  try {
    FailWith(console);
  } catch (const IoFailure& failure) {
    return failure;
  }
  throw std::logic_error("no failure was pending");
}

TEST(ReportFatal, WritesOutStandardOutputFirstThenTheReportAndCrLf) {
  FakeConsole platform;
  platform.Output.FileType = FILE_TYPE_DISK;
  platform.Module = {"hidlist", 0x2F10};
  ConsoleText console(platform);
  console.WriteText("printed before\r\n");
  platform.InputHandleGiven = INVALID_HANDLE_VALUE;
  console.ReadLine();  // 104 pending
  const IoFailure failure = RaiseFrom(console);
  platform.Calls.clear();

  EXPECT_EQ(
      ReportFatal({IoFailure::ClassName, failure.Message(), failure.Position()}, console, platform),
      1);
  EXPECT_EQ(platform.Output.Writes, (Strings{"printed before\r\n"}));
  EXPECT_EQ(platform.Error.Writes,
            (Strings{"Exception EInOutError in module hidlist at 00002F10.\r\nI/O error 104.\r\n",
                     "\r\n"}));
  EXPECT_EQ(platform.LocatedPositions, (std::vector<const void*>{failure.Position()}));
  EXPECT_EQ(platform.OemConversions, 1);
  // Standard output is written out before standard error is even asked for.
  EXPECT_EQ(platform.Calls, (Strings{"WriteFile(out,16)", "GetStdHandle(-12)", "WriteFile(err,70)",
                                     "WriteFile(err,2)"}));
}

TEST(ReportFatal, FailedWriteOutReplacesTheFirstFailure) {
  FakeConsole platform;
  platform.Output.FileType = FILE_TYPE_PIPE;
  platform.Output.FailWriteAt = 0;
  platform.Output.FailEveryWriteAfter = true;
  platform.Output.WriteError = ERROR_DISK_FULL;
  ConsoleText console(platform);
  console.WriteText("buffered");
  platform.InputHandleGiven = INVALID_HANDLE_VALUE;
  console.ReadLine();
  const IoFailure first = RaiseFrom(console);

  EXPECT_EQ(
      ReportFatal({IoFailure::ClassName, first.Message(), first.Position()}, console, platform), 1);
  ASSERT_EQ(platform.Error.Writes.size(), 2u);
  EXPECT_EQ(platform.Error.Writes[0].substr(platform.Error.Writes[0].find("\r\n")),
            "\r\nI/O error 112.\r\n");
  // One failed write-out; the second pass had nothing left to write.
  EXPECT_EQ(platform.Output.Writes.size(), 1u);
  ASSERT_EQ(platform.LocatedPositions.size(), 2u);
  EXPECT_NE(platform.LocatedPositions[1], first.Position());
  EXPECT_NE(platform.LocatedPositions[1], nullptr);
}

TEST(ReportFatal, ReportWriteFailuresAreIgnored) {
  FakeConsole platform;
  platform.Error.FailWriteAt = 0;
  platform.Error.FailEveryWriteAfter = true;
  ConsoleText console(platform);
  EXPECT_EQ(ReportFatal({"E", "m", nullptr}, console, platform), 1);
  EXPECT_EQ(platform.Error.Writes.size(), 2u);
}

TEST(RunGuarded, NormalEndWritesOutAndGivesZero) {
  FakeConsole platform;
  platform.Output.FileType = FILE_TYPE_DISK;
  ConsoleText console(platform);
  EXPECT_EQ(RunGuarded(console, platform, [&] { console.WriteText("done\r\n"); }), 0);
  EXPECT_EQ(platform.Output.Writes, (Strings{"done\r\n"}));
  EXPECT_TRUE(platform.Error.Writes.empty());
}

TEST(RunGuarded, FailureOfTheLastWriteOutIsReportedNotLost) {
  FakeConsole platform;
  platform.Output.FileType = FILE_TYPE_PIPE;
  platform.Output.FailWriteAt = 0;
  platform.Output.WriteError = ERROR_NO_DATA;
  ConsoleText console(platform);
  EXPECT_EQ(RunGuarded(console, platform, [&] { console.WriteText("short\r\n"); }), 1);
  ASSERT_FALSE(platform.Error.Writes.empty());
  EXPECT_NE(platform.Error.Writes[0].find("\r\nI/O error 232.\r\n"), std::string::npos);
}

TEST(RunGuarded, OtherFailuresAreReportedWithTheirClassAndMessage) {
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[] { throw std::runtime_error("went wrong"); },
       "Exception std::runtime_error in module hidlist at 00001234.\r\nwent wrong.\r\n"},
      {[] { throw 7; },
       "Exception Exception in module hidlist at 00001234.\r\nUnknown exception.\r\n"},
  };
  for (const auto& [run, report] : cases) {
    FakeConsole platform;
    ConsoleText console(platform);
    EXPECT_EQ(RunGuarded(console, platform, run), 1);
    EXPECT_EQ(platform.Error.Writes, (Strings{report, "\r\n"}));
  }
}

TEST(RunGuarded, AnAttachedDebuggerTakesTheFailure) {
  FakeConsole platform;
  platform.DebuggerPresent = true;
  ConsoleText console(platform);
  EXPECT_THROW(RunGuarded(console, platform, [] { throw std::runtime_error("x"); }),
               std::runtime_error);
  EXPECT_TRUE(platform.Error.Writes.empty());
}

}  // namespace
}  // namespace hidlist
