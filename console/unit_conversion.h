// UTF-16 code units to narrow text, one unit at a time, as the console
// channel hands them over.
#pragma once

namespace hidlist {

// The most bytes EncodeUnitAsUtf8 writes for one unit.
inline constexpr int MaxUtf8BytesPerUnit = 3;

// Writes the UTF-8 form of one UTF-16 unit taken by itself to out (room for
// MaxUtf8BytesPerUnit bytes) and returns the number of bytes written, 1 to 3.
// A surrogate half can never be completed by a later unit here, so it becomes
// U+FFFD, as WideCharToMultiByte(CP_UTF8) does with a lone half.
int EncodeUnitAsUtf8(char16_t unit, char* out);

}  // namespace hidlist
