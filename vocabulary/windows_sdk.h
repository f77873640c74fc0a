// <windows.h> as the Windows backend files include it, and only they do:
// after the project's headers, because windows.h defines several of their
// names as macros with the same values, which then take over for the rest of
// the file.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
