#include "console/unit_conversion.h"

namespace hidlist {

namespace {

constexpr char16_t ReplacementCharacter = 0xFFFD;

constexpr bool IsSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

}  // namespace

int EncodeUnitAsUtf8(char16_t unit, char* out) {
  if (IsSurrogate(unit)) unit = ReplacementCharacter;
  if (unit < 0x80) {
    out[0] = static_cast<char>(unit);
    return 1;
  }
  if (unit < 0x800) {
    out[0] = static_cast<char>(0xC0 | (unit >> 6));
    out[1] = static_cast<char>(0x80 | (unit & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | (unit >> 12));
  out[1] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (unit & 0x3F));
  return 3;
}

}  // namespace hidlist
