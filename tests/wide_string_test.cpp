#include "device_api/wide_string.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace hidlist {
namespace {

TEST(Utf8ToUtf16, ConvertsWellFormedTextAndReplacesEachBadByte) {
  using namespace std::string_view_literals;
  struct Case {
    std::string_view Utf8;
    std::u16string_view Utf16;
  };
  const Case cases[] = {
      {""sv, u""sv},
      {"a\0b"sv, u"a\0b"sv},
      {"Caf\xC3\xA9"sv, u"Caf\u00E9"sv},
      {"\xE2\x82\xAC"sv, u"\u20AC"sv},
      {"\xED\x9F\xBF"sv, u"\uD7FF"sv},  // last before the surrogates
      {"\xEE\x80\x80"sv, u"\uE000"sv},  // first after them
      {"\xF0\x90\x80\x80"sv, u"\xD800\xDC00"sv},
      {"\xF4\x8F\xBF\xBF"sv, u"\xDBFF\xDFFF"sv},
      // Above U+10FFFF.
      {"\xF4\x90\x80\x80"sv, u"\uFFFD\uFFFD\uFFFD\uFFFD"sv},
      {"\xF8\x88\x80\x80\x80"sv, u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"sv},
      // Encoded surrogates, alone and as a pair.
      {"\xED\xA0\x80"sv, u"\uFFFD\uFFFD\uFFFD"sv},
      {"\xED\xA0\xBD\xED\xB8\x80"sv, u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"sv},
      // Overlong forms.
      {"\xC0\xAF"sv, u"\uFFFD\uFFFD"sv},
      {"\xC1\xBF"sv, u"\uFFFD\uFFFD"sv},
      {"\xE0\x80\xAF"sv, u"\uFFFD\uFFFD\uFFFD"sv},
      {"\xF0\x8F\xBF\xBF"sv, u"\uFFFD\uFFFD\uFFFD\uFFFD"sv},
      // Stray continuation bytes and bytes that never start a sequence.
      {"a\xBF"
       "b"sv,
       u"a\uFFFDb"sv},
      {"\xFE\xFF"sv, u"\uFFFD\uFFFD"sv},
      // Sequences cut short, at the end and before other text.
      {"\xE2\x82"sv, u"\uFFFD\uFFFD"sv},
      {"\xF0\x9F\x98"sv, u"\uFFFD\uFFFD\uFFFD"sv},
      {"\xE2\x82"
       "A\xC3\xA9"sv,
       u"\uFFFD\uFFFDA\u00E9"sv},
      {"\xC3\xC3\xA9"sv, u"\uFFFD\u00E9"sv},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(test.Utf8)));
    EXPECT_EQ(Utf8ToUtf16(test.Utf8), std::u16string(test.Utf16));
  }
}

TEST(FillWideBuffer, WritesWholeUnitsAndTheNulOnlyWhenTheyFit) {
  constexpr unsigned char Sentinel = 0xA5;
  struct Case {
    std::u16string_view Text;
    ULONG Length;
    std::size_t Units;  // units of Text written
    bool Nul;
  };
  const Case cases[] = {
      {u"ABC", 0, 0, false},
      {u"ABC", 1, 0, false},
      {u"ABC", 2, 1, false},
      {u"ABC", 6, 3, false},
      {u"ABC", 7, 3, false},
      {u"ABC", 8, 3, true},
      {u"", 1, 0, false},
      {u"", 2, 0, true},
      // A pair cut by the length keeps its first half, as Windows does.
      {u"\xD83D\xDE00", 2, 1, false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE("length " + std::to_string(test.Length) + ", " + std::to_string(test.Text.size()) +
                 " units");
    // One byte in, so that the buffer is not aligned for char16_t.
    std::array<unsigned char, 32> actual;
    actual.fill(Sentinel);
    FillWideBuffer(test.Text, actual.data() + 1, test.Length);

    std::array<unsigned char, 32> expected;
    expected.fill(Sentinel);
    std::memcpy(expected.data() + 1, test.Text.data(), test.Units * 2);
    if (test.Nul) std::memset(expected.data() + 1 + test.Units * 2, 0, 2);
    EXPECT_EQ(actual, expected);
  }
}

TEST(FillWideBuffer, AcceptsNoBufferForLengthZero) { FillWideBuffer(u"ABC", nullptr, 0); }

}  // namespace
}  // namespace hidlist
