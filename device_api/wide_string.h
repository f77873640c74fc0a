// UTF-16 strings as the HID string queries hand them over.
#pragma once

#include <string>
#include <string_view>

#include "vocabulary/win_types.h"

namespace hidlist {

// UTF-8 to UTF-16. Each byte of a malformed or overlong sequence, an encoded
// surrogate or a value above U+10FFFF becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Fills a caller's buffer of length bytes as the HID string queries do:
// at most length / 2 units of text, then the NUL only when it fits.
void FillWideBuffer(std::u16string_view text, void* buffer, ULONG length);

}  // namespace hidlist
