// The real program as a process, with its streams redirected the way users
// and scripts redirect them, and broken under it.
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

ProcessResult RunTestroot(const SysfsTree& tree, InputKind input, OutputKind output,
                          std::string input_text = "\r\n") {
  ProcessSetup setup;
  setup.Argv = {HIDLIST_TESTROOT_PROGRAM, tree.Root()};
  setup.Input = input;
  setup.InputText = std::move(input_text);
  setup.Output = output;
  return RunProcess(setup);
}

// A keyboard, a device whose node has gone and a Bluetooth mouse: between
// 128 and 256 bytes, so one block is written out mid-run and the rest waits.
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
};

// The report's three lines, for a code, with status 1 and no signal.
void ExpectReport(const ProcessResult& result, const std::string& module, int code) {
  EXPECT_FALSE(result.TimedOut);
  EXPECT_EQ(result.Signal, 0);
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
      const ProcessResult result = RunTestroot(tree, input, output);
      EXPECT_EQ(result.Out, Prompt);
      EXPECT_EQ(result.Err, "");
      EXPECT_EQ(result.ExitStatus, 0);
    }
  }
}

TEST(Process, ListingIsTheSameBytesToAFileAndToAPipe) {
  Machine machine;
  for (auto [input, output] : {std::pair{InputKind::File, OutputKind::File},
                               std::pair{InputKind::Pipe, OutputKind::Pipe}}) {
    const ProcessResult result = RunTestroot(machine.tree, input, output);
    EXPECT_EQ(result.Out, Machine::Listing());
    EXPECT_EQ(result.Err, "");
    EXPECT_EQ(result.ExitStatus, 0);
  }
}

TEST(Process, AttachFailureEndsWithZeroWithoutReadingInput) {
  SysfsTree tree;  // no sys/class at all
  const ProcessResult result = RunTestroot(tree, InputKind::Closed, OutputKind::File);
  EXPECT_EQ(result.Out, "Could not attach to PnP node\r\n");
  EXPECT_EQ(result.Err, "");
  EXPECT_EQ(result.ExitStatus, 0);
}

TEST(Process, BrokenStreamsEndWithTheReportNamingTheModuleFile) {
  Machine machine;
  const struct {
    InputKind Input;
    OutputKind Output;
    int Code;
    bool Listed;  // the whole listing reached standard output first
  } cases[] = {
      {InputKind::DevNull, OutputKind::DevFull, 112, false},
      {InputKind::DevNull, OutputKind::PipeWithoutReader, 232, false},
      {InputKind::DevNull, OutputKind::Closed, 105, false},
      {InputKind::Closed, OutputKind::File, 104, true},
      {InputKind::Directory, OutputKind::File, 1, true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.Code);
    ProcessSetup setup;
    setup.Program = HIDLIST_TESTROOT_PROGRAM;
    setup.Argv = {"/elsewhere/renamed-by-caller", machine.tree.Root()};
    setup.Input = test.Input;
    setup.Output = test.Output;
    const ProcessResult result = RunProcess(setup);
    ExpectReport(result, "hidlist_testroot", test.Code);
    if (test.Listed) {
      EXPECT_EQ(result.Out, Machine::Listing());
    }
  }
  // The keyboard's node was opened while descriptor 1 was closed; had it
  // taken descriptor 1, the listing would have been written into it.
  struct stat node {};
  ASSERT_EQ(stat(machine.tree.Path("dev/hidraw0").c_str(), &node), 0);
  EXPECT_EQ(node.st_size, 0);
}

TEST(Process, ReaderLeavingMidListingEndsWithTheReportNotASignal) {
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
  const std::string whole = RunTestroot(tree, InputKind::DevNull, OutputKind::File).Out;
  constexpr std::size_t Take = 256;
  ASSERT_GT(whole.size(), 4096 + Take + 128);

  ProcessSetup setup;
  setup.Argv = {HIDLIST_TESTROOT_PROGRAM, tree.Root()};
  setup.Input = InputKind::DevNull;
  setup.ReaderLeavesAfter = Take;
  const ProcessResult result = RunProcess(setup);
  ExpectReport(result, "hidlist_testroot", 232);
  EXPECT_EQ(result.Out, whole.substr(0, Take));
}

TEST(Process, ReaderLeavingWhileTheProgramWaitsEndsWithTheReport) {
  // The first 128-byte block goes out during the listing; the rest and the
  // prompt wait in the buffer until the line is read, after the reader left.
  Machine machine;
  ASSERT_LT(Machine::Listing().size(), 256u);
  ProcessSetup setup;
  setup.Argv = {HIDLIST_TESTROOT_PROGRAM, machine.tree.Root()};
  setup.InputText = "\r\n";
  setup.ReaderLeavesAfter = 128;
  const ProcessResult result = RunProcess(setup);
  ExpectReport(result, "hidlist_testroot", 232);
  EXPECT_EQ(result.Out, Machine::Listing().substr(0, 128));
}

TEST(Process, InputWithoutALineEndIsReadToItsEndFromAFileOrAPipe) {
  SysfsTree tree;
  tree.AddDir("sys/class/hidraw");
  // 8 MiB with no LF, CR or Ctrl+Z: the wait ends only at the end of input.
  for (InputKind kind : {InputKind::File, InputKind::Pipe}) {
    const ProcessResult result =
        RunTestroot(tree, kind, OutputKind::Pipe, std::string(8 << 20, 'x'));
    EXPECT_FALSE(result.TimedOut);
    EXPECT_EQ(result.ExitStatus, 0);
    EXPECT_EQ(result.Out, Prompt);
    EXPECT_EQ(result.Err, "");
  }
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
