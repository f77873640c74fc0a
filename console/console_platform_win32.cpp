// The console platform on Windows: the standard handles through kernel32,
// the fatal report's module lookup through VirtualQuery and
// GetModuleFileNameA, and its OEM conversion through user32.
#include "console/console_platform.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

// After the project's headers, which it would otherwise redefine.
#include "vocabulary/windows_sdk.h"

namespace hidlist {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units are wchar_t on Windows");
static_assert(sizeof(hidlist::DWORD) == sizeof(::DWORD));

// The locale's answer fills at most this many bytes, its NUL included.
constexpr int LocaleAnswerArea = 7;

// GetVersion() is marked deprecated in Microsoft's headers; the choice of
// code page depends on exactly what it answers.
::DWORD PlatformVersion() {
#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996)
#endif
  return ::GetVersion();
#if defined(_MSC_VER)
#pragma warning(pop)
#endif
}

// On the NT family from Windows 2000 on, the thread's ANSI code page. Before
// that, the default ANSI code page of the thread's locale, as the decimal
// number the locale gives in a 7-byte area, and 0 when it gives none.
UINT ChooseCodePageOfThisSystem() {
  const ::DWORD version = PlatformVersion();
  if ((version & 0x80000000u) == 0 && (version & 0xFFu) >= 5) return CP_THREAD_ACP;
  char area[LocaleAnswerArea] = {};
  if (::GetLocaleInfoA(::GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, area, LocaleAnswerArea) <=
      0) {
    return 0;
  }
  UINT code_page = 0;
  for (const char* digit = area; digit < area + LocaleAnswerArea && *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return 0;
    code_page = code_page * 10 + static_cast<UINT>(*digit - '0');
  }
  return code_page;
}

// The file name after the last backslash of a module path.
std::string FileNameOf(const char* path) {
  const char* name = path;
  for (const char* at = path; *at != '\0'; ++at) {
    if (*at == '\\') name = at + 1;
  }
  return name;
}

std::string ModulePath(::HMODULE module) {
  char path[MAX_PATH + 1] = {};
  const ::DWORD length = ::GetModuleFileNameA(module, path, MAX_PATH);
  if (length == 0) return {};
  return std::string(path, length < MAX_PATH ? length : MAX_PATH);
}

class Win32ConsolePlatform final : public ConsolePlatform {
 public:
  Win32ConsolePlatform() : code_page_(ChooseCodePageOfThisSystem()) {}

  HANDLE GetStdHandle(DWORD nStdHandle) override { return ::GetStdHandle(nStdHandle); }

  DWORD GetFileType(HANDLE hFile) override { return static_cast<DWORD>(::GetFileType(hFile)); }

  BOOL CloseHandle(HANDLE hObject) override { return ::CloseHandle(hObject); }

  BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
                 DWORD* lpNumberOfBytesWritten) override {
    ::DWORD written = 0;
    const BOOL result = ::WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, &written, nullptr);
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = static_cast<DWORD>(written);
    return result;
  }

  BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                DWORD* lpNumberOfBytesRead) override {
    ::DWORD read = 0;
    const BOOL result = ::ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, &read, nullptr);
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = static_cast<DWORD>(read);
    return result;
  }

  DWORD GetLastError() override { return static_cast<DWORD>(::GetLastError()); }

  UINT NarrowCodePage() override { return code_page_; }

  // A console is what GetConsoleMode accepts: of the character devices, not
  // NUL or a serial port.
  UINT ConsoleOutputCodePage(HANDLE hConsoleOutput) override {
    ::DWORD mode{};
    if (!::GetConsoleMode(hConsoleOutput, &mode)) return NoConsole;
    return ::GetConsoleOutputCP();
  }

  int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, const char16_t* lpWideCharStr,
                          int cchWideChar, char* lpMultiByteStr, int cbMultiByte) override {
    return ::WideCharToMultiByte(CodePage, dwFlags, reinterpret_cast<const wchar_t*>(lpWideCharStr),
                                 cchWideChar, lpMultiByteStr, cbMultiByte, nullptr, nullptr);
  }

  ModuleLocation LocateModule(const void* position) override {
    const auto address = reinterpret_cast<std::uintptr_t>(position);
    ::MEMORY_BASIC_INFORMATION region = {};
    std::uintptr_t base = 0;
    std::string path;
    if (::VirtualQuery(position, &region, sizeof region) != 0 && region.AllocationBase != nullptr) {
      path = ModulePath(static_cast<::HMODULE>(region.AllocationBase));
      if (!path.empty()) base = reinterpret_cast<std::uintptr_t>(region.AllocationBase);
    }
    // A position in no module is given against the program's own file, as
    // an absolute address.
    if (path.empty()) path = ModulePath(nullptr);
    ModuleLocation location;
    location.name = FileNameOf(path.c_str());
    location.offset = address >= base ? address - base : address;
    return location;
  }

  void CharToOemA(char* text) override {
    if (text != nullptr) ::CharToOemA(text, text);
  }

  bool IsDebuggerPresent() override { return ::IsDebuggerPresent() != FALSE; }

 private:
  UINT code_page_;
};

}  // namespace

std::unique_ptr<ConsolePlatform> OpenConsolePlatform() {
  return std::make_unique<Win32ConsolePlatform>();
}

}  // namespace hidlist
