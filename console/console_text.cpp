#include "console/console_text.h"

#include <array>
#include <cstring>

namespace hidlist {

namespace {

constexpr std::int32_t OutputOpenFailure = 105;
constexpr std::int32_t InputOpenFailure = 104;

constexpr unsigned char LineFeed = 10;
constexpr unsigned char EndOfFileMark = 26;  // Ctrl+Z

// The room WideCharToMultiByte is given for the bytes of one unit: far more
// than any code page needs, so a conversion never fails for want of room.
constexpr int ConversionArea = 4095;

// The message for an I/O error code: the table's text, else "I/O error N".
std::string IoErrorMessage(std::int32_t code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    default:
      return "I/O error " + std::to_string(code);
  }
}

}  // namespace

IoFailure::IoFailure(std::int32_t code, const void* position)
    : message_(IoErrorMessage(code)), position_(position) {}

std::string HexDigits(std::uint32_t value, int digits) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  if (digits > 32 || digits < 0) digits = 0;
  char reversed[8];
  int count = 0;
  do {
    reversed[count++] = Digits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  std::string text;
  if (digits > count) text.assign(static_cast<std::size_t>(digits - count), '0');
  while (count > 0) text.push_back(reversed[--count]);
  return text;
}

ConsoleText::ConsoleText(ConsolePlatform& platform)
    : platform_(platform), code_page_(platform.NarrowCodePage()) {}

void ConsoleText::SetPendingError(DWORD code) { pending_error_ = static_cast<std::int32_t>(code); }

bool ConsoleText::OpenOutput() {
  if (output_open_) return true;
  HANDLE handle = platform_.GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == INVALID_HANDLE_VALUE) {
    pending_error_ = OutputOpenFailure;
    return false;
  }
  if (handle == closed_output_handle_) {
    pending_error_ = OutputOpenFailure;
    return false;
  }
  const DWORD type = platform_.GetFileType(handle);
  if (type == FILE_TYPE_UNKNOWN) {
    platform_.CloseHandle(handle);
    closed_output_handle_ = handle;
    pending_error_ = OutputOpenFailure;
    return false;
  }
  output_handle_ = handle;
  output_is_device_ = type == FILE_TYPE_CHAR;
  // A console shows the bytes in its own output code page, not the narrow
  // one: the OEM code page unless the user has changed it.
  if (output_is_device_) {
    const UINT shown = platform_.ConsoleOutputCodePage(handle);
    if (shown != NoConsole) code_page_ = shown;
  }
  output_open_ = true;
  return true;
}

bool ConsoleText::WriteOutBuffer() {
  if (output_count_ == 0) return true;
  DWORD written = 0;
  const BOOL ok = platform_.WriteFile(output_handle_, output_buffer_,
                                      static_cast<DWORD>(output_count_), &written);
  // The buffer is empty afterwards whether the write worked or not; the count
  // the platform reports is not examined.
  output_count_ = 0;
  if (!ok) {
    SetPendingError(platform_.GetLastError());
    return false;
  }
  return true;
}

void ConsoleText::WriteText(std::string_view text) {
  if (!OpenOutput()) return;
  while (!text.empty()) {
    const std::size_t room = BufferSize - output_count_;
    const std::size_t take = text.size() < room ? text.size() : room;
    std::memcpy(output_buffer_ + output_count_, text.data(), take);
    output_count_ += take;
    text.remove_prefix(take);
    // A failed write-out drops the rest of this call's text.
    if (output_count_ == BufferSize && !WriteOutBuffer()) return;
  }
}

void ConsoleText::WriteWideUnit(char16_t unit) {
  // The code page is the one chosen when standard output opened.
  if (!OpenOutput()) return;
  std::array<char, ConversionArea> bytes;
  const int produced =
      platform_.WideCharToMultiByte(code_page_, 0, &unit, 1, bytes.data(), ConversionArea);
  const std::size_t length = produced > 0 ? static_cast<std::size_t>(produced) : 0;
  WriteText(std::string_view(bytes.data(), length));
}

void ConsoleText::WriteLine() {
  WriteText("\r\n");
  FlushIfDevice();
}

void ConsoleText::FlushIfDevice() {
  if (output_open_ && output_is_device_) WriteOutBuffer();
}

void ConsoleText::FlushOutput() {
  if (output_open_) WriteOutBuffer();
}

bool ConsoleText::OpenInput() {
  if (input_open_) return true;
  HANDLE handle = platform_.GetStdHandle(STD_INPUT_HANDLE);
  if (handle == INVALID_HANDLE_VALUE) {
    pending_error_ = InputOpenFailure;
    return false;
  }
  input_handle_ = handle;
  input_open_ = true;
  return true;
}

bool ConsoleText::RefillInput() {
  input_position_ = 0;
  input_end_ = 0;
  DWORD count = 0;
  if (!platform_.ReadFile(input_handle_, input_buffer_, BufferSize, &count)) {
    const DWORD error = platform_.GetLastError();
    // A pipe whose writer has gone is simply the end of the input.
    if (error == ERROR_BROKEN_PIPE) {
      input_ended_ = true;
    } else {
      SetPendingError(error);
    }
    return false;
  }
  if (count == 0) {
    input_ended_ = true;
    return false;
  }
  input_end_ = count < BufferSize ? count : BufferSize;
  return true;
}

void ConsoleText::ReadLine() {
  if (!OpenInput()) return;
  // The line ends with its LF, so a CR LF ends it too. A CR needs no rule of
  // its own: what follows it is read by these same rules, so a lone CR is
  // passed over like any other byte and one at the end of input ends there.
  while (!input_ended_) {
    if (input_position_ == input_end_ && !RefillInput()) return;
    const unsigned char byte = input_buffer_[input_position_];
    if (byte == EndOfFileMark) {
      input_ended_ = true;
      return;
    }
    ++input_position_;
    if (byte == LineFeed) return;
  }
}

void ConsoleText::RaiseIoFailure() {
  const std::int32_t code = pending_error_;
  pending_error_ = 0;
  throw IoFailure(code, HIDLIST_RETURN_ADDRESS());
}

}  // namespace hidlist
