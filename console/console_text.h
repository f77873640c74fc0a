// ConsoleText: all of the program's text goes to standard output and comes
// from standard input through it.
//
// Output is collected in a 128-byte buffer and written out when the buffer
// fills, at the end of every statement when standard output is a character
// device, and at the end of the run. Every failure of the streams becomes one
// pending error code, raised as IoFailure by CheckIo at the end of the
// statement in which it happened.
//
// Callers use it in statements of three forms only:
//   line:  WriteText..., WriteLine, CheckIo
//   unit:  WriteWideUnit, FlushIfDevice, CheckIo
//   read:  ReadLine, CheckIo
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "console/console_platform.h"
#include "vocabulary/portability.h"

namespace hidlist {

// A failure of the console streams; it ends the run.
class IoFailure : public std::exception {
 public:
  IoFailure(std::int32_t code, const void* position);

  static constexpr const char* ClassName = "EInOutError";

  const std::string& Message() const { return message_; }
  // The point just after the statement's CheckIo.
  const void* Position() const { return position_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
  const void* position_;
};

// Upper-case hexadecimal digits of value, padded with zeros to at least
// digits characters; a digit count above 32 counts as 0. Never cut.
std::string HexDigits(std::uint32_t value, int digits);

class ConsoleText {
 public:
  static constexpr std::size_t BufferSize = 128;

  explicit ConsoleText(ConsolePlatform& platform);
  ConsoleText(const ConsoleText&) = delete;
  ConsoleText& operator=(const ConsoleText&) = delete;

  void WriteText(std::string_view text);
  void WriteWideUnit(char16_t unit);
  void WriteLine();
  void FlushIfDevice();
  void ReadLine();
  // Inline in every build, so that each statement's check calls the raise
  // from its own place.
  HIDLIST_ALWAYS_INLINE void CheckIo() {
    if (pending_error_ != 0) RaiseIoFailure();
  }

  // Writes the buffer out whatever the device flag says; a failure becomes
  // the pending error. Every end of the run does, the fatal report included.
  void FlushOutput();

 private:
  // Out of line and never returning, so that no caller can tail-call it:
  // its return address is the point just after the failing statement's check.
  [[noreturn]] HIDLIST_NOINLINE void RaiseIoFailure();

  bool OpenOutput();
  bool OpenInput();
  // One write of the buffered bytes; nothing when the buffer is empty.
  bool WriteOutBuffer();
  bool RefillInput();
  void SetPendingError(DWORD code);

  ConsolePlatform& platform_;
  // The code page of the units' bytes: the narrow one, or a console's own
  // once standard output has opened on one.
  UINT code_page_;
  std::int32_t pending_error_ = 0;

  HANDLE output_handle_ = nullptr;
  // A handle of unknown type is closed when the open fails; it must not be
  // closed again when the next write tries the open again.
  HANDLE closed_output_handle_ = INVALID_HANDLE_VALUE;
  bool output_open_ = false;
  bool output_is_device_ = false;
  std::size_t output_count_ = 0;
  char output_buffer_[BufferSize] = {};

  HANDLE input_handle_ = nullptr;
  bool input_open_ = false;
  bool input_ended_ = false;
  std::size_t input_position_ = 0;
  std::size_t input_end_ = 0;
  unsigned char input_buffer_[BufferSize] = {};
};

}  // namespace hidlist
