#include "console/console_platform_posix.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <link.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "console/unit_conversion.h"
#include "device_api/posix_errors.h"

namespace hidlist {

namespace {

// A handle is its descriptor plus one: descriptor 0 must not come out as the
// null handle, which the channel takes as "no stream".
constexpr std::uintptr_t HandleBias = 1;

const iconv_t NoConverter = reinterpret_cast<iconv_t>(-1);

int DescriptorFromHandle(HANDLE handle) {
  auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value < HandleBias || value - HandleBias > static_cast<std::uintptr_t>(INT_MAX)) return -1;
  return static_cast<int>(value - HandleBias);
}

bool IsDescriptorOpen(int fd) { return fd >= 0 && fcntl(fd, F_GETFD) != -1; }

bool IsUtf8Charset(const std::string& charset) {
  std::string folded;
  for (char c : charset) {
    if (c == '-' || c == '_') continue;
    folded += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return folded == "UTF8";
}

std::string Basename(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExecutablePath() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0) return std::string();
  return std::string(path, static_cast<std::size_t>(length));
}

// Blocks until fd is ready for events. A descriptor may come inherited
// non-blocking, and its EAGAIN is not a failure of the stream.
int WaitUntilReady(int fd, short events) {
  pollfd entry{fd, events, 0};
  while (poll(&entry, 1, -1) == -1) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// Something that holds the slot of a closed standard descriptor. Without
// /dev/null (a bare chroot) any descriptor serves.
int OpenPlaceholder() {
  int fd = open("/dev/null", O_RDWR);
  if (fd >= 0) return fd;
  int ends[2];
  if (pipe(ends) != 0) return -1;
  close(ends[1]);
  return ends[0];
}

// Fills each of descriptors 0, 1 and 2 that is closed, so that no file opened
// later takes its number: with standard output closed, the listing would
// otherwise be written into the first device node opened. Returns the
// descriptors that were closed, which stay closed to the program.
std::vector<int> ReserveClosedStandardDescriptors() {
  std::vector<int> closed;
  for (int fd = 0; fd <= 2; ++fd) {
    if (!IsDescriptorOpen(fd)) closed.push_back(fd);
  }
  for (int fd : closed) {
    int placeholder = OpenPlaceholder();
    if (placeholder >= 0 && placeholder != fd) {
      dup2(placeholder, fd);
      close(placeholder);
    }
  }
  return closed;
}

class PosixConsolePlatform final : public ConsolePlatform {
 public:
  PosixConsolePlatform(const PosixConsoleOptions& options, std::vector<int> closedAtStart)
      : standard_fds_{options.InputFd, options.OutputFd, options.ErrorFd},
        closed_to_program_(std::move(closedAtStart)) {
    std::string charset = options.Charset.empty() ? nl_langinfo(CODESET) : options.Charset;
    if (IsUtf8Charset(charset)) {
      code_page_ = CP_UTF8;
    } else {
      code_page_ = CP_ACP;
      converter_ = iconv_open(charset.c_str(), "UTF-16LE");
    }
  }

  ~PosixConsolePlatform() override {
    if (converter_ != NoConverter) iconv_close(converter_);
  }

  PosixConsolePlatform(const PosixConsolePlatform&) = delete;
  PosixConsolePlatform& operator=(const PosixConsolePlatform&) = delete;

  HANDLE GetStdHandle(DWORD nStdHandle) override {
    int fd = -1;
    if (nStdHandle == STD_INPUT_HANDLE) fd = standard_fds_[0];
    if (nStdHandle == STD_OUTPUT_HANDLE) fd = standard_fds_[1];
    if (nStdHandle == STD_ERROR_HANDLE) fd = standard_fds_[2];
    if (IsClosedToProgram(fd) || !IsDescriptorOpen(fd)) {
      last_error_ = ERROR_INVALID_HANDLE;
      return INVALID_HANDLE_VALUE;
    }
    return HandleFromDescriptor(fd);
  }

  DWORD GetFileType(HANDLE hFile) override {
    int fd = UsableDescriptor(hFile);
    if (fd < 0) {
      last_error_ = ERROR_INVALID_HANDLE;
      return FILE_TYPE_UNKNOWN;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
      last_error_ = WindowsErrorFromErrno(errno);
      return FILE_TYPE_UNKNOWN;
    }
    if (S_ISCHR(status.st_mode)) return FILE_TYPE_CHAR;
    if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) return FILE_TYPE_PIPE;
    return FILE_TYPE_DISK;
  }

  // The channel closes only its standard output. The descriptor stays open,
  // so that its slot stays filled for the same reason as at the start; it is
  // closed to the program only.
  BOOL CloseHandle(HANDLE hObject) override {
    int fd = UsableDescriptor(hObject);
    if (fd < 0 || !IsDescriptorOpen(fd)) return Fail(ERROR_INVALID_HANDLE);
    closed_to_program_.push_back(fd);
    return 1;
  }

  BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
                 DWORD* lpNumberOfBytesWritten) override {
    *lpNumberOfBytesWritten = 0;
    int fd = UsableDescriptor(hFile);
    if (fd < 0) return Fail(ERROR_INVALID_HANDLE);
    const char* next = static_cast<const char*>(lpBuffer);
    DWORD written = 0;
    while (written < nNumberOfBytesToWrite) {
      ssize_t count = write(fd, next + written, nNumberOfBytesToWrite - written);
      if (count > 0) {
        written += static_cast<DWORD>(count);
        *lpNumberOfBytesWritten = written;
        continue;
      }
      if (count == 0) return Fail(ERROR_GEN_FAILURE);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        int error = WaitUntilReady(fd, POLLOUT);
        if (error != 0) return Fail(WindowsErrorFromErrno(error));
        continue;
      }
      return Fail(WindowsErrorFromErrno(errno));
    }
    return 1;
  }

  BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                DWORD* lpNumberOfBytesRead) override {
    *lpNumberOfBytesRead = 0;
    int fd = UsableDescriptor(hFile);
    if (fd < 0) return Fail(ERROR_INVALID_HANDLE);
    for (;;) {
      ssize_t count = read(fd, lpBuffer, nNumberOfBytesToRead);
      if (count >= 0) {
        *lpNumberOfBytesRead = static_cast<DWORD>(count);
        return 1;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        int error = WaitUntilReady(fd, POLLIN);
        if (error != 0) return Fail(WindowsErrorFromErrno(error));
        continue;
      }
      return Fail(WindowsErrorFromErrno(errno));
    }
  }

  DWORD GetLastError() override { return last_error_; }

  UINT NarrowCodePage() override { return code_page_; }

  // As the channel calls it: flags 0, a code page from NarrowCodePage and an
  // area far larger than the units need.
  int WideCharToMultiByte(UINT CodePage, DWORD, const char16_t* lpWideCharStr, int cchWideChar,
                          char* lpMultiByteStr, int cbMultiByte) override {
    bool utf8 = CodePage == CP_UTF8 || code_page_ == CP_UTF8;
    int total = 0;
    for (int i = 0; i < cchWideChar; ++i) {
      char piece[MaxIconvBytesPerUnit];
      int length = utf8 ? EncodeUnitAsUtf8(lpWideCharStr[i], piece)
                        : EncodeUnitThroughIconv(lpWideCharStr[i], piece);
      if (length > cbMultiByte - total) {
        last_error_ = ERROR_INSUFFICIENT_BUFFER;
        return 0;
      }
      std::memcpy(lpMultiByteStr + total, piece, static_cast<std::size_t>(length));
      total += length;
    }
    return total;
  }

  ModuleLocation LocateModule(const void* position) override {
    ModuleLocation location;
    Dl_info info{};
    link_map* module = nullptr;
    bool found = dladdr1(position, &info, reinterpret_cast<void**>(&module), RTLD_DL_LINKMAP) != 0;
    // For the main program glibc gives argv[0], the name it was started
    // under; the module's own file is the executable's.
    if (found && module != nullptr && module->l_name != nullptr && module->l_name[0] != '\0') {
      location.Name = Basename(module->l_name);
    } else {
      location.Name = Basename(ExecutablePath());
    }
    auto address = reinterpret_cast<std::uintptr_t>(position);
    auto base = found ? reinterpret_cast<std::uintptr_t>(info.dli_fbase) : 0;
    location.Offset = base != 0 && address >= base ? address - base : address;
    return location;
  }

  void CharToOemA(char*) override {}

  bool IsDebuggerPresent() override { return false; }

 private:
  // Room for one unit in any charset, with a stateful one's shift sequences
  // around it (ISO-2022-JP: 3 + 2 + 3 bytes).
  static constexpr int MaxIconvBytesPerUnit = 32;

  BOOL Fail(DWORD code) {
    last_error_ = code;
    return 0;
  }

  bool IsClosedToProgram(int fd) const {
    return std::find(closed_to_program_.begin(), closed_to_program_.end(), fd) !=
           closed_to_program_.end();
  }

  // The descriptor of a handle the program may still use, else -1.
  int UsableDescriptor(HANDLE handle) const {
    int fd = DescriptorFromHandle(handle);
    return fd >= 0 && !IsClosedToProgram(fd) ? fd : -1;
  }

  // Each unit is converted by itself, from the initial shift state and back
  // to it, so a stateful charset's bytes stand alone whatever comes next.
  int EncodeUnitThroughIconv(char16_t unit, char* out) {
    if (converter_ == NoConverter) {
      out[0] = unit < 0x80 ? static_cast<char>(unit) : '?';
      return 1;
    }
    char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    char* inNext = in;
    std::size_t inLeft = sizeof in;
    char* outNext = out;
    std::size_t outLeft = MaxIconvBytesPerUnit;
    iconv(converter_, nullptr, nullptr, nullptr, nullptr);
    bool converted = iconv(converter_, &inNext, &inLeft, &outNext, &outLeft) != std::size_t(-1) &&
                     inLeft == 0 &&
                     iconv(converter_, nullptr, nullptr, &outNext, &outLeft) != std::size_t(-1) &&
                     outNext != out;
    if (!converted) {
      out[0] = '?';
      return 1;
    }
    return static_cast<int>(outNext - out);
  }

  int standard_fds_[3];
  std::vector<int> closed_to_program_;
  DWORD last_error_ = ERROR_SUCCESS;
  UINT code_page_ = CP_UTF8;
  iconv_t converter_ = NoConverter;
};

}  // namespace

HANDLE HandleFromDescriptor(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(fd) + HandleBias);
}

std::unique_ptr<ConsolePlatform> OpenPosixConsolePlatform(const PosixConsoleOptions& options) {
  // A reader that went away is then a write error, not the end of the process.
  std::signal(SIGPIPE, SIG_IGN);
  return std::make_unique<PosixConsolePlatform>(options, std::vector<int>());
}

std::unique_ptr<ConsolePlatform> OpenConsolePlatform() {
  std::vector<int> closed = ReserveClosedStandardDescriptors();
  std::signal(SIGPIPE, SIG_IGN);
  return std::make_unique<PosixConsolePlatform>(PosixConsoleOptions(), std::move(closed));
}

}  // namespace hidlist
