#include "console/console_platform_posix.h"
#include "device_api/posix_errors.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace hidlist {
namespace {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

struct Pipe {
  UniqueFd Read;
  UniqueFd Write;
};

Pipe MakePipe() {
  int ends[2];
  if (pipe(ends) != 0) return Pipe();
  return Pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
}

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

// A descriptor number that is certainly not open.
int ClosedDescriptor() { return UniqueFd(open("/dev/null", O_RDONLY)).Get(); }

std::unique_ptr<ConsolePlatform> Open(int in, int out, std::string charset = "UTF-8") {
  PosixConsoleOptions options;
  options.InputFd = in;
  options.OutputFd = out;
  options.ErrorFd = ClosedDescriptor();
  options.Charset = std::move(charset);
  return OpenPosixConsolePlatform(options);
}

std::unique_ptr<ConsolePlatform> OpenWithCharset(std::string charset) {
  int closed = ClosedDescriptor();
  return Open(closed, closed, std::move(charset));
}

std::string ReadAll(int fd) {
  std::string data;
  char chunk[4096];
  ssize_t count;
  while ((count = read(fd, chunk, sizeof chunk)) > 0)
    data.append(chunk, static_cast<size_t>(count));
  return data;
}

TEST(PosixConsolePlatformTest, FileTypes) {
  auto platform = OpenWithCharset("UTF-8");
  auto typeOf = [&](int fd) { return platform->GetFileType(HandleFromDescriptor(fd)); };

  Pipe pipe = MakePipe();
  EXPECT_EQ(typeOf(pipe.Write.Get()), FILE_TYPE_PIPE);
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  UniqueFd socketEnd(pair[0]), otherEnd(pair[1]);
  EXPECT_EQ(typeOf(socketEnd.Get()), FILE_TYPE_PIPE);
  UniqueFd regular(open("/proc/self/exe", O_RDONLY));
  EXPECT_EQ(typeOf(regular.Get()), FILE_TYPE_DISK);
  UniqueFd null(open("/dev/null", O_RDWR));
  EXPECT_EQ(typeOf(null.Get()), FILE_TYPE_CHAR);

  EXPECT_EQ(typeOf(ClosedDescriptor()), FILE_TYPE_UNKNOWN);
  EXPECT_EQ(platform->GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(PosixConsolePlatformTest, WriteFailuresGiveTheirCodesAndTheProcessLives) {
  // The layer, not an earlier test, must be what keeps SIGPIPE from killing us.
  struct sigaction defaultAction = {};
  defaultAction.sa_handler = SIG_DFL;
  struct sigaction previous;
  ASSERT_EQ(sigaction(SIGPIPE, &defaultAction, &previous), 0);
  Pipe pipe = MakePipe();
  auto platform = Open(pipe.Read.Get(), pipe.Write.Get());
  pipe.Read.Reset();
  DWORD written = 99;
  BOOL ok = platform->WriteFile(HandleFromDescriptor(pipe.Write.Get()), "data", 4, &written);
  DWORD error = platform->GetLastError();
  sigaction(SIGPIPE, &previous, nullptr);
  EXPECT_FALSE(ok);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(error, ERROR_NO_DATA);

  UniqueFd full(open("/dev/full", O_WRONLY));
  ASSERT_GE(full.Get(), 0);
  written = 99;
  EXPECT_FALSE(platform->WriteFile(HandleFromDescriptor(full.Get()), "data", 4, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(platform->GetLastError(), ERROR_DISK_FULL);
}

TEST(PosixConsolePlatformTest, NonBlockingPipeTakesEveryByteInOrder) {
  Pipe pipe = MakePipe();
  ASSERT_EQ(fcntl(pipe.Write.Get(), F_SETFL, O_NONBLOCK), 0);
  int capacity = fcntl(pipe.Write.Get(), F_GETPIPE_SZ);
  ASSERT_GT(capacity, 0);
  std::string data(static_cast<size_t>(capacity) * 8 + 123, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);

  auto platform = OpenWithCharset("UTF-8");
  std::atomic<bool> writeReturned{false};
  std::string received;
  std::thread drainer([&] {
    // Nothing is taken out until the pipe is full, so the writer has had a
    // partial write and an EAGAIN before any room comes free.
    int queued = 0;
    while (!writeReturned && ioctl(pipe.Read.Get(), FIONREAD, &queued) == 0 && queued < capacity) {
      std::this_thread::yield();
    }
    received = ReadAll(pipe.Read.Get());
  });
  DWORD written = 0;
  BOOL ok = platform->WriteFile(HandleFromDescriptor(pipe.Write.Get()), data.data(),
                                static_cast<DWORD>(data.size()), &written);
  writeReturned = true;
  pipe.Write.Reset();
  drainer.join();

  EXPECT_TRUE(ok) << "error " << platform->GetLastError();
  EXPECT_EQ(written, data.size());
  EXPECT_TRUE(received == data) << "received " << received.size() << " of " << data.size();
}

// True once thread tid sleeps in poll; also true when the kernel does not
// tell, so that the caller goes on.
bool IsWaitingInPoll(pid_t tid) {
  std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  if (!(file >> number)) return true;
#ifdef SYS_poll
  if (number == SYS_poll) return true;
#endif
  return number == SYS_ppoll;
}

TEST(PosixConsolePlatformTest, ReadWaitsOnNonBlockingInputThenGivesEndOfInput) {
  Pipe pipe = MakePipe();
  ASSERT_EQ(fcntl(pipe.Read.Get(), F_SETFL, O_NONBLOCK), 0);
  auto platform = OpenWithCharset("UTF-8");

  pid_t readerTid = static_cast<pid_t>(syscall(SYS_gettid));
  std::atomic<bool> readReturned{false};
  std::thread writer([&] {
    // Writes only once the reader has met EAGAIN and waits.
    while (!readReturned && !IsWaitingInPoll(readerTid)) std::this_thread::yield();
    EXPECT_EQ(write(pipe.Write.Get(), "late", 4), 4);
  });
  char buffer[8] = {};
  DWORD count = 0;
  BOOL ok =
      platform->ReadFile(HandleFromDescriptor(pipe.Read.Get()), buffer, sizeof buffer, &count);
  readReturned = true;
  writer.join();

  EXPECT_TRUE(ok) << "error " << platform->GetLastError();
  EXPECT_EQ(std::string_view(buffer, count), "late");

  pipe.Write.Reset();
  count = 99;
  EXPECT_TRUE(
      platform->ReadFile(HandleFromDescriptor(pipe.Read.Get()), buffer, sizeof buffer, &count));
  EXPECT_EQ(count, 0u);
}

TEST(PosixConsolePlatformTest, ClosedOutputKeepsItsSlotAndIsGoneToTheProgram) {
  Pipe pipe = MakePipe();
  auto platform = Open(pipe.Read.Get(), pipe.Write.Get());

  HANDLE output = platform->GetStdHandle(STD_OUTPUT_HANDLE);
  ASSERT_TRUE(platform->CloseHandle(output));
  EXPECT_TRUE(IsOpen(pipe.Write.Get()));
  EXPECT_EQ(platform->GetStdHandle(STD_OUTPUT_HANDLE), INVALID_HANDLE_VALUE);
  EXPECT_EQ(platform->GetLastError(), ERROR_INVALID_HANDLE);
  DWORD written = 0;
  EXPECT_FALSE(platform->WriteFile(output, "x", 1, &written));
  EXPECT_EQ(platform->GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(platform->CloseHandle(output));
  EXPECT_NE(platform->GetStdHandle(STD_INPUT_HANDLE), INVALID_HANDLE_VALUE);
}

// Runs OpenConsolePlatform in a child whose descriptors in closedFds are
// closed and the other standard ones open; 0 when everything held, else the
// number of the first check that failed.
int ReservationFailure(std::initializer_list<int> closedFds) {
  pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) {
    int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
    if (null > 2) close(null);
    for (int fd : closedFds) close(fd);
    std::signal(SIGPIPE, SIG_DFL);

    auto platform = OpenConsolePlatform();
    const DWORD selectors[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int fd = 0; fd <= 2; ++fd) {
      bool wasClosed = std::find(closedFds.begin(), closedFds.end(), fd) != closedFds.end();
      HANDLE handle = platform->GetStdHandle(selectors[fd]);
      if (wasClosed && handle != INVALID_HANDLE_VALUE) _exit(10 + fd);
      if (wasClosed && platform->GetLastError() != ERROR_INVALID_HANDLE) _exit(20 + fd);
      // Descriptor 0 too must not come out as the null handle.
      if (!wasClosed && (handle != HandleFromDescriptor(fd) || handle == nullptr)) _exit(30 + fd);
      if (!IsOpen(fd)) _exit(40 + fd);
    }
    if (open("/dev/null", O_RDONLY) < 3) _exit(50);
    struct sigaction action;
    if (sigaction(SIGPIPE, nullptr, &action) != 0 || action.sa_handler != SIG_IGN) _exit(60);
    _exit(0);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return 2;
  if (!WIFEXITED(status)) return 3;
  return WEXITSTATUS(status);
}

TEST(PosixConsolePlatformTest, OpenConsolePlatformReservesClosedStandardDescriptors) {
  // Codes: 1x handle not invalid, 2x wrong error, 3x open stream refused,
  // 4x slot left free, 50 a new file took a standard slot, 60 SIGPIPE kept.
  EXPECT_EQ(ReservationFailure({}), 0);
  EXPECT_EQ(ReservationFailure({1}), 0);
  EXPECT_EQ(ReservationFailure({0, 2}), 0);
  EXPECT_EQ(ReservationFailure({0, 1, 2}), 0);
}

// The errno values a console read, write or fstat can meet, whose codes the
// fatal report prints or the channel acts on.
TEST(PosixConsolePlatformTest, WindowsErrorFromErrno) {
  const std::pair<int, DWORD> table[] = {
      {EPIPE, ERROR_NO_DATA},
      {ENOSPC, ERROR_DISK_FULL},
      {EDQUOT, ERROR_DISK_FULL},
      {EBADF, ERROR_INVALID_HANDLE},
      {EISDIR, ERROR_INVALID_FUNCTION},
      {EINVAL, ERROR_INVALID_PARAMETER},
      {EIO, ERROR_IO_DEVICE},
      {EFBIG, ERROR_FILE_TOO_LARGE},
      {ENXIO, ERROR_DEVICE_NOT_CONNECTED},
      {ECONNRESET, ERROR_BROKEN_PIPE},
      {EAGAIN, ERROR_GEN_FAILURE},
      {0, ERROR_GEN_FAILURE},
  };
  for (const auto& [err, expected] : table) {
    EXPECT_EQ(WindowsErrorFromErrno(err), expected) << "errno " << err;
  }
}

// The bytes WideCharToMultiByte gives for units, through code page cp.
std::string Convert(ConsolePlatform& platform, std::u16string_view units, UINT cp) {
  char out[64];
  int length = platform.WideCharToMultiByte(cp, 0, units.data(), static_cast<int>(units.size()),
                                            out, sizeof out);
  EXPECT_GT(length, 0) << "error " << platform.GetLastError();
  return std::string(out, static_cast<size_t>(length > 0 ? length : 0));
}

TEST(PosixConsolePlatformTest, Utf8Conversion) {
  auto platform = OpenWithCharset("UTF-8");
  ASSERT_EQ(platform->NarrowCodePage(), CP_UTF8);
  EXPECT_EQ(OpenWithCharset("utf8")->NarrowCodePage(), CP_UTF8);
  EXPECT_EQ(Convert(*platform, u"A\u00E9\u20AC", CP_UTF8), "A\xC3\xA9\xE2\x82\xAC");

  // Too small an area: nothing written past it, and the call fails.
  char out[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(platform->WideCharToMultiByte(CP_UTF8, 0, u"A\u00E9", 2, out, 2), 0);
  EXPECT_EQ(platform->GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(out[2], '#');
}

TEST(PosixConsolePlatformTest, LocaleCharsetConversionThroughIconv) {
  auto latin1 = OpenWithCharset("ISO-8859-1");
  ASSERT_EQ(latin1->NarrowCodePage(), CP_ACP);
  EXPECT_EQ(Convert(*latin1, u"A\u00E9\u20AC", CP_ACP), "A\xE9?");
  // Lone halves are '?', and a failed unit leaves nothing behind for the next.
  EXPECT_EQ(Convert(*latin1, std::u16string{0xD800, 0xE9, 0xDC00, u'A'}, CP_THREAD_ACP), "?\xE9?A");
  // CP_UTF8 stays UTF-8 whatever the locale's set.
  EXPECT_EQ(Convert(*latin1, u"\u00E9", CP_UTF8), "\xC3\xA9");

  auto eucJp = OpenWithCharset("EUC-JP");
  // Thai is outside EUC-JP.
  EXPECT_EQ(Convert(*eucJp, u"A\u3042\u0E01", CP_ACP), "A\xA4\xA2?");

  // Stateful: every unit comes with its own shift in and back out, so the
  // bytes of each unit stand alone.
  auto jis = OpenWithCharset("ISO-2022-JP");
  EXPECT_EQ(Convert(*jis, u"\u3042\u3044A\u00E9\u3042", CP_ACP),
            "\x1B$B$\"\x1B(B"
            "\x1B$B$$\x1B(B"
            "A?"
            "\x1B$B$\"\x1B(B");

  auto unknown = OpenWithCharset("NO-SUCH-CHARSET");
  EXPECT_EQ(unknown->NarrowCodePage(), CP_ACP);
  EXPECT_EQ(Convert(*unknown, u"A\u00E9", CP_ACP), "A?");
}

TEST(PosixConsolePlatformTest, CharsetComesFromTheLocale) {
  std::string saved = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  UINT utf8Page = OpenWithCharset("")->NarrowCodePage();
  std::setlocale(LC_CTYPE, "C");
  auto ascii = OpenWithCharset("");
  std::setlocale(LC_CTYPE, saved.c_str());

  EXPECT_EQ(utf8Page, CP_UTF8);
  EXPECT_EQ(ascii->NarrowCodePage(), CP_ACP);
  EXPECT_EQ(Convert(*ascii, u"A\u00E9z", CP_ACP), "A?z");
}

__attribute__((noinline)) int LocatedFunction(int value) { return value * 3 + 1; }

TEST(PosixConsolePlatformTest, LocateModule) {
  char exe[4096];
  ssize_t length = readlink("/proc/self/exe", exe, sizeof exe);
  ASSERT_GT(length, 0);
  std::string exePath(exe, static_cast<size_t>(length));
  std::string exeName = exePath.substr(exePath.rfind('/') + 1);
  struct stat status;
  ASSERT_EQ(stat(exePath.c_str(), &status), 0);

  auto platform = OpenWithCharset("UTF-8");
  ModuleLocation own = platform->LocateModule(reinterpret_cast<const void*>(&LocatedFunction));
  EXPECT_EQ(own.Name, exeName);
  EXPECT_GT(own.Offset, 0u);
  EXPECT_LT(own.Offset, static_cast<std::uintptr_t>(status.st_size));

  // A failure other than the channel's has no position.
  ModuleLocation nowhere = platform->LocateModule(nullptr);
  EXPECT_EQ(nowhere.Name, exeName);
  EXPECT_EQ(nowhere.Offset, 0u);
}

}  // namespace
}  // namespace hidlist
