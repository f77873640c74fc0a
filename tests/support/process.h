// Runs a program as a process with its standard streams set up as a user or
// a script would: files, pipes, /dev/full, closed descriptors.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace hidlist::testing {

enum class InputKind { Pipe, File, DevNull, Closed, Directory };
enum class OutputKind { Pipe, File, DevFull, Closed, PipeWithoutReader };

struct ProcessSetup {
  std::vector<std::string> Argv;
  std::string Program;  // the file run; empty: Argv[0]
  InputKind Input = InputKind::Pipe;
  std::string InputText;  // for Pipe and File
  OutputKind Output = OutputKind::Pipe;
  // With OutputKind::Pipe: the pipe holds 4096 bytes, and its reader takes
  // this many bytes, then closes its end while the program still runs. Input
  // for InputKind::Pipe is written only after that.
  std::optional<std::size_t> ReaderLeavesAfter;
  int TimeoutSeconds = 20;
};

struct ProcessResult {
  int ExitStatus = -1;  // -1 when killed by a signal or the timeout
  int Signal = 0;
  bool TimedOut = false;
  std::string Out;  // what reached standard output (Pipe and File only)
  std::string Err;
};

ProcessResult RunProcess(const ProcessSetup& setup);

}  // namespace hidlist::testing
