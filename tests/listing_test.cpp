#include "listing/listing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_console.h"
#include "tests/support/fake_device_api.h"

namespace hidlist {
namespace {

using testing::Device;
using testing::FakeConsole;
using testing::FakeDeviceApi;
using testing::FakeInterface;
using Strings = std::vector<std::string>;

const char* const Prompt = "Press ENTER to return.........\r\n";

FakeInterface Unopenable(std::string path) {
  FakeInterface device;
  device.Path = std::move(path);
  device.OpenFails = true;
  return device;
}

FakeInterface PathFails() {
  FakeInterface device;
  device.PathFails = true;
  return device;
}

struct Machine {
  FakeDeviceApi devices;
  FakeConsole console;

  std::string Listing(DWORD file_type = FILE_TYPE_CHAR) {
    console.Output.FileType = file_type;
    ConsoleText text(console);
    RunListing(devices, text);
    text.FinishOutput();
    return console.Output.Text();
  }
};

TEST(Listing, MachineWithEveryOutcomeByteForByte) {
  Machine run;
  run.devices.Interfaces[0] =
      Device("\\\\?\\hid#vid_046d&pid_c52b", 0x046D, 0xC52B, 0x1211, u"Logitech", u"USB Receiver");
  run.devices.Interfaces[1] = Unopenable("\\\\?\\hid#keyboard");
  run.devices.Interfaces[3] = PathFails();
  run.devices.Interfaces[4] = Device("dev4", 0x000F, 0xFFFF, 0x0000, u"", u"Pad");
  run.devices.Interfaces[4].Product.reset();  // the query fails
  run.devices.Interfaces[19] = Device("dev19", 0x1050, 0x0407, 0x0526, u"Yubico", u"YubiKey");
  run.devices.Interfaces[20] = Device("dev20", 1, 2, 3, u"Never", u"Listed");
  run.console.InputChunks = {"\r\n"};

  EXPECT_EQ(run.Listing(),
            "VID: 046D\r\n"
            "Logitech\r\n"
            "PID: C52B\r\n"
            "USB Receiver\r\n"
            "VersionNumber:1211\r\n"
            "System input HID detected\r\n"
            "Could not find the system name for this HID device\r\n"
            "VID: 000F\r\n"
            "\r\n"
            "PID: FFFF\r\n"
            "\r\n"
            "VersionNumber:0000\r\n"
            "VID: 1050\r\n"
            "Yubico\r\n"
            "PID: 0407\r\n"
            "YubiKey\r\n"
            "VersionNumber:0526\r\n" +
                std::string(Prompt));
  EXPECT_TRUE(run.devices.LeakedHandles().empty());
  EXPECT_EQ(run.devices.BadCloses(), 0);
  EXPECT_EQ(run.devices.Opened.size(), 3u);
  EXPECT_EQ(run.devices.SetsDestroyed, 1);
  EXPECT_EQ(run.console.ReadCalls, 1);
}

TEST(Listing, SameBytesToAFileOrPipeWrittenInBlocks) {
  std::string on_console;
  for (DWORD type : {FILE_TYPE_CHAR, FILE_TYPE_DISK, FILE_TYPE_PIPE}) {
    Machine run;
    for (DWORD i = 0; i < 6; ++i) {
      run.devices.Interfaces[i] =
          Device("d" + std::to_string(i), 0x1234, 0x5678, 0x0100, u"Maker", u"Gadget");
    }
    const std::string text = run.Listing(type);
    if (type == FILE_TYPE_CHAR) {
      on_console = text;
      continue;
    }
    EXPECT_EQ(text, on_console);
    const Strings& writes = run.console.Output.Writes;
    for (std::size_t i = 0; i + 1 < writes.size(); ++i) EXPECT_EQ(writes[i].size(), 128u);
    // The prompt is still in the buffer while the program waits.
    EXPECT_EQ(writes.size(), text.size() / 128 + 1);
  }
}

TEST(Listing, EachUnitOfAStringIsAWriteOfItsOwnOnAConsole) {
  Machine run;
  run.devices.Interfaces[0] = Device("d", 1, 2, 3, u"Ab", u"\u00E9\U0001F600");
  run.Listing();
  EXPECT_EQ(run.console.Output.Writes,
            (Strings{"VID: 0001\r\n", "A", "b", "\r\n", "PID: 0002\r\n", "\xC3\xA9",
                     // Each half of the surrogate pair is converted by itself.
                     "\xEF\xBF\xBD", "\xEF\xBF\xBD", "\r\n", "VersionNumber:0003\r\n", Prompt}));
}

TEST(Listing, ExactCallsAndArguments) {
  Machine run;
  run.devices.Interfaces[2] = Device("path2", 1, 2, 3, u"M", u"P");
  run.Listing();
  const std::string cb_interface = std::to_string(sizeof(SP_DEVICE_INTERFACE_DATA));
  const std::string cb_detail = std::to_string(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
  const std::string needed = std::to_string(4 + 5 + 1);
  Strings expected = {"HidD_GetHidGuid", "SetupDiGetClassDevsA(hid,null,null,0x12)"};
  for (int index = 0; index < 20; ++index) {
    expected.push_back("SetupDiEnumDeviceInterfaces(set,null,hid," + std::to_string(index) +
                       ",cbSize=" + cb_interface + ")");
    if (index != 2) continue;
    expected.push_back("SetupDiGetDeviceInterfaceDetailA(set,index=2,null,0,size,null)");
    expected.push_back("SetupDiGetDeviceInterfaceDetailA(set,index=2,cbSize=" + cb_detail + "," +
                       needed + ",size,null)");
    expected.push_back("CreateFileA(path2,0xc0000000,0x3,null,3,0,null)");
    expected.push_back("HidD_GetAttributes(0x100,Size=0)");
    expected.push_back("HidD_GetManufacturerString(0x100,256)");
    expected.push_back("HidD_GetProductString(0x100,512)");
    expected.push_back("CloseHandle(0x100)");
  }
  expected.push_back("SetupDiDestroyDeviceInfoList(set)");
  EXPECT_EQ(run.devices.Calls, expected);
}

TEST(Listing, NoInterfacesPrintsOnlyThePromptAndWaits) {
  Machine run;
  run.console.InputChunks = {"x\n"};
  EXPECT_EQ(run.Listing(FILE_TYPE_PIPE), Prompt);
  EXPECT_EQ(run.console.ReadCalls, 1);
  EXPECT_TRUE(run.console.InputChunks.empty());
}

TEST(Listing, AttachFailureEndsWithoutPromptOrWait) {
  for (bool null_handle : {false, true}) {
    Machine run;
    run.devices.ClassDevsFail = !null_handle;
    run.devices.ClassDevsResult = nullptr;
    EXPECT_EQ(run.Listing(), "Could not attach to PnP node\r\n");
    EXPECT_EQ(run.console.ReadCalls, 0);
    EXPECT_EQ(run.devices.SetsDestroyed, 0);
    EXPECT_EQ(run.devices.Calls.size(), 2u);
  }
}

TEST(Listing, FailedAttributeQueryPrintsZerosNotThePreviousDevice) {
  Machine run;
  run.devices.Interfaces[0] = Device("a", 0xAAAA, 0xBBBB, 0xCCCC, u"M", u"P");
  run.devices.Interfaces[1] = Device("b", 0x1111, 0x2222, 0x3333, u"N", u"Q");
  run.devices.Interfaces[1].AttributesFail = true;
  const std::string text = run.Listing();
  EXPECT_NE(text.find("VID: 0000\r\nN\r\nPID: 0000\r\nQ\r\nVersionNumber:0000\r\n"),
            std::string::npos)
      << text;
}

TEST(Listing, StringsWithoutNulEndAtTheUnitsTheirQueryCovered) {
  Machine run;
  // The first device's product fills all 256 units; the second device's
  // manufacturer covers 128 units without a NUL: what lies beyond is the
  // first device's and must not be printed.
  run.devices.Interfaces[0] = Device("a", 1, 1, 1, u"", std::u16string(256, u'p'));
  run.devices.Interfaces[0].StringsWithoutNul = true;
  run.devices.Interfaces[1] =
      Device("b", 2, 2, 2, std::u16string(300, u'm'), std::u16string(400, u'q'));
  run.devices.Interfaces[1].StringsWithoutNul = true;
  const std::string text = run.Listing();
  EXPECT_NE(text.find("\r\n" + std::string(256, 'p') + "\r\nVersionNumber:0001"),
            std::string::npos);
  EXPECT_NE(text.find("VID: 0002\r\n" + std::string(128, 'm') + "\r\nPID: 0002\r\n" +
                      std::string(256, 'q') + "\r\nVersionNumber:0002"),
            std::string::npos)
      << text;
}

TEST(Listing, LongDevicePathsAreFetchedWhole) {
  for (std::size_t length : {0u, 255u, 256u, 259u, 260u, 261u, 4096u}) {
    Machine run;
    const std::string path(length, 'p');
    run.devices.Interfaces[0] = Device(path, 0xABCD, 1, 1, u"M", u"P");
    const std::string text = run.Listing();
    EXPECT_EQ(text.rfind("VID: ABCD\r\n", 0), 0u) << length;
    ASSERT_EQ(run.devices.Opened.size(), 1u) << length;
    EXPECT_EQ(run.devices.Calls[5], "CreateFileA(" + path + ",0xc0000000,0x3,null,3,0,null)");
  }
}

TEST(Listing, ProbeThatWritesNoSizeLeavesThePreviousOne) {
  Machine run;
  run.devices.Interfaces[0] = Device("a-longer-path", 1, 1, 1, u"", u"");
  run.devices.Interfaces[1] = Device("short", 2, 2, 2, u"", u"");
  run.devices.Interfaces[1].ProbeWritesSize = false;
  run.devices.Interfaces[2] = Device("much-longer-path-than-before", 3, 3, 3, u"", u"");
  run.devices.Interfaces[2].ProbeWritesSize = false;
  const std::string text = run.Listing();
  // Index 1 fits in the size left by index 0; index 2 does not.
  EXPECT_NE(text.find("VID: 0002"), std::string::npos);
  EXPECT_NE(text.find("Could not find the system name for this HID device\r\n"), std::string::npos);
  EXPECT_EQ(text.find("VID: 0003"), std::string::npos);
}

TEST(Listing, FirstProbeWithoutSizeFetchesWithZero) {
  Machine run;
  run.devices.Interfaces[0] = Device("a", 1, 1, 1, u"", u"");
  run.devices.Interfaces[0].ProbeWritesSize = false;
  EXPECT_EQ(run.Listing(),
            "Could not find the system name for this HID device\r\n" + std::string(Prompt));
  EXPECT_EQ(run.devices.Calls[4], "SetupDiGetDeviceInterfaceDetailA(set,index=0,cbSize=" +
                                      std::to_string(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) +
                                      ",0,size,null)");
}

TEST(Listing, ConsoleFailureUnwindsReleasingTheSetAndTheHandle) {
  Machine run;
  run.devices.Interfaces[0] = Device("a", 1, 1, 1, u"Maker", u"P");
  run.console.Output.FailWriteAt = 1;  // the manufacturer's first unit
  run.console.Output.WriteError = ERROR_NO_DATA;
  ConsoleText text(run.console);
  try {
    RunListing(run.devices, text);
    FAIL() << "the failure did not leave the run";
  } catch (const IoFailure& failure) {
    EXPECT_EQ(failure.Code(), 232);
  }
  EXPECT_EQ(run.console.Output.Writes, (Strings{"VID: 0001\r\n", ""}));
  EXPECT_EQ(run.devices.SetsDestroyed, 1);
  EXPECT_TRUE(run.devices.LeakedHandles().empty());
  EXPECT_EQ(run.console.ReadCalls, 0);
}

TEST(Listing, FailedReadAtTheCloseLeavesTheRunAfterThePrompt) {
  Machine run;
  run.console.InputHandleGiven = INVALID_HANDLE_VALUE;
  run.console.Output.FileType = FILE_TYPE_PIPE;
  ConsoleText text(run.console);
  EXPECT_THROW(RunListing(run.devices, text), IoFailure);
  text.FinishOutput();
  EXPECT_EQ(run.console.Output.Text(), Prompt);
}

}  // namespace
}  // namespace hidlist
