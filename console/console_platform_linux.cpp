// The console platform on Linux: the standard streams as descriptors, the
// locale's character set for the narrow text, and the fatal report's module
// lookup through the dynamic loader. Failures are given Windows' error codes,
// so that ConsoleText's codes and messages are the same on every system.
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_platform.h"

namespace hidlist {

namespace {

// A handle is its descriptor plus one: descriptor 0 must not come out as the
// null handle, which ConsoleText takes as "no stream".
constexpr std::uintptr_t HandleBias = 1;

const iconv_t NoConverter = reinterpret_cast<iconv_t>(-1);

// The C locale's character set, as the C library names it.
constexpr const char* Ascii = "ANSI_X3.4-1968";

// The Windows error code that means the same as errno value error.
DWORD WindowsErrorFromErrno(int error) {
  switch (error) {
    case EPIPE:
      return ERROR_NO_DATA;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EISDIR:
      // What ReadFile on a folder gives on Windows.
      return ERROR_INVALID_FUNCTION;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EIO:
      return ERROR_IO_DEVICE;
    case EFBIG:
      return ERROR_FILE_TOO_LARGE;
    case ENXIO:
    case ENODEV:
      return ERROR_DEVICE_NOT_CONNECTED;
    case ECONNRESET:
      // The peer went away: Windows' broken pipe.
      return ERROR_BROKEN_PIPE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

HANDLE HandleFromDescriptor(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(fd) + HandleBias);
}

// The null and the invalid handle give negative descriptors, which every
// system call refuses.
int DescriptorFromHandle(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<std::uintptr_t>(handle) - HandleBias);
}

// One UTF-16 unit taken by itself, in UTF-8. A surrogate half can never be
// completed by a later unit here, so it becomes U+FFFD, as
// WideCharToMultiByte(CP_UTF8) does with a lone half.
int EncodeUnitAsUtf8(char16_t unit, char* out) {
  if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
  if (unit < 0x80) {
    out[0] = static_cast<char>(unit);
    return 1;
  }
  if (unit < 0x800) {
    out[0] = static_cast<char>(0xC0 | (unit >> 6));
    out[1] = static_cast<char>(0x80 | (unit & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | (unit >> 12));
  out[1] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (unit & 0x3F));
  return 3;
}

// Blocks until fd is ready for events. A descriptor may come inherited
// non-blocking, and its EAGAIN is not a failure of the stream but a wait;
// the read or write that follows tells how the stream is.
void WaitUntilReady(int fd, short events) {
  pollfd entry{fd, events, 0};
  poll(&entry, 1, -1);
}

// Fills each of descriptors 0, 1 and 2 that is closed, so that no file opened
// later takes its number: a device node opened as descriptor 2 would receive
// whatever the C library writes to standard error. Returns the descriptors
// that were closed, which stay closed to the program.
std::vector<int> ReserveClosedStandardDescriptors() {
  // One poll tells which of the three are closed: those it calls invalid.
  pollfd standard[] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  poll(standard, std::size(standard), 0);
  std::vector<int> closed;
  for (const pollfd& entry : standard) {
    if ((entry.revents & POLLNVAL) != 0) closed.push_back(entry.fd);
  }
  // Each open takes the lowest free number: the closed ones, in order.
  for ([[maybe_unused]] int fd : closed) open("/dev/null", O_RDWR);
  return closed;
}

// The narrow character set is the locale's, named by LC_ALL, else LC_CTYPE,
// else LANG, as the C library reads them; none is the C locale, ASCII. A
// name that gives the character set ("C.UTF-8", "de_DE.ISO-8859-1") needs
// nothing loaded; a name without one ("de_DE") has its locale loaded and
// asked, without becoming the process's locale (the C locale is built in).
std::string LocaleCharset() {
  const char* name = nullptr;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    name = std::getenv(variable);
    if (name != nullptr && *name != '\0') break;
  }
  if (name == nullptr || *name == '\0') return Ascii;
  if (const char* dot = std::strchr(name, '.')) {
    const std::string codeset(dot + 1, std::strcspn(dot + 1, "@"));
    // The C library's folding of the name: its letters and digits, in lower case.
    std::string folded;
    for (char c : codeset) {
      if (std::isalnum(static_cast<unsigned char>(c))) {
        folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
    }
    return folded == "utf8" ? "UTF-8" : codeset;
  }
  const locale_t locale = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return Ascii;
  std::string charset = nl_langinfo_l(CODESET, locale);
  freelocale(locale);
  return charset;
}

class LinuxConsolePlatform final : public ConsolePlatform {
 public:
  explicit LinuxConsolePlatform(std::vector<int> closed_at_start)
      : closed_to_program_(std::move(closed_at_start)), charset_(LocaleCharset()) {
    code_page_ = charset_ == "UTF-8" ? CP_UTF8 : CP_ACP;
    // ASCII needs no converter: every other unit is '?'.
    converter_tried_ = charset_ == Ascii;
  }

  ~LinuxConsolePlatform() override {
    if (converter_ != NoConverter) iconv_close(converter_);
  }

  LinuxConsolePlatform(const LinuxConsolePlatform&) = delete;
  LinuxConsolePlatform& operator=(const LinuxConsolePlatform&) = delete;

  HANDLE GetStdHandle(DWORD nStdHandle) override {
    const int fd = nStdHandle == STD_INPUT_HANDLE    ? STDIN_FILENO
                   : nStdHandle == STD_OUTPUT_HANDLE ? STDOUT_FILENO
                                                     : STDERR_FILENO;
    if (IsClosedToProgram(fd)) {
      last_error_ = ERROR_INVALID_HANDLE;
      return INVALID_HANDLE_VALUE;
    }
    return HandleFromDescriptor(fd);
  }

  DWORD GetFileType(HANDLE hFile) override {
    struct stat status;
    if (fstat(DescriptorFromHandle(hFile), &status) != 0) {
      last_error_ = WindowsErrorFromErrno(errno);
      return FILE_TYPE_UNKNOWN;
    }
    // ConsoleText tells only a console apart: a pipe or a socket is written
    // like a file.
    return S_ISCHR(status.st_mode) ? FILE_TYPE_CHAR : FILE_TYPE_DISK;
  }

  // ConsoleText closes only a standard output of unknown type. The
  // descriptor stays open, so that its slot stays filled for the same reason
  // as at the start; it is closed to the program only.
  BOOL CloseHandle(HANDLE hObject) override {
    closed_to_program_.push_back(DescriptorFromHandle(hObject));
    return TRUE;
  }

  BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
                 DWORD* lpNumberOfBytesWritten) override {
    *lpNumberOfBytesWritten = 0;
    const int fd = DescriptorFromHandle(hFile);
    const char* next = static_cast<const char*>(lpBuffer);
    DWORD written = 0;
    while (written < nNumberOfBytesToWrite) {
      const ssize_t count = write(fd, next + written, nNumberOfBytesToWrite - written);
      if (count > 0) {
        written += static_cast<DWORD>(count);
        *lpNumberOfBytesWritten = written;
        continue;
      }
      if (count == 0) return Fail(ERROR_GEN_FAILURE);
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        WaitUntilReady(fd, POLLOUT);
        continue;
      }
      return Fail(WindowsErrorFromErrno(errno));
    }
    return TRUE;
  }

  BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                DWORD* lpNumberOfBytesRead) override {
    *lpNumberOfBytesRead = 0;
    const int fd = DescriptorFromHandle(hFile);
    for (;;) {
      const ssize_t count = read(fd, lpBuffer, nNumberOfBytesToRead);
      if (count >= 0) {
        *lpNumberOfBytesRead = static_cast<DWORD>(count);
        return TRUE;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        WaitUntilReady(fd, POLLIN);
        continue;
      }
      return Fail(WindowsErrorFromErrno(errno));
    }
  }

  DWORD GetLastError() override { return last_error_; }

  UINT NarrowCodePage() override { return code_page_; }

  // A terminal shows the locale's character set, the narrow text itself.
  UINT ConsoleOutputCodePage(HANDLE) override { return NoConsole; }

  // As ConsoleText calls it: one unit, flags 0, the code page from
  // NarrowCodePage and an area far larger than the unit needs.
  int WideCharToMultiByte(UINT, DWORD, const char16_t* lpWideCharStr, int, char* lpMultiByteStr,
                          int) override {
    return code_page_ == CP_UTF8 ? EncodeUnitAsUtf8(*lpWideCharStr, lpMultiByteStr)
                                 : EncodeUnitThroughIconv(*lpWideCharStr, lpMultiByteStr);
  }

  // Every position a failure can arise at lies in the program itself, which
  // carries all of this code: the module is the executable, named by its own
  // file (glibc would give argv[0], the name it was started under). A
  // position in no module is given as it is.
  ModuleLocation LocateModule(const void* position) override {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    const std::string_view file(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    Dl_info info{};
    const auto base = dladdr(position, &info) != 0 ? info.dli_fbase : nullptr;
    return {std::string(file.substr(file.rfind('/') + 1)),
            reinterpret_cast<std::uintptr_t>(position) - reinterpret_cast<std::uintptr_t>(base)};
  }

  void CharToOemA(char*) override {}

  bool IsDebuggerPresent() override { return false; }

 private:
  // Room for one unit in any charset, with a stateful one's shift sequences
  // around it (ISO-2022-JP: 3 + 2 + 3 bytes).
  static constexpr std::size_t MaxIconvBytesPerUnit = 32;

  BOOL Fail(DWORD code) {
    last_error_ = code;
    return FALSE;
  }

  bool IsClosedToProgram(int fd) const {
    return std::find(closed_to_program_.begin(), closed_to_program_.end(), fd) !=
           closed_to_program_.end();
  }

  // Each unit is converted by itself, from the initial shift state and back
  // to it, so a stateful charset's bytes stand alone whatever comes next. The
  // converter is made at the first unit: a run that prints no string never
  // loads one.
  int EncodeUnitThroughIconv(char16_t unit, char* out) {
    if (!converter_tried_) {
      converter_tried_ = true;
      converter_ = iconv_open(charset_.c_str(), "UTF-16LE");
    }
    if (converter_ == NoConverter) {
      out[0] = unit < 0x80 ? static_cast<char>(unit) : '?';
      return 1;
    }
    char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    char* in_next = in;
    std::size_t in_left = sizeof in;
    char* out_next = out;
    std::size_t out_left = MaxIconvBytesPerUnit;
    iconv(converter_, nullptr, nullptr, nullptr, nullptr);
    const bool converted =
        iconv(converter_, &in_next, &in_left, &out_next, &out_left) != std::size_t(-1) &&
        iconv(converter_, nullptr, nullptr, &out_next, &out_left) != std::size_t(-1) &&
        out_next != out;
    if (!converted) {
      out[0] = '?';
      return 1;
    }
    return static_cast<int>(out_next - out);
  }

  std::vector<int> closed_to_program_;
  std::string charset_;
  UINT code_page_;
  DWORD last_error_ = ERROR_SUCCESS;
  iconv_t converter_ = NoConverter;
  bool converter_tried_ = false;
};

}  // namespace

std::unique_ptr<ConsolePlatform> OpenConsolePlatform() {
  std::vector<int> closed = ReserveClosedStandardDescriptors();
  // A reader that went away is then a write error, not the end of the process.
  std::signal(SIGPIPE, SIG_IGN);
  return std::make_unique<LinuxConsolePlatform>(std::move(closed));
}

}  // namespace hidlist
