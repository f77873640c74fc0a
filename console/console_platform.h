// The operations of the console platform as ConsoleText and the fatal report
// use them, with the platform's names and conventions. One backend per
// platform implements ConsolePlatform.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "vocabulary/win_types.h"

namespace hidlist {

inline constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
inline constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
inline constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);

inline constexpr DWORD FILE_TYPE_UNKNOWN = 0;
inline constexpr DWORD FILE_TYPE_DISK = 1;
inline constexpr DWORD FILE_TYPE_CHAR = 2;
inline constexpr DWORD FILE_TYPE_PIPE = 3;

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_THREAD_ACP = 3;
inline constexpr UINT CP_UTF8 = 65001;

// What ConsolePlatform::ConsoleOutputCodePage answers for a handle that is no
// console.
inline constexpr UINT NoConsole = 0;

// Where a code position lies: the file name of the module that holds it,
// without its directory, and the position's offset from the module's start.
struct ModuleLocation {
  std::string name;
  std::uintptr_t offset = 0;
};

class ConsolePlatform {
 public:
  virtual ~ConsolePlatform() = default;

  virtual HANDLE GetStdHandle(DWORD nStdHandle) = 0;
  virtual DWORD GetFileType(HANDLE hFile) = 0;
  virtual BOOL CloseHandle(HANDLE hObject) = 0;
  virtual BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
                         DWORD* lpNumberOfBytesWritten) = 0;
  virtual BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                        DWORD* lpNumberOfBytesRead) = 0;
  virtual DWORD GetLastError() = 0;

  // The narrow code page, chosen once when the platform layer is made.
  virtual UINT NarrowCodePage() = 0;
  // The code page in which the console that hConsoleOutput writes to shows
  // the bytes it is given; NoConsole when the handle is no console (a file, a
  // pipe, NUL, a serial port, or any terminal where the narrow text is what
  // it shows).
  virtual UINT ConsoleOutputCodePage(HANDLE hConsoleOutput) = 0;
  // dwFlags is always 0 and no default character of the caller's is given,
  // so units that cannot be represented become the platform's default.
  virtual int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, const char16_t* lpWideCharStr,
                                  int cchWideChar, char* lpMultiByteStr, int cbMultiByte) = 0;

  // For the fatal report.
  virtual ModuleLocation LocateModule(const void* position) = 0;
  // Converts a report in place to the console's OEM code page (Windows only).
  virtual void CharToOemA(char* text) = 0;
  // True when a debugger will take unhandled failures itself.
  virtual bool IsDebuggerPresent() = 0;
};

// The platform's console layer, as the shipped program uses it. Made once,
// first thing in the entry.
std::unique_ptr<ConsolePlatform> OpenConsolePlatform();

}  // namespace hidlist
