// The real program as a process, with its streams redirected the way users
// and scripts redirect them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>

#include "tests/support/process.h"
#include "tests/support/sysfs_tree.h"

namespace hidlist {
namespace {

using testing::InputKind;
using testing::OutputKind;
using testing::ProcessResult;
using testing::ProcessSetup;
using testing::RunProcess;

const std::string Prompt = "Press ENTER to return.........\r\n";

// A keyboard, a device whose node has gone and a Bluetooth mouse: more than
// the 128 bytes that make a write-out mid-run.
struct Machine {
  SysfsTree tree;

  Machine() {
    const FakeUsbDevice keyboard("1-2", 0x046D, 0xC31C, "6400", "Logitech", "USB Keyboard");
    AddUsbHidraw(tree, keyboard, 0,
                 FakeHidDevice(0x0003, 0x046D, 0xC31C, "Logitech USB Keyboard", 1, 0));
    AddUsbHidraw(tree, keyboard, 1,
                 FakeHidDevice(0x0003, 0x046D, 0xC31C, "Logitech USB Keyboard", 2, 1));
    tree.Remove("dev/hidraw1");

    const FakeUsbDevice adapter("1-5", 0x8087, 0x0A2B, "0001", "Intel", "Bluetooth");
    AddBluetoothHidraw(
        tree, adapter,
        FakeHidDevice(0x0005, 0x046D, 0xB01A, "MX Anywhere 2S", 3, 2, {FakeInput{20, "0012"}}));
  }

  static std::string Listing() {
    return "VID: 046D\r\nLogitech\r\nPID: C31C\r\nUSB Keyboard\r\nVersionNumber:6400\r\n"
           "System input HID detected\r\n"
           "VID: 046D\r\n\r\nPID: B01A\r\nMX Anywhere 2S\r\nVersionNumber:0012\r\n" +
           Prompt;
  }

  ProcessResult Run(InputKind input, OutputKind output, std::string input_text = "\r\n") const {
    ProcessSetup setup;
    setup.Argv = {HIDLIST_TESTROOT_PROGRAM, tree.Root()};
    setup.Input = input;
    setup.InputText = std::move(input_text);
    setup.Output = output;
    return RunProcess(setup);
  }
};

// The report's three lines, for a code.
void ExpectReport(const ProcessResult& result, const std::string& module, int code) {
  EXPECT_EQ(result.ExitStatus, 1);
  const std::regex report("Exception EInOutError in module " + module +
                          " at [0-9A-F]{8}\\.\r\nI/O error " + std::to_string(code) +
                          "\\.\r\n\r\n");
  EXPECT_TRUE(std::regex_match(result.Err, report)) << result.Err;
}

TEST(Process, NoHidrawDevicesPrintsOnlyThePrompt) {
  SysfsTree tree;
  tree.AddDir("sys/class/input");
  for (OutputKind output : {OutputKind::File, OutputKind::Pipe}) {
    for (InputKind input : {InputKind::DevNull, InputKind::Pipe}) {
      ProcessSetup setup;
      setup.Argv = {HIDLIST_TESTROOT_PROGRAM, tree.Root()};
      setup.Input = input;
      setup.Output = output;
      const ProcessResult result = RunProcess(setup);
      EXPECT_EQ(result.Out, Prompt);
      EXPECT_EQ(result.Err, "");
      EXPECT_EQ(result.ExitStatus, 0);
    }
  }
}

TEST(Process, ListingIsTheSameBytesToAFileAndToAPipe) {
  Machine machine;
  const ProcessResult to_file = machine.Run(InputKind::File, OutputKind::File);
  const ProcessResult to_pipe = machine.Run(InputKind::Pipe, OutputKind::Pipe);
  EXPECT_EQ(to_file.Out, Machine::Listing());
  EXPECT_EQ(to_pipe.Out, Machine::Listing());
  EXPECT_EQ(to_file.ExitStatus, 0);
  EXPECT_EQ(to_pipe.ExitStatus, 0);
  EXPECT_EQ(to_pipe.Err, "");
}

TEST(Process, AttachFailureEndsWithZeroWithoutReadingInput) {
  SysfsTree tree;  // no sys/class at all
  ProcessSetup setup;
  setup.Argv = {HIDLIST_TESTROOT_PROGRAM, tree.Root() + "missing/"};
  setup.Input = InputKind::Closed;  // never read: no 104
  setup.Output = OutputKind::File;
  const ProcessResult result = RunProcess(setup);
  EXPECT_EQ(result.Out, "Could not attach to PnP node\r\n");
  EXPECT_EQ(result.Err, "");
  EXPECT_EQ(result.ExitStatus, 0);
}

TEST(Process, FullDiskEndsWithTheReportAndStatusOne) {
  Machine machine;
  const ProcessResult result = machine.Run(InputKind::DevNull, OutputKind::DevFull);
  ExpectReport(result, "hidlist_testroot", 112);
}

TEST(Process, ReportNamesTheModuleFileNotTheNameItWasStartedUnder) {
  Machine machine;
  ProcessSetup setup;
  setup.Program = HIDLIST_TESTROOT_PROGRAM;
  setup.Argv = {"/elsewhere/renamed-by-caller", machine.tree.Root()};
  setup.Input = InputKind::DevNull;
  setup.Output = OutputKind::DevFull;
  ExpectReport(RunProcess(setup), "hidlist_testroot", 112);
}

TEST(Process, PipeWhoseReaderHasGoneIsReportedNotKilled) {
  Machine machine;
  const ProcessResult result = machine.Run(InputKind::DevNull, OutputKind::PipeWithoutReader);
  EXPECT_EQ(result.Signal, 0);
  ExpectReport(result, "hidlist_testroot", 232);
}

TEST(Process, ClosedOutputIsReportedAndNeverTakenByADeviceNode) {
  Machine machine;
  const ProcessResult result = machine.Run(InputKind::DevNull, OutputKind::Closed);
  ExpectReport(result, "hidlist_testroot", 105);
  // The keyboard's node was opened while descriptor 1 was closed; had it
  // taken descriptor 1, the listing would have been written into it.
  struct stat node {};
  ASSERT_EQ(stat(machine.tree.Path("dev/hidraw0").c_str(), &node), 0);
  EXPECT_EQ(node.st_size, 0);
}

TEST(Process, ClosedInputFailsAtTheWaitAfterTheListingIsWritten) {
  Machine machine;
  const ProcessResult result = machine.Run(InputKind::Closed, OutputKind::File);
  EXPECT_EQ(result.Out, Machine::Listing());
  ExpectReport(result, "hidlist_testroot", 104);
}

TEST(Process, DirectoryAsInputGivesItsCode) {
  Machine machine;
  const ProcessResult result = machine.Run(InputKind::Directory, OutputKind::File);
  EXPECT_EQ(result.Out, Machine::Listing());
  ExpectReport(result, "hidlist_testroot", 1);
}

TEST(Process, WaitsForALineAndReadsNoMore) {
  Machine machine;
  const ProcessResult result = machine.Run(InputKind::Pipe, OutputKind::Pipe, "typed\r\nmore\n");
  EXPECT_EQ(result.ExitStatus, 0);
  EXPECT_EQ(result.Out, Machine::Listing());
}

TEST(Process, ShippedProgramOnThisMachine) {
  // Whatever HID devices this machine has: well-formed lines, the prompt last.
  ProcessSetup setup;
  setup.Argv = {HIDLIST_PROGRAM};
  setup.Input = InputKind::DevNull;
  setup.Output = OutputKind::Pipe;
  const ProcessResult result = RunProcess(setup);
  EXPECT_EQ(result.ExitStatus, 0);
  EXPECT_EQ(result.Err, "");
  ASSERT_GE(result.Out.size(), Prompt.size());
  EXPECT_EQ(result.Out.substr(result.Out.size() - Prompt.size()), Prompt);
  const std::regex listing(
      "((VID: [0-9A-F]{4}\r\n[^\r\n]*\r\nPID: [0-9A-F]{4}\r\n[^\r\n]*\r\nVersionNumber:[0-9A-F]{4}"
      "\r\n)|(System input HID detected\r\n)|"
      "(Could not find the system name for this HID device\r\n))*"
      "Press ENTER to return\\.{9}\r\n");
  EXPECT_TRUE(std::regex_match(result.Out, listing)) << result.Out;

  setup.Output = OutputKind::Closed;
  ExpectReport(RunProcess(setup), "hidlist", 105);
}

}  // namespace
}  // namespace hidlist
