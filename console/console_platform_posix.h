// The POSIX console layer, beyond the ConsolePlatform interface: a way to
// make the layer over chosen descriptors, for tests.
#pragma once

#include <memory>
#include <string>

#include "console/console_platform.h"
#include "device_api/win_types.h"

namespace hidlist {

struct PosixConsoleOptions {
  int InputFd = 0;
  int OutputFd = 1;
  int ErrorFd = 2;
  // The narrow character set; empty means nl_langinfo(CODESET).
  std::string Charset;
};

// The handle that stands for descriptor fd, which need not be open.
HANDLE HandleFromDescriptor(int fd);

// The layer over the given descriptors, which it takes as they are: unlike
// OpenConsolePlatform it fills no closed standard slot. Ignores SIGPIPE.
std::unique_ptr<ConsolePlatform> OpenPosixConsolePlatform(const PosixConsoleOptions& options);

}  // namespace hidlist
