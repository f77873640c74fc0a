// A console platform for tests: set up as data, recording every call.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "console/console_platform.h"

namespace hidlist::testing {

class FakeConsole : public ConsolePlatform {
 public:
  // Standard handles as the fake hands them out.
  static inline HANDLE const InputHandle = reinterpret_cast<HANDLE>(0x10);
  static inline HANDLE const OutputHandle = reinterpret_cast<HANDLE>(0x20);
  static inline HANDLE const ErrorHandle = reinterpret_cast<HANDLE>(0x30);

  struct Stream {
    HANDLE Handle = nullptr;  // what GetStdHandle gives
    DWORD FileType = FILE_TYPE_CHAR;
    std::vector<std::string> Writes;  // the bytes of each WriteFile, in order
    // The n-th WriteFile (0-based) fails with this code; -1: none fails.
    int FailWriteAt = -1;
    DWORD WriteError = ERROR_DISK_FULL;
    bool FailEveryWriteAfter = false;  // the failing write and all later ones

    std::string Text() const;  // all bytes written, joined
  };

  FakeConsole();

  Stream Output;
  Stream Error;

  // Standard input: each ReadFile hands over the front chunk, or as much of
  // it as was asked for; no chunks left is the end of input (0 bytes).
  HANDLE InputHandleGiven = InputHandle;
  std::deque<std::string> InputChunks;
  // Once the chunks are used up, ReadFile fails with this code instead.
  DWORD ReadErrorAtEnd = ERROR_SUCCESS;
  int ReadCalls = 0;
  std::vector<DWORD> ReadSizes;

  UINT CodePage = CP_UTF8;
  // Converts one unit; the default encodes UTF-8 as Windows does.
  std::function<std::string(char16_t)> Convert;
  std::vector<UINT> ConversionCodePages;
  std::vector<int> ConversionAreas;

  ModuleLocation Module{"hidlist", 0x1234};
  std::vector<const void*> LocatedPositions;
  bool DebuggerPresent = false;
  int OemConversions = 0;

  // Every call, in order, by name: "GetStdHandle(-11)", "GetFileType(out)",
  // "CloseHandle(out)", "WriteFile(out,5)", "ReadFile(in,128)".
  std::vector<std::string> Calls;

  HANDLE GetStdHandle(DWORD nStdHandle) override;
  DWORD GetFileType(HANDLE hFile) override;
  BOOL CloseHandle(HANDLE hObject) override;
  BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
                 DWORD* lpNumberOfBytesWritten) override;
  BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                DWORD* lpNumberOfBytesRead) override;
  DWORD GetLastError() override { return last_error_; }
  UINT NarrowCodePage() override { return CodePage; }
  int WideCharToMultiByte(UINT code_page, DWORD dwFlags, const char16_t* lpWideCharStr,
                          int cchWideChar, char* lpMultiByteStr, int cbMultiByte) override;
  ModuleLocation LocateModule(const void* position) override;
  void CharToOemA(char* text) override;
  bool IsDebuggerPresent() override { return DebuggerPresent; }

 private:
  Stream* StreamOf(HANDLE handle);
  std::string NameOf(HANDLE handle) const;

  DWORD last_error_ = ERROR_SUCCESS;
};

}  // namespace hidlist::testing
