// The listing against the fake device service: whole runs byte for byte, the
// exact calls it makes, and device data we do not control, as a cheap or
// hostile gadget hands it over.
#include "listing/listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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

const std::string Prompt = "Press ENTER to return.........\r\n";
const std::string NoSystemName = "Could not find the system name for this HID device\r\n";
const std::string Unopenable = "System input HID detected\r\n";
const std::string Bad = "\xEF\xBF\xBD";  // U+FFFD, the fake's default character

// The five lines of a device that opens.
std::string Report(const std::string& vid, const std::string& manufacturer, const std::string& pid,
                   const std::string& product, const std::string& version) {
  return "VID: " + vid + "\r\n" + manufacturer + "\r\nPID: " + pid + "\r\n" + product +
         "\r\nVersionNumber:" + version + "\r\n";
}

struct Machine {
  FakeDeviceApi devices;
  FakeConsole console;

  // The whole run's output; every handle opened was closed, once.
  std::string Listing(DWORD file_type = FILE_TYPE_CHAR) {
    console.Output.FileType = file_type;
    ConsoleText text(console);
    RunListing(devices, text);
    text.FinishOutput();
    EXPECT_EQ(devices.OpenHandles(), 0u);
    EXPECT_EQ(devices.BadCloses(), 0);
    return console.Output.Text();
  }
};

TEST(Listing, MachineWithEveryOutcomeByteForByte) {
  Machine run;
  run.devices.Interfaces[0] =
      Device("\\\\?\\hid#vid_046d&pid_c52b", 0x046D, 0xC52B, 0x1211, u"Logitech", u"USB Receiver");
  run.devices.Interfaces[1].Path = "\\\\?\\hid#keyboard";
  run.devices.Interfaces[1].OpenFails = true;
  run.devices.Interfaces[3].PathFails = true;
  // The attribute query fails after a device whose query succeeded; an empty
  // manufacturer and a product query that fails.
  run.devices.Interfaces[4] = Device("dev4", 0x1111, 0x2222, 0x3333, u"", std::nullopt);
  run.devices.Interfaces[4].AttributesFail = true;
  run.devices.Interfaces[19] = Device("dev19", 0x1050, 0x0407, 0x0526, u"Yubico", u"YubiKey");
  run.devices.Interfaces[20] = Device("dev20", 1, 2, 3, u"Never", u"Listed");
  run.console.InputChunks = {"\r\n"};

  EXPECT_EQ(run.Listing(), Report("046D", "Logitech", "C52B", "USB Receiver", "1211") + Unopenable +
                               NoSystemName + Report("0000", "", "0000", "", "0000") +
                               Report("1050", "Yubico", "0407", "YubiKey", "0526") + Prompt);
  EXPECT_EQ(run.devices.Opened.size(), 3u);
  EXPECT_EQ(run.devices.SetsDestroyed, 1);
  EXPECT_EQ(run.console.ReadCalls, 1);
}

TEST(Listing, OneWritePerStatementAndUnitOnAConsoleAndOneAtTheEndOtherwise) {
  const FakeInterface device = Device("d", 1, 2, 3, u"Ab", u"\u00E9\U0001F600");
  const std::string listing = Report("0001", "Ab", "0002", "\xC3\xA9" + Bad + Bad, "0003") + Prompt;
  for (DWORD type : {FILE_TYPE_CHAR, FILE_TYPE_DISK, FILE_TYPE_PIPE}) {
    Machine run;
    run.devices.Interfaces[0] = device;
    EXPECT_EQ(run.Listing(type), listing);
    if (type == FILE_TYPE_CHAR) {
      EXPECT_EQ(run.console.Output.Writes,
                (Strings{"VID: 0001\r\n", "A", "b", "\r\n", "PID: 0002\r\n", "\xC3\xA9",
                         // Each half of the surrogate pair is converted by itself.
                         Bad, Bad, "\r\n", "VersionNumber:0003\r\n", Prompt}));
    } else {
      // Less than 128 bytes: the prompt is still in the buffer while the
      // program waits, and all is written at the end.
      EXPECT_EQ(run.console.Output.Writes, Strings{listing});
      const Strings& calls = run.console.Calls;
      ASSERT_GE(calls.size(), 2u);
      EXPECT_EQ(calls[calls.size() - 2].rfind("ReadFile(", 0), 0u);
    }
  }
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

TEST(Listing, ProbeThatWritesNoSizeLeavesThePreviousOne) {
  Machine run;
  // Index 0 has no size yet: its fetch is given 0 bytes and fails. Index 2
  // fits in the size index 1 left; index 3 does not.
  run.devices.Interfaces[0] = Device("a", 1, 1, 1, u"", u"");
  run.devices.Interfaces[1] = Device("a-longer-path", 2, 2, 2, u"", u"");
  run.devices.Interfaces[2] = Device("short", 3, 3, 3, u"", u"");
  run.devices.Interfaces[3] = Device("much-longer-path-than-before", 4, 4, 4, u"", u"");
  for (DWORD i : {0, 2, 3}) run.devices.Interfaces[i].ProbeWritesSize = false;
  EXPECT_EQ(run.Listing(), NoSystemName + Report("0002", "", "0002", "", "0002") +
                               Report("0003", "", "0003", "", "0003") + NoSystemName + Prompt);
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
  EXPECT_EQ(run.devices.OpenHandles(), 0u);
  EXPECT_EQ(run.console.ReadCalls, 0);
}

// A first device whose product fills the whole string buffer with 'x' and no
// NUL, so that a later string that printed units its query did not cover
// would show.
FakeInterface BufferFiller() {
  FakeInterface filler = Device("filler", 0xF111, 0xF222, 0xF333, std::nullopt,
                                std::u16string(StringBufferUnits, u'x'));
  filler.StringsWithoutNul = true;
  return filler;
}
const std::string FillerReport =
    Report("F111", "", "F222", std::string(StringBufferUnits, 'x'), "F333");

TEST(HostileStrings, StringsEndAtTheUnitsTheirQueryCoveredWithOrWithoutANul) {
  // The real queries write at most length / 2 units and the NUL only when it
  // fits: 128 units for the manufacturer, 256 for the product. A device may
  // also write no NUL at all. A failed query after them prints nothing.
  struct Case {
    std::size_t Manufacturer;
    std::size_t Product;
    bool WithoutNul;
  };
  std::vector<Case> cases = {{128, 256, true}, {300, 1000, true}};
  for (std::size_t manufacturer : {0u, 1u, 127u, 128u, 129u, 300u}) {
    for (std::size_t product : {0u, 255u, 256u, 257u, 1000u}) {
      cases.push_back({manufacturer, product, false});
    }
  }
  for (const Case& test : cases) {
    SCOPED_TRACE(std::to_string(test.Manufacturer) + " " + std::to_string(test.Product) + " " +
                 std::to_string(test.WithoutNul));
    Machine run;
    run.devices.Interfaces[0] = BufferFiller();
    run.devices.Interfaces[1] = Device("d", 1, 2, 3, std::u16string(test.Manufacturer, u'm'),
                                       std::u16string(test.Product, u'p'));
    run.devices.Interfaces[1].StringsWithoutNul = test.WithoutNul;
    run.devices.Interfaces[2] = Device("failing", 4, 5, 6, std::nullopt, std::nullopt);
    EXPECT_EQ(
        run.Listing(),
        FillerReport +
            Report("0001", std::string(std::min<std::size_t>(test.Manufacturer, 128), 'm'), "0002",
                   std::string(std::min<std::size_t>(test.Product, 256), 'p'), "0003") +
            Report("0004", "", "0005", "", "0006") + Prompt);
  }
}

TEST(HostileStrings, EachUnitPrintsByItselfAndControlsAsTheDefaultCharacter) {
  std::u16string cut(127, u'm');
  cut += u"\xD83D\xDE00";
  const struct {
    std::u16string Manufacturer, Product;
    std::string PrintedManufacturer, PrintedProduct;
  } cases[] = {
      // A lone high half, a lone low half, a pair the wrong way round, and a
      // high half at the end.
      {u"A\xD800"
       u"B\xDC00",
       u"\xDC00\xD800"
       u"C\xDBFF",
       "A" + Bad + "B" + Bad, Bad + Bad + "C" + Bad},
      // The 128-unit cut falls between the halves of a pair: the high half
      // prints by itself, the low half not at all.
      {cut, u"\xD83D\xDE00", std::string(127, 'm') + Bad, Bad + Bad},
      // Noncharacters pass; a NUL inside ends the string.
      {u"\xFFFF\xFFFE\xFDD0", std::u16string(u"ab\0cd", 5), "\xEF\xBF\xBF\xEF\xBF\xBE\xEF\xB7\x90",
       "ab"},
      // A line break that would forge a listing line, an escape sequence that
      // would clear the screen, a tab, DEL and a C1 control.
      {u"Evil\r\nVID: FFFF", u"\x1B[2J\tPad\x7F\x85!", "Evil" + Bad + Bad + "VID: FFFF",
       Bad + "[2J" + Bad + "Pad" + Bad + Bad + "!"},
  };
  Machine run;
  std::string expected;
  for (DWORD i = 0; i < std::size(cases); ++i) {
    run.devices.Interfaces[i] =
        Device("d" + std::to_string(i), 1, 2, 3, cases[i].Manufacturer, cases[i].Product);
    expected +=
        Report("0001", cases[i].PrintedManufacturer, "0002", cases[i].PrintedProduct, "0003");
  }
  EXPECT_EQ(run.Listing(), expected + Prompt);
}

TEST(HostileStrings, CharactersOutsideTheNarrowSetPrintAsTheDefaultCharacter) {
  Machine run;
  // A narrow set of ASCII alone, with '?' for everything else.
  run.console.CodePage = 20127;
  run.console.Convert = [](char16_t unit) {
    return unit > 0x7F ? std::string("?") : std::string(1, static_cast<char>(unit));
  };
  run.devices.Interfaces[0] = Device("a", 1, 2, 3, std::u16string(u"Caf\u00E9 \u4E2D\u6587 \xD800"),
                                     std::u16string(u"\xD83D\xDE00 \xFFFF \u00A0x\u007F"));
  EXPECT_EQ(run.Listing(), Report("0001", "Caf? ?? ?", "0002", "?? ? ?x?", "0003") + Prompt);
  for (UINT page : run.console.ConversionCodePages) EXPECT_EQ(page, 20127u);
}

TEST(HostilePaths, PathsOfEveryLengthAreListedAndPassedWhole) {
  // A long path comes before and after a short one, so the detail buffer
  // grows and shrinks within one run.
  for (std::size_t length : {0u, 255u, 256u, 259u, 260u, 261u, 4096u}) {
    SCOPED_TRACE(length);
    Machine run;
    const std::string path(length, 'p');
    run.devices.Interfaces[0] = Device(path, 0x000A, 1, 1, u"A", u"a");
    run.devices.Interfaces[1] = Device("short", 0x000B, 2, 2, u"B", u"b");
    run.devices.Interfaces[2] = Device(path + "2", 0x000C, 3, 3, u"C", u"c");
    EXPECT_EQ(run.Listing(), Report("000A", "A", "0001", "a", "0001") +
                                 Report("000B", "B", "0002", "b", "0002") +
                                 Report("000C", "C", "0003", "c", "0003") + Prompt);
    Strings opened;
    for (const std::string& call : run.devices.Calls) {
      if (call.rfind("CreateFileA(", 0) == 0)
        opened.push_back(call.substr(12, call.find(',') - 12));
    }
    EXPECT_EQ(opened, (Strings{path, "short", path + "2"}));
  }
}

TEST(HostilePaths, PathLongerThanAnyWindowsPathIsNotFetched) {
  Machine run;
  run.devices.Interfaces[0] = Device(std::string(70000, 'p'), 1, 1, 1, u"A", u"a");
  run.devices.Interfaces[1] = Device("after", 2, 2, 2, u"B", u"b");
  EXPECT_EQ(run.Listing(), NoSystemName + Report("0002", "B", "0002", "b", "0002") + Prompt);
  // The fetch was given no more than the record holds.
  for (const std::string& call : run.devices.Calls) {
    if (call.rfind("SetupDiGetDeviceInterfaceDetailA(set,index=0,cbSize", 0) == 0) {
      EXPECT_NE(call.find("," + std::to_string(DetailRecordSize) + ","), std::string::npos) << call;
    }
  }
}

// Lists a machine with interfaces at the indices whose bits are set and
// checks the whole output: the present indices below 20, in order. They are
// of three kinds, so that a missing index (nothing printed) cannot pass for
// a failing one (one line printed).
void ExpectListingOfPresent(std::uint32_t present) {
  Machine run;
  std::string expected;
  for (DWORD index = 0; index < 25; ++index) {
    if ((present >> index & 1) == 0) continue;
    FakeInterface& device = run.devices.Interfaces[index] =
        Device("dev" + std::to_string(index), static_cast<USHORT>(index), 2, 3, u"M", u"P");
    device.OpenFails = index % 3 == 1;
    device.PathFails = index % 3 == 2;
    if (index >= InterfaceScanLimit) continue;
    expected += device.OpenFails   ? Unopenable
                : device.PathFails ? NoSystemName
                                   : Report(HexDigits(index, 4), "M", "0002", "P", "0003");
  }
  ASSERT_EQ(run.Listing(), expected + Prompt) << "present indices: 0x" << std::hex << present;
  EXPECT_EQ(run.devices.SetsDestroyed, 1);
}

TEST(HostileIndices, EveryIndexMissingAloneAndEveryPairMissing) {
  const std::uint32_t all = (1u << 25) - 1;
  ExpectListingOfPresent(all);
  ExpectListingOfPresent(0);
  for (DWORD a = 0; a < 25; ++a) {
    ExpectListingOfPresent(all & ~(1u << a));
    ExpectListingOfPresent(1u << a);
    for (DWORD b = a + 1; b < 25; ++b) ExpectListingOfPresent(all & ~(1u << a | 1u << b));
  }
}

}  // namespace
}  // namespace hidlist
