// Windows error codes for errno values, so that the POSIX backends report
// the same codes, and the channel the same messages, as Windows does.
#pragma once

#include "device_api/win_types.h"

namespace hidlist {

// The Windows error code that means the same as errno value err;
// ERROR_GEN_FAILURE for values without one.
DWORD WindowsErrorFromErrno(int err);

}  // namespace hidlist
