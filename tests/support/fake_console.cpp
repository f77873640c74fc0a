#include "tests/support/fake_console.h"

#include <cstring>

#include "console/unit_conversion.h"

namespace hidlist::testing {

std::string FakeConsole::Stream::Text() const {
  std::string all;
  for (const std::string& write : Writes) all += write;
  return all;
}

FakeConsole::FakeConsole() {
  Output.Handle = OutputHandle;
  Error.Handle = ErrorHandle;
  Convert = [](char16_t unit) {
    char bytes[4];
    const int count = EncodeUnitAsUtf8(unit, bytes);
    return std::string(bytes, static_cast<std::size_t>(count));
  };
}

std::string FakeConsole::NameOf(HANDLE handle) const {
  if (handle == nullptr) return "null";
  if (handle == INVALID_HANDLE_VALUE) return "invalid";
  if (handle == InputHandle) return "in";
  if (handle == OutputHandle) return "out";
  if (handle == ErrorHandle) return "err";
  return "other";
}

FakeConsole::Stream* FakeConsole::StreamOf(HANDLE handle) {
  if (handle != nullptr && handle == Output.Handle) return &Output;
  if (handle != nullptr && handle == Error.Handle) return &Error;
  return nullptr;
}

HANDLE FakeConsole::GetStdHandle(DWORD nStdHandle) {
  Calls.push_back("GetStdHandle(" + std::to_string(static_cast<std::int32_t>(nStdHandle)) + ")");
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (nStdHandle == STD_INPUT_HANDLE) handle = InputHandleGiven;
  if (nStdHandle == STD_OUTPUT_HANDLE) handle = Output.Handle;
  if (nStdHandle == STD_ERROR_HANDLE) handle = Error.Handle;
  if (handle == INVALID_HANDLE_VALUE) last_error_ = ERROR_INVALID_HANDLE;
  return handle;
}

DWORD FakeConsole::GetFileType(HANDLE hFile) {
  Calls.push_back("GetFileType(" + NameOf(hFile) + ")");
  if (hFile == nullptr) return FILE_TYPE_UNKNOWN;
  if (Stream* stream = StreamOf(hFile)) return stream->FileType;
  return hFile == InputHandleGiven ? FILE_TYPE_CHAR : FILE_TYPE_UNKNOWN;
}

BOOL FakeConsole::CloseHandle(HANDLE hObject) {
  Calls.push_back("CloseHandle(" + NameOf(hObject) + ")");
  return 1;
}

BOOL FakeConsole::WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
                            DWORD* lpNumberOfBytesWritten) {
  Calls.push_back("WriteFile(" + NameOf(hFile) + "," + std::to_string(nNumberOfBytesToWrite) + ")");
  *lpNumberOfBytesWritten = 0;
  Stream* stream = StreamOf(hFile);
  if (stream == nullptr) {
    last_error_ = ERROR_INVALID_HANDLE;
    return 0;
  }
  const int index = static_cast<int>(stream->Writes.size());
  const bool fails =
      stream->FailWriteAt >= 0 && (index == stream->FailWriteAt ||
                                   (stream->FailEveryWriteAfter && index > stream->FailWriteAt));
  // Failed writes are recorded too, as empty, so indices stay those of calls.
  stream->Writes.emplace_back();
  if (fails) {
    last_error_ = stream->WriteError;
    return 0;
  }
  stream->Writes.back().assign(static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite);
  *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
  return 1;
}

BOOL FakeConsole::ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                           DWORD* lpNumberOfBytesRead) {
  Calls.push_back("ReadFile(" + NameOf(hFile) + "," + std::to_string(nNumberOfBytesToRead) + ")");
  ++ReadCalls;
  ReadSizes.push_back(nNumberOfBytesToRead);
  *lpNumberOfBytesRead = 0;
  if (hFile == nullptr || hFile != InputHandleGiven) {
    last_error_ = ERROR_INVALID_HANDLE;
    return 0;
  }
  if (InputChunks.empty()) {
    if (ReadErrorAtEnd != ERROR_SUCCESS) {
      last_error_ = ReadErrorAtEnd;
      return 0;
    }
    return 1;
  }
  std::string& chunk = InputChunks.front();
  const std::size_t count =
      chunk.size() < nNumberOfBytesToRead ? chunk.size() : nNumberOfBytesToRead;
  std::memcpy(lpBuffer, chunk.data(), count);
  chunk.erase(0, count);
  if (chunk.empty()) InputChunks.pop_front();
  *lpNumberOfBytesRead = static_cast<DWORD>(count);
  return 1;
}

int FakeConsole::WideCharToMultiByte(UINT code_page, DWORD dwFlags, const char16_t* lpWideCharStr,
                                     int cchWideChar, char* lpMultiByteStr, int cbMultiByte) {
  (void)dwFlags;
  ConversionCodePages.push_back(code_page);
  ConversionAreas.push_back(cbMultiByte);
  std::string bytes;
  for (int i = 0; i < cchWideChar; ++i) bytes += Convert(lpWideCharStr[i]);
  if (static_cast<int>(bytes.size()) > cbMultiByte) {
    last_error_ = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::memcpy(lpMultiByteStr, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}

ModuleLocation FakeConsole::LocateModule(const void* position) {
  LocatedPositions.push_back(position);
  return Module;
}

void FakeConsole::CharToOemA(char* text) {
  (void)text;
  ++OemConversions;
}

}  // namespace hidlist::testing
