// The choice of the narrow code page, kept apart from the system calls that
// feed it so that every system can test it.
#pragma once

#include "device_api/win_types.h"

namespace hidlist {

// The code page the console channel converts wide text with, from the
// answer of GetVersion() and, where that answer is needed, the text that
// GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE) wrote into
// its 7-byte area (null when the call failed):
//  - NT family (top bit of version clear) with major version (low byte) 5 or
//    more: CP_THREAD_ACP;
//  - otherwise the locale text read as a decimal number: digits only, the
//    whole text, no sign or spaces, at most 4294967295; anything else is 0.
UINT ChooseNarrowCodePage(DWORD version, const char* locale_answer_or_null);

// True when version, as GetVersion() gives it, needs the locale's answer.
bool NeedsLocaleCodePage(DWORD version);

}  // namespace hidlist
