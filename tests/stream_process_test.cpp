// The real program as a process whose standard streams break under it: a
// reader that leaves mid-run, and input that never ends its line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/sysfs_tree.h"

namespace hidlist {
namespace {

using testing::InputKind;
using testing::OutputKind;
using testing::ProcessResult;
using testing::ProcessSetup;
using testing::RunProcess;

constexpr int TimeoutSeconds = 30;

struct LeavingReaderRun {
  int ExitStatus = -1;  // -1 when killed by a signal or the timeout
  int Signal = 0;
  bool TimedOut = false;
  std::string Read;  // what the reader took before it left
  std::string Err;
  int PipeCapacity = 0;
};

// A descriptor moved to 10 or above, so that placing it on 0, 1 or 2 in the
// child never lands on one of the others.
int High(int fd) {
  const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
  ::close(fd);
  return high;
}

// Runs argv with standard output a pipe of the smallest capacity, whose reader
// takes `take` bytes and then closes its end while the program still runs.
// Standard input is /dev/null, or with lineAfterLeaving a pipe that gets a
// line only once the reader has gone, so the program waits until then.
LeavingReaderRun RunWithLeavingReader(const std::vector<std::string>& argv, std::size_t take,
                                      bool lineAfterLeaving) {
  LeavingReaderRun run;
  int out[2];
  int in[2] = {-1, -1};
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  out[0] = High(out[0]);
  out[1] = High(out[1]);
  run.PipeCapacity = ::fcntl(out[1], F_SETPIPE_SZ, 4096);
  if (lineAfterLeaving) {
    if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    in[0] = High(in[0]);
    in[1] = High(in[1]);
  } else {
    in[0] = High(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  }
  char errPath[] = "/tmp/hidlist-stream-XXXXXX";
  const int err = High(::mkstemp(errPath));

  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork");
  if (child == 0) {
    // The program must ignore SIGPIPE itself; it does not inherit that here.
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err, 2);
    ::execv(pointers[0], pointers.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(TimeoutSeconds);
  while (run.Read.size() < take && std::chrono::steady_clock::now() < deadline) {
    pollfd poller{out[0], POLLIN, 0};
    if (::poll(&poller, 1, 50) <= 0) continue;
    char block[4096];
    const std::size_t wanted = std::min(sizeof block, take - run.Read.size());
    const ssize_t got = ::read(out[0], block, wanted);
    if (got <= 0) break;
    run.Read.append(block, static_cast<std::size_t>(got));
  }
  ::close(out[0]);
  if (lineAfterLeaving) {
    ::signal(SIGPIPE, SIG_IGN);
    [[maybe_unused]] const ssize_t written = ::write(in[1], "\r\n", 2);
    ::close(in[1]);
  }

  int status = 0;
  for (;;) {
    if (::waitpid(child, &status, WNOHANG) == child) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      run.TimedOut = true;
      break;
    }
    ::usleep(2000);
  }
  if (WIFEXITED(status) && !run.TimedOut) run.ExitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.Signal = WTERMSIG(status);
  run.Err = testing::ReadFileText(errPath);
  std::remove(errPath);
  return run;
}

bool IsReport(const std::string& err, int code) {
  const std::regex report(
      "Exception EInOutError in module hidlist_testroot at [0-9A-F]{8}\\.\r\n"
      "I/O error " +
      std::to_string(code) + "\\.\r\n\r\n");
  return std::regex_match(err, report);
}

// What the program prints for tree when its output can all be written.
std::string WholeListing(const SysfsTree& tree) {
  ProcessSetup setup;
  setup.Argv = {HIDLIST_TESTROOT_PROGRAM, tree.Root()};
  setup.Input = InputKind::DevNull;
  setup.Output = OutputKind::File;
  const ProcessResult result = RunProcess(setup);
  EXPECT_EQ(result.ExitStatus, 0);
  return result.Out;
}

TEST(BrokenStreams, ReaderLeavingMidListingEndsWithTheReportNotASignal) {
  // Twenty devices with the longest strings printed: far more output than the
  // pipe holds, so the program is still writing when the reader leaves.
  SysfsTree tree;
  for (unsigned i = 0; i < 20; ++i) {
    const auto vendor = static_cast<std::uint16_t>(0x1000 + i);
    const auto product = static_cast<std::uint16_t>(0x2000 + i);
    AddUsbHidraw(tree,
                 FakeUsbDevice("1-" + std::to_string(i + 1), vendor, product, "0100",
                               std::string(128, 'M'), std::string(256, 'P')),
                 0, FakeHidDevice(0x0003, vendor, product, "Pad", i + 1, i));
  }
  const std::string whole = WholeListing(tree);
  constexpr std::size_t Take = 256;

  const LeavingReaderRun run =
      RunWithLeavingReader({HIDLIST_TESTROOT_PROGRAM, tree.Root()}, Take, false);
  ASSERT_GT(run.PipeCapacity, 0);
  // Otherwise the program could have written everything before the reader left.
  ASSERT_GT(whole.size(), static_cast<std::size_t>(run.PipeCapacity) + Take + 128);
  EXPECT_FALSE(run.TimedOut);
  EXPECT_EQ(run.Signal, 0);
  EXPECT_EQ(run.ExitStatus, 1);
  EXPECT_TRUE(IsReport(run.Err, 232)) << run.Err;
  EXPECT_EQ(run.Read, whole.substr(0, Take));
}

TEST(BrokenStreams, ReaderLeavingWhileTheProgramWaitsEndsWithTheReport) {
  // The first 128-byte block goes out during the listing; the rest and the
  // prompt wait in the buffer until the line is read, after the reader left.
  SysfsTree tree;
  const FakeUsbDevice keyboard("1-2", 0x046D, 0xC31C, "6400", "Logitech", "USB Keyboard");
  for (unsigned i = 0; i < 2; ++i) {
    AddUsbHidraw(tree, keyboard, i,
                 FakeHidDevice(0x0003, 0x046D, 0xC31C, "Logitech USB Keyboard", i + 1, i));
  }
  const std::string whole = WholeListing(tree);
  ASSERT_GT(whole.size(), 128u);
  ASSERT_LT(whole.size(), 256u);

  const LeavingReaderRun run =
      RunWithLeavingReader({HIDLIST_TESTROOT_PROGRAM, tree.Root()}, 128, true);
  EXPECT_FALSE(run.TimedOut);
  EXPECT_EQ(run.Signal, 0);
  EXPECT_EQ(run.ExitStatus, 1);
  EXPECT_TRUE(IsReport(run.Err, 232)) << run.Err;
  EXPECT_EQ(run.Read, whole.substr(0, 128));
}

TEST(BrokenStreams, InputWithoutALineEndIsReadToItsEndFromAFileOrAPipe) {
  SysfsTree tree;
  tree.AddDir("sys/class/hidraw");
  // 8 MiB with no LF, CR or Ctrl+Z: the wait ends only at the end of input.
  const std::string input(8 << 20, 'x');
  for (InputKind kind : {InputKind::File, InputKind::Pipe}) {
    ProcessSetup setup;
    setup.Argv = {HIDLIST_TESTROOT_PROGRAM, tree.Root()};
    setup.Input = kind;
    setup.InputText = input;
    setup.Output = OutputKind::Pipe;
    setup.TimeoutSeconds = 60;
    const ProcessResult result = RunProcess(setup);
    EXPECT_FALSE(result.TimedOut);
    EXPECT_EQ(result.ExitStatus, 0);
    EXPECT_EQ(result.Out, "Press ENTER to return.........\r\n");
    EXPECT_EQ(result.Err, "");
  }
}

}  // namespace
}  // namespace hidlist
