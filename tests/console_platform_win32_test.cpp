// The Windows console platform against the real system (or Wine): handle
// types, pipe errors, conversion and the fatal report's module lookup.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "console/console_platform.h"
#include "console/portability.h"

// After the project's headers: windows.h defines several of their names as
// macros with the same values.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace hidlist {
namespace {

// Closes a handle the test made itself, on every path.
class OwnedHandle {
 public:
  explicit OwnedHandle(::HANDLE handle = nullptr) : handle_(handle) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { Close(); }
  ::HANDLE Get() const { return handle_; }
  void Reset(::HANDLE handle) {
    Close();
    handle_ = handle;
  }
  void Close() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  ::HANDLE handle_;
};

struct Pipe {
  OwnedHandle Read;
  OwnedHandle Write;
};

std::unique_ptr<Pipe> MakePipe() {
  ::HANDLE read = nullptr;
  ::HANDLE write = nullptr;
  if (!::CreatePipe(&read, &write, nullptr, 0)) return nullptr;
  auto pipe = std::make_unique<Pipe>();
  pipe->Read.Reset(read);
  pipe->Write.Reset(write);
  return pipe;
}

std::string TempFilePath() {
  char directory[MAX_PATH + 1] = {};
  char path[MAX_PATH + 1] = {};
  if (::GetTempPathA(MAX_PATH, directory) == 0) return {};
  if (::GetTempFileNameA(directory, "hid", 0, path) == 0) return {};
  return path;
}

// Where the caller of this function continues: a code position inside
// the test program, as the channel's CheckIo takes it.
HIDLIST_NOINLINE const void* CodePositionHere() { return HIDLIST_RETURN_ADDRESS(); }

TEST(Win32ConsolePlatform, NarrowCodePageIsTheThreadCodePageOnNt5AndLater) {
  const ::DWORD version = ::GetVersion();
  ASSERT_EQ(version & 0x80000000u, 0u) << "not an NT-family system";
  ASSERT_GE(version & 0xFFu, 5u);
  EXPECT_EQ(OpenConsolePlatform()->NarrowCodePage(), CP_THREAD_ACP);
}

TEST(Win32ConsolePlatform, FileTypesOfPipeDiskFileAndCharacterDevice) {
  auto platform = OpenConsolePlatform();
  auto pipe = MakePipe();
  ASSERT_NE(pipe, nullptr);
  EXPECT_EQ(platform->GetFileType(pipe->Read.Get()), FILE_TYPE_PIPE);
  EXPECT_EQ(platform->GetFileType(pipe->Write.Get()), FILE_TYPE_PIPE);

  const std::string path = TempFilePath();
  ASSERT_FALSE(path.empty());
  {
    OwnedHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_TEMPORARY, nullptr));
    ASSERT_NE(file.Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform->GetFileType(file.Get()), FILE_TYPE_DISK);
  }
  ::DeleteFileA(path.c_str());

  OwnedHandle null_device(::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_NE(null_device.Get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(platform->GetFileType(null_device.Get()), FILE_TYPE_CHAR);
}

TEST(Win32ConsolePlatform, WriteAndReadThroughAPipeReportTheirCounts) {
  auto platform = OpenConsolePlatform();
  auto pipe = MakePipe();
  ASSERT_NE(pipe, nullptr);
  DWORD written = 12345;
  ASSERT_TRUE(platform->WriteFile(pipe->Write.Get(), "hello", 5, &written));
  EXPECT_EQ(written, 5u);

  char bytes[16] = {};
  DWORD read = 12345;
  ASSERT_TRUE(platform->ReadFile(pipe->Read.Get(), bytes, sizeof bytes, &read));
  EXPECT_EQ(read, 5u);
  EXPECT_EQ(std::string(bytes, read), "hello");
}

TEST(Win32ConsolePlatform, WriteToAPipeWhoseReaderClosedFailsWithNoData) {
  auto platform = OpenConsolePlatform();
  auto pipe = MakePipe();
  ASSERT_NE(pipe, nullptr);
  pipe->Read.Close();
  DWORD written = 0;
  EXPECT_FALSE(platform->WriteFile(pipe->Write.Get(), "x", 1, &written));
  EXPECT_EQ(platform->GetLastError(), ERROR_NO_DATA);
  EXPECT_EQ(platform->GetLastError(), 232u);
}

TEST(Win32ConsolePlatform, ReadFromAPipeWhoseWriterClosedFailsWithBrokenPipe) {
  auto platform = OpenConsolePlatform();
  auto pipe = MakePipe();
  ASSERT_NE(pipe, nullptr);
  pipe->Write.Close();
  char byte = 0;
  DWORD read = 7;
  EXPECT_FALSE(platform->ReadFile(pipe->Read.Get(), &byte, 1, &read));
  EXPECT_EQ(platform->GetLastError(), ERROR_BROKEN_PIPE);
  EXPECT_EQ(read, 0u);
}

TEST(Win32ConsolePlatform, StandardHandlesAreThePlatformsOwn) {
  auto platform = OpenConsolePlatform();
  EXPECT_EQ(platform->GetStdHandle(STD_OUTPUT_HANDLE), ::GetStdHandle(STD_OUTPUT_HANDLE));
  EXPECT_EQ(platform->GetStdHandle(STD_ERROR_HANDLE), ::GetStdHandle(STD_ERROR_HANDLE));
  EXPECT_EQ(platform->GetStdHandle(STD_INPUT_HANDLE), ::GetStdHandle(STD_INPUT_HANDLE));
}

TEST(Win32ConsolePlatform, ConvertsOneUnitWithTheGivenCodePage) {
  auto platform = OpenConsolePlatform();
  char bytes[16] = {};
  const char16_t e_acute = u'\u00E9';
  EXPECT_EQ(platform->WideCharToMultiByte(CP_UTF8, 0, &e_acute, 1, bytes, sizeof bytes), 2);
  EXPECT_EQ(std::string(bytes, 2), "\xC3\xA9");

  const char16_t euro = u'\u20AC';
  EXPECT_EQ(platform->WideCharToMultiByte(1252, 0, &euro, 1, bytes, sizeof bytes), 1);
  EXPECT_EQ(bytes[0], '\x80');

  // Not in the code page: the platform's default character.
  const char16_t han = u'\u4E2D';
  EXPECT_EQ(platform->WideCharToMultiByte(1252, 0, &han, 1, bytes, sizeof bytes), 1);
  EXPECT_EQ(bytes[0], '?');

  // No room given: the size needed.
  EXPECT_EQ(platform->WideCharToMultiByte(CP_UTF8, 0, &han, 1, nullptr, 0), 3);
}

SIZE_T ImageSize(::HMODULE module) {
  const auto* base = reinterpret_cast<const unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return nt->OptionalHeader.SizeOfImage;
}

TEST(Win32ConsolePlatform, LocatesACodePositionInTheProgram) {
  auto platform = OpenConsolePlatform();
  const void* position = CodePositionHere();
  const ModuleLocation location = platform->LocateModule(position);
  EXPECT_EQ(location.Name, "hidlist_tests.exe");

  const ::HMODULE program = ::GetModuleHandleA(nullptr);
  const auto expected =
      reinterpret_cast<std::uintptr_t>(position) - reinterpret_cast<std::uintptr_t>(program);
  EXPECT_EQ(location.Offset, expected);
  EXPECT_GT(location.Offset, 0u);
  EXPECT_LT(location.Offset, ImageSize(program));
}

TEST(Win32ConsolePlatform, LocatesAPositionInASystemLibrary) {
  auto platform = OpenConsolePlatform();
  const ::HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  ASSERT_NE(kernel32, nullptr);
  const ModuleLocation location =
      platform->LocateModule(reinterpret_cast<const unsigned char*>(kernel32) + 0x40);
  EXPECT_EQ(::lstrcmpiA(location.Name.c_str(), "kernel32.dll"), 0) << location.Name;
  EXPECT_EQ(location.Offset, 0x40u);
}

TEST(Win32ConsolePlatform, APositionInNoModuleIsGivenAgainstTheProgram) {
  auto platform = OpenConsolePlatform();
  const ModuleLocation location = platform->LocateModule(nullptr);
  EXPECT_EQ(location.Name, "hidlist_tests.exe");
  EXPECT_EQ(location.Offset, 0u);
}

TEST(Win32ConsolePlatform, CharToOemConvertsInPlace) {
  auto platform = OpenConsolePlatform();
  char ascii[] = "Exception EInOutError in module hidlist.exe at 00001234.\r\nI/O error 112.\r\n";
  const std::string before = ascii;
  platform->CharToOemA(ascii);
  EXPECT_EQ(std::string(ascii), before);

  // A character outside ASCII: what the ANSI code page's character is in
  // the OEM code page, worked out through UTF-16.
  char accented[] = "\xE9";
  wchar_t wide[2] = {};
  ASSERT_EQ(::MultiByteToWideChar(CP_ACP, 0, accented, 1, wide, 2), 1);
  char oem[4] = {};
  ASSERT_EQ(::WideCharToMultiByte(CP_OEMCP, 0, wide, 1, oem, sizeof oem, nullptr, nullptr), 1);
  platform->CharToOemA(accented);
  EXPECT_EQ(accented[0], oem[0]);
  EXPECT_EQ(accented[1], '\0');
}

TEST(Win32ConsolePlatform, DebuggerPresenceIsThePlatformsAnswer) {
  auto platform = OpenConsolePlatform();
  EXPECT_EQ(platform->IsDebuggerPresent(), ::IsDebuggerPresent() != FALSE);
}

}  // namespace
}  // namespace hidlist
