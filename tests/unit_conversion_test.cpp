#include "console/unit_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

namespace hidlist {
namespace {

// The bytes EncodeUnitAsUtf8 gives for unit, checking that it writes no more
// than it reports.
std::string Encode(char16_t unit) {
  char out[MaxUtf8BytesPerUnit + 2];
  std::fill(std::begin(out), std::end(out), '\x5A');
  int length = EncodeUnitAsUtf8(unit, out);
  EXPECT_GE(length, 1);
  EXPECT_LE(length, MaxUtf8BytesPerUnit);
  if (length < 1 || length > MaxUtf8BytesPerUnit) return std::string();
  for (int i = length; i < MaxUtf8BytesPerUnit + 2; ++i) {
    EXPECT_EQ(out[i], '\x5A') << "byte " << i << " written past the reported length";
  }
  return std::string(out, static_cast<std::size_t>(length));
}

// Each boundary of the 1-, 2- and 3-byte forms and of the surrogate range.
TEST(UnitConversionTest, UnitsAtEveryBoundary) {
  const std::pair<char16_t, std::string> cases[] = {
      {u'\0', std::string(1, '\0')},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xD7FF, "\xED\x9F\xBF"},
      // A surrogate half by itself is U+FFFD.
      {0xD800, "\xEF\xBF\xBD"},
      {0xDBFF, "\xEF\xBF\xBD"},
      {0xDC00, "\xEF\xBF\xBD"},
      {0xDFFF, "\xEF\xBF\xBD"},
      {0xE000, "\xEE\x80\x80"},
      {0xFFFF, "\xEF\xBF\xBF"},
  };
  for (const auto& [unit, bytes] : cases) {
    EXPECT_EQ(Encode(unit), bytes) << "unit " << std::hex << unsigned(unit);
  }
}

}  // namespace
}  // namespace hidlist
