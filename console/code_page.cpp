#include "console/code_page.h"

#include <cstdint>

#include "console/console_platform.h"

namespace hidlist {

namespace {

constexpr DWORD NotNtFlag = 0x80000000u;
constexpr DWORD MajorVersionMask = 0xFFu;
constexpr DWORD FirstThreadCodePageMajor = 5;

}  // namespace

bool NeedsLocaleCodePage(DWORD version) {
  const bool nt_family = (version & NotNtFlag) == 0;
  return !(nt_family && (version & MajorVersionMask) >= FirstThreadCodePageMajor);
}

UINT ChooseNarrowCodePage(DWORD version, const char* locale_answer_or_null) {
  if (!NeedsLocaleCodePage(version)) return CP_THREAD_ACP;
  const char* text = locale_answer_or_null;
  if (text == nullptr || *text == '\0') return 0;
  std::uint64_t value = 0;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return 0;
    value = value * 10 + static_cast<std::uint64_t>(*text - '0');
    if (value > UINT32_MAX) return 0;
  }
  return static_cast<UINT>(value);
}

}  // namespace hidlist
