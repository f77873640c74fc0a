#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace hidlist::testing {

namespace {

std::string TempPath(const char* tag) {
  char name[] = "/tmp/hidlist-process-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  close(fd);
  return std::string(name) + tag;
}

void WriteFileText(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
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

}  // namespace

std::string ReadFileText(const std::string& path) {
  std::string text;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    char block[4096];
    std::size_t count;
    while ((count = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, count);
    std::fclose(file);
  }
  return text;
}

ProcessResult RunProcess(const ProcessSetup& setup) {
  const std::string base = TempPath("");
  const std::string in_path = base + ".in";
  const std::string out_path = base + ".out";
  const std::string err_path = base + ".err";
  std::remove(base.c_str());

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
      WriteFileText(in_path, setup.InputText);
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

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  for (const std::string& entry : setup.Environment) environment.push_back(entry);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = setup.Argv;
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    signal(SIGPIPE, SIG_DFL);
    // Move the descriptors out of the way before placing them.
    const int in_high = in_fd >= 0 ? fcntl(in_fd, F_DUPFD, 10) : -1;
    const int out_high = out_fd >= 0 ? fcntl(out_fd, F_DUPFD, 10) : -1;
    const int err_high = fcntl(err_fd, F_DUPFD, 10);
    Place(in_high, 0);
    Place(out_high, 1);
    Place(err_high, 2);
    execve(setup.Program.empty() ? argv[0] : setup.Program.c_str(), argv.data(), envp.data());
    _exit(127);
  }

  if (in_fd >= 0) close(in_fd);
  if (out_fd >= 0) close(out_fd);
  close(err_fd);
  if (in_writer >= 0) {
    // Small inputs fit in the pipe; the writer may be gone early, which is fine.
    signal(SIGPIPE, SIG_IGN);
    std::size_t done = 0;
    while (done < setup.InputText.size()) {
      const ssize_t n =
          write(in_writer, setup.InputText.data() + done, setup.InputText.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(in_writer);
  }

  ProcessResult result;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(setup.TimeoutSeconds);
  int status = 0;
  bool exited = false;
  while (!exited) {
    if (out_reader >= 0) {
      pollfd poller{out_reader, POLLIN, 0};
      if (poll(&poller, 1, 50) > 0) {
        char block[4096];
        const ssize_t n = read(out_reader, block, sizeof block);
        if (n > 0) {
          result.Out.append(block, static_cast<std::size_t>(n));
          continue;
        }
        close(out_reader);
        out_reader = -1;
      }
    } else {
      usleep(2000);
    }
    if (waitpid(child, &status, WNOHANG) == child) {
      exited = true;
    } else if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      result.TimedOut = true;
      exited = true;
    }
  }
  // Whatever is still in the pipe after the exit.
  while (out_reader >= 0) {
    char block[4096];
    const ssize_t n = read(out_reader, block, sizeof block);
    if (n <= 0) {
      close(out_reader);
      out_reader = -1;
    } else {
      result.Out.append(block, static_cast<std::size_t>(n));
    }
  }

  if (WIFEXITED(status) && !result.TimedOut) result.ExitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.Signal = WTERMSIG(status);
  if (setup.Output == OutputKind::File) result.Out = ReadFileText(out_path);
  result.Err = ReadFileText(err_path);
  std::remove(in_path.c_str());
  std::remove(out_path.c_str());
  std::remove(err_path.c_str());
  return result;
}

}  // namespace hidlist::testing
