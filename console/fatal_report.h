// The report of a failure that ends the run: one block of text on standard
// error, then exit status 1.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "console/console_platform.h"
#include "console/console_text.h"

namespace hidlist {

// A failure that left the run.
struct FatalFailure {
  std::string ClassName;
  std::string Message;
  const void* Position = nullptr;  // where it arose; null when unknown
};

// The report buffer holds 1023 characters and the NUL; longer reports are cut.
inline constexpr std::size_t ReportBufferSize = 1024;

// "Exception <class> in module <module> at <offset>.\r\n<message>[.]\r\n",
// cut to 1023 characters. The full stop after the message is added when the
// message is not empty and does not end with one already.
std::string FormatFatalReport(const std::string& class_name, const std::string& module,
                              std::uint32_t offset, const std::string& message);

// Writes out standard output's buffer, then the report and CR LF to standard
// error, and returns the exit status, 1. When the write-out fails, that
// failure is reported in place of the first.
int ReportFatal(FatalFailure failure, ConsoleText& console, ConsolePlatform& platform);

// Runs the listing under the fatal-failure handler and returns the exit
// status: 0 when it ends normally and the output buffer has been written
// out; 1 after any failure that left it, or a failure of that last write,
// reported. A debugger that is attached is left to take the failure itself.
int RunGuarded(ConsoleText& console, ConsolePlatform& platform, const std::function<void()>& run);

}  // namespace hidlist
