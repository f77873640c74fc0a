// Device data we do not control, as a cheap or hostile gadget or a system
// that changes during the scan hands it to the listing. Every case checks
// the exact bytes of the whole run.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "listing/listing.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_device_api.h"

#if defined(__linux__)
#include "device_api/device_api_linux.h"
#include "tests/support/sysfs_tree.h"
#endif

namespace hidlist {
namespace {

using testing::Device;
using testing::FakeConsole;
using testing::FakeDeviceApi;
using testing::FakeInterface;

const std::string Prompt = "Press ENTER to return.........\r\n";
const std::string NoSystemName = "Could not find the system name for this HID device\r\n";
const std::string Unopenable = "System input HID detected\r\n";
const std::string Replacement = "\xEF\xBF\xBD";  // U+FFFD, the fake's default character

// The five lines of a device that opens.
std::string Report(const std::string& vid, const std::string& manufacturer, const std::string& pid,
                   const std::string& product, const std::string& version) {
  return "VID: " + vid + "\r\n" + manufacturer + "\r\nPID: " + pid + "\r\n" + product +
         "\r\nVersionNumber:" + version + "\r\n";
}

struct Machine {
  FakeDeviceApi devices;
  FakeConsole console;

  std::string Listing() {
    ConsoleText text(console);
    RunListing(devices, text);
    text.FinishOutput();
    EXPECT_TRUE(devices.LeakedHandles().empty());
    EXPECT_EQ(devices.BadCloses(), 0);
    return console.Output.Text();
  }
};

// A first device whose product fills the whole string buffer with 'x' and no
// NUL, so that a later string that printed units it did not cover would show.
FakeInterface BufferFiller() {
  FakeInterface filler = Device("filler", 0xF111, 0xF222, 0xF333, std::nullopt,
                                std::u16string(StringBufferUnits, u'x'));
  filler.StringsWithoutNul = true;
  return filler;
}
const std::string FillerReport =
    Report("F111", "", "F222", std::string(StringBufferUnits, 'x'), "F333");

TEST(HostileStrings, StringsAreCutAtTheUnitsTheirQueryCoveredWithOrWithoutANul) {
  // The real queries write at most length / 2 units and the NUL only when
  // it fits: 128 units for the manufacturer, 256 for the product.
  for (std::size_t manufacturer : {0u, 1u, 127u, 128u, 129u, 300u}) {
    for (std::size_t product : {0u, 255u, 256u, 257u, 1000u}) {
      SCOPED_TRACE(std::to_string(manufacturer) + " " + std::to_string(product));
      Machine run;
      run.devices.Interfaces[0] = BufferFiller();
      run.devices.Interfaces[1] =
          Device("d", 0x0001, 0x0002, 0x0003, std::u16string(manufacturer, u'm'),
                 std::u16string(product, u'p'));
      EXPECT_EQ(run.Listing(),
                FillerReport +
                    Report("0001", std::string(std::min<std::size_t>(manufacturer, 128), 'm'),
                           "0002", std::string(std::min<std::size_t>(product, 256), 'p'), "0003") +
                    Prompt);
    }
  }
}

TEST(HostileStrings, QueriesThatNeverWriteANulEndAtTheirCoveredUnits) {
  // A device that fills every byte it is given and never a NUL.
  Machine run;
  run.devices.Interfaces[0] = BufferFiller();
  run.devices.Interfaces[1] =
      Device("d", 0x0A0A, 0x0B0B, 0x0C0C, std::u16string(128, u'M'), std::u16string(256, u'P'));
  run.devices.Interfaces[1].StringsWithoutNul = true;
  EXPECT_EQ(run.Listing(),
            FillerReport +
                Report("0A0A", std::string(128, 'M'), "0B0B", std::string(256, 'P'), "0C0C") +
                Prompt);
}

TEST(HostileStrings, EmptyStringsAndFailedQueriesAfterALongString) {
  Machine run;
  run.devices.Interfaces[0] = BufferFiller();
  run.devices.Interfaces[1] = Device("empty", 0x0001, 0x0002, 0x0003, u"", u"");
  run.devices.Interfaces[2] = Device("failing", 0x0004, 0x0005, 0x0006, std::nullopt, std::nullopt);
  // The empty string's NUL hides the filler's units; a failed query prints
  // none of them.
  EXPECT_EQ(run.Listing(), FillerReport + Report("0001", "", "0002", "", "0003") +
                               Report("0004", "", "0005", "", "0006") + Prompt);
}

TEST(HostileStrings, UnpairedSurrogatesBecomeOneDefaultCharacterEach) {
  Machine run;
  // A lone high half, a lone low half, a pair the wrong way round, and a
  // high half at the end.
  run.devices.Interfaces[0] = Device("a", 1, 2, 3,
                                     std::u16string(u"A\xD800"
                                                    u"B\xDC00"),
                                     std::u16string(u"\xDC00\xD800"
                                                    u"C\xDBFF"));
  // The 128-unit cut falls between the halves of a pair: the high half is
  // printed by itself, the low half is not printed.
  std::u16string cut(127, u'm');
  cut += u"\xD83D\xDE00";
  run.devices.Interfaces[1] = Device("b", 4, 5, 6, cut, u"\xD83D\xDE00");
  EXPECT_EQ(run.Listing(), Report("0001", "A" + Replacement + "B" + Replacement, "0002",
                                  Replacement + Replacement + "C" + Replacement, "0003") +
                               Report("0004", std::string(127, 'm') + Replacement, "0005",
                                      Replacement + Replacement, "0006") +
                               Prompt);
}

TEST(HostileStrings, NoncharactersPassAndANulInsideEndsTheString) {
  Machine run;
  run.devices.Interfaces[0] =
      Device("a", 1, 2, 3, std::u16string(u"\xFFFF\xFFFE\xFDD0"), std::u16string(u"ab\0cd", 5));
  EXPECT_EQ(run.Listing(),
            Report("0001", "\xEF\xBF\xBF\xEF\xBF\xBE\xEF\xB7\x90", "0002", "ab", "0003") + Prompt);
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

TEST(HostileStrings, ControlCharactersCannotBreakLinesOrReachTheTerminal) {
  Machine run;
  // A line break that would forge a listing line, an escape sequence that
  // would clear the screen, a tab, DEL and a C1 control.
  run.devices.Interfaces[0] = Device("a", 1, 2, 3, std::u16string(u"Evil\r\nVID: FFFF"),
                                     std::u16string(u"\x1B[2J\tPad\x7F\x85!"));
  const std::string bad = "\xEF\xBF\xBD";
  EXPECT_EQ(run.Listing(), Report("0001", "Evil" + bad + bad + "VID: FFFF", "0002",
                                  bad + "[2J" + bad + "Pad" + bad + bad + "!", "0003") +
                               Prompt);
}

TEST(HostilePaths, PathsOfEveryLengthAreListedAndPassedWhole) {
  // listing_test covers each length alone; here a long path comes before and
  // after short ones, so the detail buffer grows and shrinks within one run.
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
    std::vector<std::string> opened;
    for (const std::string& call : run.devices.Calls) {
      if (call.rfind("CreateFileA(", 0) == 0)
        opened.push_back(call.substr(12, call.find(',') - 12));
    }
    EXPECT_EQ(opened, (std::vector<std::string>{path, "short", path + "2"}));
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

// One interface per index, of three kinds, so that a missing index (nothing
// printed) cannot pass for a failing one (one line printed).
FakeInterface InterfaceAt(DWORD index) {
  const auto number = static_cast<USHORT>(index);
  FakeInterface device =
      Device("dev" + std::to_string(index), number, static_cast<USHORT>(0x100 + number),
             static_cast<USHORT>(0x200 + number),
             u"M" + std::u16string(1, static_cast<char16_t>(u'A' + index)),
             u"P" + std::u16string(1, static_cast<char16_t>(u'a' + index)));
  if (index % 3 == 1) device.OpenFails = true;
  if (index % 3 == 2) device.PathFails = true;
  return device;
}

std::string ExpectedAt(DWORD index) {
  if (index % 3 == 1) return Unopenable;
  if (index % 3 == 2) return NoSystemName;
  return Report(HexDigits(index, 4), "M" + std::string(1, static_cast<char>('A' + index)),
                HexDigits(0x100 + index, 4), "P" + std::string(1, static_cast<char>('a' + index)),
                HexDigits(0x200 + index, 4));
}

constexpr DWORD IndicesTried = 25;

// Lists a machine with interfaces at the indices whose bits are set and
// checks the whole output: the present indices below 20, in order.
void ExpectListingOfPresent(std::uint32_t present) {
  Machine run;
  std::string expected;
  for (DWORD index = 0; index < IndicesTried; ++index) {
    if ((present >> index & 1) == 0) continue;
    run.devices.Interfaces[index] = InterfaceAt(index);
    if (index < InterfaceScanLimit) expected += ExpectedAt(index);
  }
  ASSERT_EQ(run.Listing(), expected + Prompt) << "present indices: 0x" << std::hex << present;
  EXPECT_EQ(run.devices.SetsDestroyed, 1);
}

TEST(HostileIndices, EveryIndexMissingAloneAndEveryPairMissing) {
  const std::uint32_t all = (1u << IndicesTried) - 1;
  ExpectListingOfPresent(all);
  ExpectListingOfPresent(0);
  for (DWORD a = 0; a < IndicesTried; ++a) {
    ExpectListingOfPresent(all & ~(1u << a));
    ExpectListingOfPresent(1u << a);
    for (DWORD b = a + 1; b < IndicesTried; ++b) ExpectListingOfPresent(all & ~(1u << a | 1u << b));
  }
}

TEST(HostileIndices, RandomSubsetsOfTheFirstTwentyFiveIndices) {
  std::mt19937 random(20240605);  // fixed, so that a failure can be repeated
  std::uniform_int_distribution<std::uint32_t> subset(0, (1u << IndicesTried) - 1);
  for (int i = 0; i < 3000; ++i) ExpectListingOfPresent(subset(random));
}

#if defined(__linux__)

// The Linux service with hooks run right after the snapshot and right after
// a successful open, where a device can leave in real life.
class ChangingDeviceApi : public DeviceApi {
 public:
  explicit ChangingDeviceApi(DeviceApi& inner) : inner_(inner) {}

  std::function<void()> AfterSnapshot;
  std::function<void(const std::string&)> AfterOpen;

  void HidD_GetHidGuid(GUID* HidGuid) override { inner_.HidD_GetHidGuid(HidGuid); }
  HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, const char* Enumerator, HWND hwndParent,
                                DWORD Flags) override {
    HDEVINFO set = inner_.SetupDiGetClassDevsA(ClassGuid, Enumerator, hwndParent, Flags);
    if (AfterSnapshot) AfterSnapshot();
    return set;
  }
  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                   const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                   SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData) override {
    return inner_.SetupDiEnumDeviceInterfaces(DeviceInfoSet, DeviceInfoData, InterfaceClassGuid,
                                              MemberIndex, DeviceInterfaceData);
  }
  BOOL SetupDiGetDeviceInterfaceDetailA(
      HDEVINFO DeviceInfoSet, SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData,
      SP_DEVICE_INTERFACE_DETAIL_DATA_A* DeviceInterfaceDetailData,
      DWORD DeviceInterfaceDetailDataSize, DWORD* RequiredSize,
      SP_DEVINFO_DATA* DeviceInfoData) override {
    return inner_.SetupDiGetDeviceInterfaceDetailA(
        DeviceInfoSet, DeviceInterfaceData, DeviceInterfaceDetailData,
        DeviceInterfaceDetailDataSize, RequiredSize, DeviceInfoData);
  }
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) override {
    return inner_.SetupDiDestroyDeviceInfoList(DeviceInfoSet);
  }
  HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                     void* lpSecurityAttributes, DWORD dwCreationDisposition,
                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) override {
    HANDLE handle =
        inner_.CreateFileA(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                           dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
    if (handle != INVALID_HANDLE_VALUE && AfterOpen) AfterOpen(lpFileName);
    return handle;
  }
  BOOL CloseHandle(HANDLE hObject) override { return inner_.CloseHandle(hObject); }
  BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, HIDD_ATTRIBUTES* Attributes) override {
    return inner_.HidD_GetAttributes(HidDeviceObject, Attributes);
  }
  BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, void* Buffer,
                                     ULONG BufferLength) override {
    return inner_.HidD_GetManufacturerString(HidDeviceObject, Buffer, BufferLength);
  }
  BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, void* Buffer, ULONG BufferLength) override {
    return inner_.HidD_GetProductString(HidDeviceObject, Buffer, BufferLength);
  }
  DWORD GetLastError() override { return inner_.GetLastError(); }

 private:
  DeviceApi& inner_;
};

// Three Bluetooth LE pads; the middle one leaves at some point of the run.
struct LeavingMachine {
  SysfsTree tree;
  std::unique_ptr<DeviceApi> linux_api = OpenLinuxDeviceApi(tree.Root());
  ChangingDeviceApi devices{*linux_api};
  FakeConsole console;
  std::string leaving;  // the middle pad's folder

  LeavingMachine() {
    AddUhidHidraw(tree, {0x0005, 0x046D, 0xB023, "Before", 1, 0});
    leaving = AddUhidHidraw(tree, {0x0005, 0x046D, 0xB024, "Leaving", 2, 1});
    AddUhidHidraw(tree, {0x0005, 0x046D, 0xB025, "After", 3, 2});
  }

  std::string Listing() {
    ConsoleText text(console);
    RunListing(devices, text);
    text.FinishOutput();
    return console.Output.Text();
  }
};

const std::string BeforeReport = Report("046D", "", "B023", "Before", "0000");
const std::string AfterReport = Report("046D", "", "B025", "After", "0000");

TEST(LeavingDevice, NodeGoneAfterTheSnapshotCannotBeOpened) {
  LeavingMachine machine;
  machine.devices.AfterSnapshot = [&] { machine.tree.Remove("dev/hidraw1"); };
  EXPECT_EQ(machine.Listing(), BeforeReport + Unopenable + AfterReport + Prompt);
}

TEST(LeavingDevice, DeviceFolderGoneAfterTheSnapshotHasNoSystemName) {
  LeavingMachine machine;
  // The kernel removes the device's folder, with its hidraw class folder, and
  // the node; the class link is left dangling for a moment.
  machine.devices.AfterSnapshot = [&] {
    machine.tree.Remove(machine.leaving);
    machine.tree.Remove("dev/hidraw1");
  };
  EXPECT_EQ(machine.Listing(), BeforeReport + NoSystemName + AfterReport + Prompt);
}

TEST(LeavingDevice, DeviceFolderGoneAfterTheOpenPrintsZerosAndNoStrings) {
  LeavingMachine machine;
  machine.devices.AfterOpen = [&](const std::string& node) {
    if (node == machine.tree.Path("dev/hidraw1")) machine.tree.Remove(machine.leaving);
  };
  EXPECT_EQ(machine.Listing(),
            BeforeReport + Report("0000", "", "0000", "", "0000") + AfterReport + Prompt);
}

#endif  // __linux__

}  // namespace
}  // namespace hidlist
