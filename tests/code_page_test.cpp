#include "console/code_page.h"

#include <gtest/gtest.h>

#include "console/console_platform.h"

namespace hidlist {
namespace {

// GetVersion() answers as the systems give them: low byte major, next byte
// minor, top bit set outside the NT family.
constexpr DWORD WindowsXp = 0x0A280105;     // NT 5.1, build 2600
constexpr DWORD Windows2000 = 0x08930005;   // NT 5.0, build 2195
constexpr DWORD Windows8 = 0x23F00206;      // NT 6.2, what newer systems report too
constexpr DWORD WindowsNt4 = 0x05650004;    // NT 4.0, build 1381
constexpr DWORD WindowsNt351 = 0x04213303;  // NT 3.51, build 1057
constexpr DWORD Windows98 = 0xC0000A04;     // 4.10, top bit set
constexpr DWORD WindowsMe = 0xC0005A04;     // 4.90, top bit set
constexpr DWORD NotNtMajor5 = 0x80000005;   // top bit set, major 5: still not NT

TEST(ChooseNarrowCodePage, NtFromMajorVersion5TakesTheThreadCodePageOthersTheLocale) {
  for (DWORD version : {Windows2000, WindowsXp, Windows8, DWORD{0x000000FF}}) {
    SCOPED_TRACE(version);
    EXPECT_FALSE(NeedsLocaleCodePage(version));
    // The locale's answer plays no part then.
    EXPECT_EQ(ChooseNarrowCodePage(version, "1252"), CP_THREAD_ACP);
  }
  for (DWORD version : {WindowsNt4, WindowsNt351, Windows98, WindowsMe, NotNtMajor5}) {
    SCOPED_TRACE(version);
    EXPECT_TRUE(NeedsLocaleCodePage(version));
    EXPECT_EQ(ChooseNarrowCodePage(version, "1252"), 1252u);
  }
}

TEST(ChooseNarrowCodePage, AnswerIsReadAsADecimalNumberOrGivesZero) {
  struct Case {
    const char* Answer;
    UINT Expected;
  };
  const Case cases[] = {
      {"1250", 1250},    {"000437", 437},
      {"0", 0},          {"65001", 65001},
      {"", 0},           {"12a", 0},
      {"a12", 0},        {"-1", 0},
      {"+1252", 0},      {" 1252", 0},
      {"1252 ", 0},      {"4294967295", 4294967295u},
      {"4294967296", 0}, {"99999999999999999999", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Answer);
    EXPECT_EQ(ChooseNarrowCodePage(Windows98, c.Answer), c.Expected);
  }
  // No answer at all: the locale query failed.
  EXPECT_EQ(ChooseNarrowCodePage(WindowsNt4, nullptr), 0u);
}

}  // namespace
}  // namespace hidlist
