#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace hidlist::testing {

namespace {

// A whole file's bytes; empty when it cannot be read.
std::string ReadFileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// Puts fd on target in the child; -1 closes target.
void Place(int fd, int target) {
  if (fd < 0) {
    close(target);
  } else if (fd != target) {
    dup2(fd, target);
    close(fd);
  } else {
    fcntl(fd, F_SETFD, 0);
  }
}

// Writes the text into the pipe and closes it. The program may be gone
// early, which is fine.
void WriteAndClose(int& writer, const std::string& text) {
  if (writer < 0) return;
  signal(SIGPIPE, SIG_IGN);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(writer, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(writer);
  writer = -1;
}

}  // namespace

ProcessResult RunProcess(const ProcessSetup& setup) {
  char folder[] = "/tmp/hidlist-process-XXXXXX";
  if (mkdtemp(folder) == nullptr) throw std::runtime_error("mkdtemp failed");
  const std::string in_path = std::string(folder) + "/in";
  const std::string out_path = std::string(folder) + "/out";
  const std::string err_path = std::string(folder) + "/err";

  int in_fd = -1;
  int in_writer = -1;
  switch (setup.Input) {
    case InputKind::Pipe: {
      int fds[2];
      if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
      in_fd = fds[0];
      in_writer = fds[1];
      break;
    }
    case InputKind::File:
      std::ofstream(in_path, std::ios::binary) << setup.InputText;
      in_fd = open(in_path.c_str(), O_RDONLY | O_CLOEXEC);
      break;
    case InputKind::DevNull:
      in_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
      break;
    case InputKind::Directory:
      in_fd = open("/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      break;
    case InputKind::Closed:
      break;
  }

  int out_fd = -1;
  int out_reader = -1;
  switch (setup.Output) {
    case OutputKind::Pipe:
    case OutputKind::PipeWithoutReader: {
      int fds[2];
      if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
      out_fd = fds[1];
      out_reader = fds[0];
      if (setup.Output == OutputKind::PipeWithoutReader) {
        close(out_reader);
        out_reader = -1;
      }
      if (setup.ReaderLeavesAfter && fcntl(out_fd, F_SETPIPE_SZ, 4096) != 4096) {
        throw std::runtime_error("cannot set the pipe's capacity");
      }
      break;
    }
    case OutputKind::File:
      out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      break;
    case OutputKind::DevFull:
      out_fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
      break;
    case OutputKind::Closed:
      break;
  }
  const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);

  std::vector<std::string> args = setup.Argv;
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    // The program must ignore SIGPIPE itself; it does not inherit that here.
    signal(SIGPIPE, SIG_DFL);
    // Move the descriptors out of the way before placing them.
    const int in_high = in_fd >= 0 ? fcntl(in_fd, F_DUPFD, 10) : -1;
    const int out_high = out_fd >= 0 ? fcntl(out_fd, F_DUPFD, 10) : -1;
    const int err_high = fcntl(err_fd, F_DUPFD, 10);
    Place(in_high, 0);
    Place(out_high, 1);
    Place(err_high, 2);
    execv(setup.Program.empty() ? argv[0] : setup.Program.c_str(), argv.data());
    _exit(127);
  }

  if (in_fd >= 0) close(in_fd);
  if (out_fd >= 0) close(out_fd);
  close(err_fd);
  if (!setup.ReaderLeavesAfter) WriteAndClose(in_writer, setup.InputText);
  const std::size_t take = setup.ReaderLeavesAfter.value_or(static_cast<std::size_t>(-1));

  ProcessResult result;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(setup.TimeoutSeconds);
  int status = 0;
  bool exited = false;
  // Reads standard output until the program has ended and the pipe is empty.
  while (!exited || out_reader >= 0) {
    if (out_reader >= 0 && result.Out.size() >= take) {
      close(out_reader);
      out_reader = -1;
      WriteAndClose(in_writer, setup.InputText);
    }
    pollfd poller{out_reader, POLLIN, 0};
    if (out_reader >= 0 && poll(&poller, 1, 50) > 0) {
      char block[4096];
      const ssize_t n = read(out_reader, block, std::min(sizeof block, take - result.Out.size()));
      if (n > 0) {
        result.Out.append(block, static_cast<std::size_t>(n));
      } else {
        close(out_reader);
        out_reader = -1;
      }
    } else if (out_reader < 0) {
      usleep(2000);
    }
    if (exited) continue;
    if (waitpid(child, &status, WNOHANG) == child) {
      exited = true;
    } else if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      result.TimedOut = true;
      exited = true;
    }
  }
  WriteAndClose(in_writer, "");

  if (WIFEXITED(status) && !result.TimedOut) result.ExitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.Signal = WTERMSIG(status);
  if (setup.Output == OutputKind::File) result.Out = ReadFileText(out_path);
  result.Err = ReadFileText(err_path);
  std::filesystem::remove_all(folder);
  return result;
}

}  // namespace hidlist::testing
