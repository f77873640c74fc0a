// The report of a failure that ends the run: one block of text on standard
// error, then exit status 1.
#pragma once

#include <functional>
#include <string>

#include "console/console_platform.h"
#include "console/console_text.h"

namespace hidlist {

// Runs the listing under the fatal-failure handler and returns the exit
// status: 0 when it ends normally and the output buffer has been written
// out; 1 after any failure that left it, or a failure of that last write,
// reported. A debugger that is attached is left to take the failure itself.
//
// The report goes to standard error after standard output's buffer has been
// written out: "Exception <class> in module <module> at <offset>.\r\n
// <message>[.]\r\n", then CR LF. A full stop follows a message that is not
// empty and does not end with one already. When the write-out fails, that
// failure is reported in place of the first.
int RunGuarded(ConsoleText& console, ConsolePlatform& platform, const std::function<void()>& run);

}  // namespace hidlist
