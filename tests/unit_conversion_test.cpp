#include "console/unit_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

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

// A strict decoder of one UTF-8 sequence: -1 for anything malformed,
// overlong or not exactly one sequence.
long DecodeOne(const std::string& bytes) {
  if (bytes.empty()) return -1;
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  std::size_t length;
  long value;
  if (byte(0) < 0x80) {
    length = 1;
    value = byte(0);
  } else if ((byte(0) & 0xE0) == 0xC0) {
    length = 2;
    value = byte(0) & 0x1F;
  } else if ((byte(0) & 0xF0) == 0xE0) {
    length = 3;
    value = byte(0) & 0x0F;
  } else {
    return -1;
  }
  if (bytes.size() != length) return -1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return -1;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  const long smallest[] = {0, 0, 0x80, 0x800};
  if (value < smallest[length]) return -1;
  if (value >= 0xD800 && value <= 0xDFFF) return -1;
  return value;
}

TEST(UnitConversionTest, KnownUnits) {
  EXPECT_EQ(Encode(u'\0'), std::string(1, '\0'));
  EXPECT_EQ(Encode(u'A'), "A");
  EXPECT_EQ(Encode(0x7F), "\x7F");
  EXPECT_EQ(Encode(0x80), "\xC2\x80");
  EXPECT_EQ(Encode(0xE9), "\xC3\xA9");  // é
  EXPECT_EQ(Encode(0x7FF), "\xDF\xBF");
  EXPECT_EQ(Encode(0x800), "\xE0\xA0\x80");
  EXPECT_EQ(Encode(0x20AC), "\xE2\x82\xAC");  // €
  EXPECT_EQ(Encode(0xD7FF), "\xED\x9F\xBF");
  EXPECT_EQ(Encode(0xE000), "\xEE\x80\x80");
  EXPECT_EQ(Encode(0xFFFD), "\xEF\xBF\xBD");
  EXPECT_EQ(Encode(0xFFFF), "\xEF\xBF\xBF");
}

TEST(UnitConversionTest, SurrogateHalvesBecomeReplacementCharacter) {
  for (char16_t unit : {char16_t(0xD800), char16_t(0xDBFF), char16_t(0xDC00), char16_t(0xDFFF),
                        char16_t(0xD83D), char16_t(0xDE00)}) {
    EXPECT_EQ(Encode(unit), "\xEF\xBF\xBD") << "unit " << std::hex << unsigned(unit);
  }
}

TEST(UnitConversionTest, EveryUnitIsShortestWellFormedUtf8) {
  for (std::uint32_t value = 0; value <= 0xFFFF; ++value) {
    auto unit = static_cast<char16_t>(value);
    bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    std::string bytes = Encode(unit);
    long expected = surrogate ? 0xFFFD : static_cast<long>(value);
    ASSERT_EQ(DecodeOne(bytes), expected) << "unit " << std::hex << value;
  }
}

}  // namespace
}  // namespace hidlist
