#include "device_api/device_api_linux.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "listing/listing.h"
#include "tests/support/fake_console.h"
#include "tests/support/sysfs_tree.h"

namespace hidlist {
namespace {

constexpr DWORD ReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD Untouched = 0xDEADBEEF;
constexpr unsigned char Sentinel = 0xA5;

// Real devices, as their kernels show them.
const FakeUsbDevice UnifyingReceiver("1-2", 0x046D, 0xC52B, "1211", "Logitech", "USB Receiver");
const FakeUsbDevice YubiKey("1-4", 0x1050, 0x0407, "0526", "Yubico", "YubiKey OTP+FIDO+CCID",
                            "0012345678");
const FakeUsbDevice BluetoothAdapter("1-5", 0x0BDA, 0x8771, "0200", "Realtek", "Bluetooth Radio",
                                     "00E04C239987");

// A string query's result: the units up to the NUL (other than ASCII as
// \uXXXX), or "-" when the device has no such string. A missing NUL shows as
// the buffer's '?' filling.
std::string QueryString(DeviceApi& api, HANDLE handle, bool manufacturer) {
  char16_t buffer[128];
  std::fill(std::begin(buffer), std::end(buffer), u'?');
  const BOOLEAN found = manufacturer
                            ? api.HidD_GetManufacturerString(handle, buffer, sizeof(buffer))
                            : api.HidD_GetProductString(handle, buffer, sizeof(buffer));
  if (!found) return "-";
  std::string text = "\"";
  for (std::size_t i = 0; i < std::size(buffer) && buffer[i] != 0; ++i) {
    text += buffer[i] < 0x80 ? std::string(1, static_cast<char>(buffer[i]))
                             : "\\u" + HexDigits(buffer[i], 4);
  }
  return text + "\"";
}

// The detail query as the listing makes it: a probe for the size, then the fetch.
std::optional<std::string> QueryPath(DeviceApi& api, HDEVINFO set,
                                     SP_DEVICE_INTERFACE_DATA& interface, DWORD* error) {
  DWORD required = 0;
  if (api.SetupDiGetDeviceInterfaceDetailA(set, &interface, nullptr, 0, &required, nullptr) ||
      api.GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    *error = api.GetLastError();
    return std::nullopt;
  }
  std::vector<unsigned char> storage(required);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!api.SetupDiGetDeviceInterfaceDetailA(set, &interface, detail, required, nullptr, nullptr)) {
    *error = api.GetLastError();
    return std::nullopt;
  }
  return std::string(reinterpret_cast<const char*>(storage.data()) +
                     offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));
}

// Drives the service through indices 0-19 the way the listing does and
// describes each interface in one line, with paths relative to root:
// "dev/hidraw0 046D:C52B v1211 m=\"Logitech\" p=\"USB Receiver\"".
std::vector<std::string> ListDevices(DeviceApi& api, const std::string& root) {
  GUID guid{};
  api.HidD_GetHidGuid(&guid);
  HDEVINFO set =
      api.SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE)
    return {"class query failed " + std::to_string(api.GetLastError())};
  std::vector<std::string> rows;
  for (DWORD index = 0; index < 20; ++index) {
    SP_DEVICE_INTERFACE_DATA interface {};
    interface.cbSize = sizeof(interface);
    if (!api.SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &interface)) {
      EXPECT_EQ(api.GetLastError(), ERROR_NO_MORE_ITEMS);
      break;
    }
    DWORD error = 0;
    const std::optional<std::string> path = QueryPath(api, set, interface, &error);
    if (!path) {
      rows.push_back("#" + std::to_string(index) + " detail failed " + std::to_string(error));
      continue;
    }
    std::string row = path->substr(0, root.size()) == root ? path->substr(root.size()) : *path;
    HANDLE handle = api.CreateFileA(path->c_str(), ReadWrite, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      rows.push_back(row + " open failed " + std::to_string(api.GetLastError()));
      continue;
    }
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    if (api.HidD_GetAttributes(handle, &attributes)) {
      EXPECT_EQ(attributes.Size, sizeof(HIDD_ATTRIBUTES));
      row += " " + HexDigits(attributes.VendorID, 4) + ":" + HexDigits(attributes.ProductID, 4) +
             " v" + HexDigits(attributes.VersionNumber, 4);
    } else {
      row += " attributes failed " + std::to_string(api.GetLastError());
    }
    row += " m=" + QueryString(api, handle, true) + " p=" + QueryString(api, handle, false);
    EXPECT_TRUE(api.CloseHandle(handle));
    rows.push_back(row);
  }
  EXPECT_TRUE(api.SetupDiDestroyDeviceInfoList(set));
  return rows;
}

class LinuxDeviceApiTest : public ::testing::Test {
 protected:
  std::vector<std::string> List() { return ListDevices(*api_, tree_.Root()); }

  HANDLE Open(const std::string& rel, DWORD access = ReadWrite) {
    return api_->CreateFileA(tree_.Path(rel).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  }

  HDEVINFO HidSet() {
    return api_->SetupDiGetClassDevsA(&HidInterfaceClass, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  }

  SP_DEVICE_INTERFACE_DATA Interface(HDEVINFO set, DWORD index) {
    SP_DEVICE_INTERFACE_DATA interface {};
    interface.cbSize = sizeof(interface);
    EXPECT_TRUE(
        api_->SetupDiEnumDeviceInterfaces(set, nullptr, &HidInterfaceClass, index, &interface));
    return interface;
  }

  SysfsTree tree_;
  std::unique_ptr<DeviceApi> api_ = OpenLinuxDeviceApi(tree_.Root());
};

TEST_F(LinuxDeviceApiTest, UsbHidDevicesAnswerFromTheirUsbDeviceNeverTheRootHub) {
  // A device with two interfaces and a serial number.
  AddUsbHidraw(tree_, YubiKey, 0, {0x0003, 0x1050, 0x0407, "Yubico YubiKey OTP+FIDO+CCID", 1, 0});
  AddUsbHidraw(tree_, YubiKey, 1, {0x0003, 0x1050, 0x0407, "Yubico YubiKey OTP+FIDO+CCID", 2, 1});
  // A wireless receiver, whose paired device's HID device sits one level deeper.
  AddUsbHidraw(tree_, UnifyingReceiver, 0, {0x0003, 0x046D, 0xC52B, "Logitech USB Receiver", 3, 2});
  const std::string receiver = AddUsbHidraw(
      tree_, UnifyingReceiver, 2, {0x0003, 0x046D, 0xC52B, "Logitech USB Receiver", 4, 3});
  AddChildHidraw(tree_, receiver, {0x0003, 0x046D, 0x4082, "Logitech MX Master 3", 5, 4});
  // No manufacturer file, an empty product and no bcdDevice.
  AddUsbHidraw(tree_, {"1-3", 0x0483, 0x5750, std::nullopt, std::nullopt, "", std::nullopt}, 0,
               {0x0003, 0x0483, 0x5750, "STMicroelectronics", 6, 5});
  // Strings without a newline, or with more than one: only one is stripped.
  const std::string usb = "sys/devices/pci0000:00/0000:00:14.0/usb1/";
  AddUsbHidraw(tree_, {"1-8", 0x04D8, 0x00DD, "0100", "Microchip", "MCP2221", std::nullopt}, 2,
               {0x0003, 0x04D8, 0x00DD, "Microchip MCP2221", 7, 6});
  tree_.AddFile(usb + "1-8/manufacturer", "Microchip");
  tree_.AddFile(usb + "1-8/product", "MCP2221\n\n");
  // A usb_device known by its DEVTYPE alone, and one by its idVendor alone.
  FakeUsbDevice byDevtype = YubiKey;
  byDevtype.Port = "1-6";
  AddUsbHidraw(tree_, byDevtype, 0, {0x0003, 0x1050, 0x0407, "Yubico YubiKey", 8, 7});
  tree_.Remove(usb + "1-6/idVendor");
  FakeUsbDevice byIdVendor = UnifyingReceiver;
  byIdVendor.Port = "1-7";
  AddUsbHidraw(tree_, byIdVendor, 0, {0x0003, 0x046D, 0xC52B, "Logitech USB Receiver", 9, 8});
  tree_.AddFile(usb + "1-7/uevent", "BUSNUM=001\n");
  // USB bus numbers from a user-space driver: marks of a usb_device at and
  // above sys/devices are outside the device tree.
  AddUhidHidraw(tree_, {0x0003, 0x1209, 0x0002, "Virtual Keys", 10, 9});
  tree_.AddFile("sys/devices/idVendor", "1d6b\n");
  tree_.AddFile("sys/devices/uevent", "DEVTYPE=usb_device\n");
  tree_.AddFile("sys/devices/manufacturer", "Wrong\n");
  tree_.AddFile("sys/idVendor", "1d6b\n");
  tree_.AddFile("sys/manufacturer", "Wrong\n");
  EXPECT_EQ(List(), (std::vector<std::string>{
                        "dev/hidraw0 1050:0407 v0526 m=\"Yubico\" p=\"YubiKey OTP+FIDO+CCID\"",
                        "dev/hidraw1 1050:0407 v0526 m=\"Yubico\" p=\"YubiKey OTP+FIDO+CCID\"",
                        "dev/hidraw2 046D:C52B v1211 m=\"Logitech\" p=\"USB Receiver\"",
                        "dev/hidraw3 046D:C52B v1211 m=\"Logitech\" p=\"USB Receiver\"",
                        "dev/hidraw4 046D:4082 v1211 m=\"Logitech\" p=\"USB Receiver\"",
                        "dev/hidraw5 0483:5750 v0000 m=- p=\"\"",
                        "dev/hidraw6 04D8:00DD v0100 m=\"Microchip\" p=\"MCP2221\n\"",
                        "dev/hidraw7 1050:0407 v0526 m=\"Yubico\" p=\"YubiKey OTP+FIDO+CCID\"",
                        "dev/hidraw8 046D:C52B v1211 m=\"Logitech\" p=\"USB Receiver\"",
                        "dev/hidraw9 1209:0002 v0000 m=- p=\"Virtual Keys\"",
                    }));
}

TEST_F(LinuxDeviceApiTest, NonUsbBusesUseTheKernelsNameAndTheirInputVersion) {
  // Bluetooth Classic under a USB adapter whose strings are not the device's;
  // input9 is the lowest number, though input25 sorts first as text and
  // readdir may give any of them first.
  const std::vector<FakeInput> inputs = {{25, "0222"}, {31, "0333"}, {9, "0111"},
                                         {14, "0444"}, {40, "0555"}, {12, "0666"}};
  AddBluetoothHidraw(tree_, BluetoothAdapter,
                     {0x0005, 0x046D, 0xB01A, "MX Anywhere 2S", 6, 7, inputs});
  // Bluetooth LE through uhid, without input devices.
  AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB023, "MX Master 3 Mac", 8, 8});
  // USB bus numbers from a user-space driver: no usb_device above it.
  AddUhidHidraw(tree_, {0x0003, 0x1209, 0x0001, "Virtual Pad", 9, 9, {{30, "0003"}}});
  // An I2C touch pad; an input device with a malformed version is passed over.
  AddI2cHidraw(tree_, "i2c-ELAN0001:00",
               {0x0018, 0x04F3, 0x3140, "ELAN0001:00 04F3:3140", 2, 3, {{11, "zz"}, {12, "0100"}}});
  EXPECT_EQ(List(), (std::vector<std::string>{
                        "dev/hidraw3 04F3:3140 v0100 m=- p=\"ELAN0001:00 04F3:3140\"",
                        "dev/hidraw7 046D:B01A v0111 m=- p=\"MX Anywhere 2S\"",
                        "dev/hidraw8 046D:B023 v0000 m=- p=\"MX Master 3 Mac\"",
                        "dev/hidraw9 1209:0001 v0003 m=- p=\"Virtual Pad\"",
                    }));
}

TEST_F(LinuxDeviceApiTest, HidUeventsMalformedUnfinishedOrHuge) {
  static constexpr char WithNuls[] = "HID_ID=0005:0000046D:0000B023\0junk\nHID_NAME=Nul\0Inside\n";
  const std::string failed = "attributes failed 31 m=- ";
  const std::pair<std::string, std::string> cases[] = {
      {"DRIVER=hid-generic\nHID_NAME=Pad=Two=Three\nHID_PHYS=\n", failed + "p=\"Pad=Two=Three\""},
      {"HID_ID=0005:0000046D\nHID_NAME=Truncated Id\n", failed + "p=\"Truncated Id\""},
      {"", failed + "p=-"},
      {"\n\n\n", failed + "p=-"},
      {"HID_ID\nHID_NAME\n", failed + "p=-"},
      {std::string(WithNuls, sizeof WithNuls - 1), failed + "p=\"Nul\""},
      {"HID_ID=0005:0000046D:0000B023\nHID_NAME=No Final Newline",
       "046D:B023 v0000 m=- p=\"No Final Newline\""},
      {"HID_NAME=Id Last\nHID_ID=0005:0000046D:0000B024", "046D:B024 v0000 m=- p=\"Id Last\""},
      // Only the first 64 KiB of a uevent count.
      {"HID_ID=0005:0000046D:0000B025\nPAD=" + std::string(1 << 20, 'a') +
           "\nHID_NAME=Beyond the bound\n",
       "046D:B025 v0000 m=- p=-"},
  };
  std::vector<std::string> expected;
  for (unsigned number = 0; number < std::size(cases); ++number) {
    AddHidrawAt(tree_, "sys/devices/virtual/misc/uhid/0005:046D:B023." + HexDigits(number + 1, 4),
                cases[number].first, number);
    expected.push_back("dev/hidraw" + std::to_string(number) + " " + cases[number].second);
  }
  EXPECT_EQ(List(), expected);
}

TEST_F(LinuxDeviceApiTest, NodesThatCannotBeOpened) {
  AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB023, "Gone", 1, 0});
  AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB023, "Folder", 2, 1});
  AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB023, "Pipe", 3, 2});
  AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB023, "Fine", 4, 3});
  tree_.Remove("dev/hidraw0");
  tree_.Remove("dev/hidraw1");
  tree_.AddDir("dev/hidraw1");
  tree_.Remove("dev/hidraw2");
  ASSERT_EQ(::mkfifo(tree_.Path("dev/hidraw2").c_str(), 0644), 0);
  EXPECT_EQ(List(), (std::vector<std::string>{
                        "dev/hidraw0 open failed 2",
                        "dev/hidraw1 open failed 5",
                        "dev/hidraw2 open failed 5",
                        "dev/hidraw3 046D:B023 v0000 m=- p=\"Fine\"",
                    }));
  // Read-only opens of a folder or a FIFO succeed on Linux, so must be refused after.
  for (const char* node : {"dev/hidraw1", "dev/hidraw2"}) {
    for (DWORD access : {DWORD{GENERIC_READ}, DWORD{0}}) {
      EXPECT_EQ(Open(node, access), INVALID_HANDLE_VALUE) << node << " " << access;
      EXPECT_EQ(api_->GetLastError(), ERROR_ACCESS_DENIED);
    }
  }
}

TEST_F(LinuxDeviceApiTest, ClassEntriesInNumericOrderIgnoringOtherNames) {
  for (unsigned number : {10u, 2u, 1u}) {
    AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB023, "Pad " + std::to_string(number), number, number});
  }
  tree_.AddLinkTo("sys/class/hidraw/hidraw", "sys/class/hidraw/hidraw1");
  tree_.AddLinkTo("sys/class/hidraw/hidrawx", "sys/class/hidraw/hidraw1");
  tree_.AddLinkTo("sys/class/hidraw/hidraw-1", "sys/class/hidraw/hidraw1");
  tree_.AddLinkTo("sys/class/hidraw/hidraw99999999999", "sys/class/hidraw/hidraw1");
  tree_.AddDir("sys/class/hidraw/power");
  EXPECT_EQ(List(), (std::vector<std::string>{
                        "dev/hidraw1 046D:B023 v0000 m=- p=\"Pad 1\"",
                        "dev/hidraw2 046D:B023 v0000 m=- p=\"Pad 2\"",
                        "dev/hidraw10 046D:B023 v0000 m=- p=\"Pad 10\"",
                    }));
}

TEST_F(LinuxDeviceApiTest, DevicesThatLeaveAndBrokenClassLinksHaveNoDetail) {
  const std::string stays = AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB023, "Stays", 1, 0});
  const std::string leaves = AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB023, "Leaves", 2, 1});
  tree_.AddLink("sys/class/hidraw/hidraw2", "../../devices/virtual/misc/uhid/gone/hidraw/hidraw2");
  tree_.AddLink("sys/class/hidraw/hidraw3", "hidraw3");
  tree_.AddLink("sys/class/hidraw/hidraw4", "hidraw5");
  tree_.AddLink("sys/class/hidraw/hidraw5", "hidraw4");
  tree_.AddFile("sys/class/hidraw/hidraw6", "");

  // The device leaves between the snapshot and the detail query: still an
  // interface, but its fetch fails.
  HDEVINFO set = HidSet();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  tree_.Remove(leaves);
  SP_DEVICE_INTERFACE_DATA interface = Interface(set, 1);
  DWORD error = 0;
  EXPECT_EQ(QueryPath(*api_, set, interface, &error), std::nullopt);
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(api_->SetupDiDestroyDeviceInfoList(set));
  EXPECT_EQ(List(), (std::vector<std::string>{
                        "dev/hidraw0 046D:B023 v0000 m=- p=\"Stays\"",
                        "#1 detail failed 2",
                        "#2 detail failed 2",
                        "#3 detail failed 2",
                        "#4 detail failed 2",
                        "#5 detail failed 2",
                        "#6 detail failed 2",
                    }));

  // A device that leaves after its node was opened.
  HANDLE handle = Open("dev/hidraw0");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  tree_.Remove(stays);
  HIDD_ATTRIBUTES attributes{};
  EXPECT_FALSE(api_->HidD_GetAttributes(handle, &attributes));
  EXPECT_EQ(api_->GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  char16_t buffer[8];
  EXPECT_FALSE(api_->HidD_GetProductString(handle, buffer, sizeof(buffer)));
  EXPECT_EQ(api_->GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_TRUE(api_->CloseHandle(handle));
}

TEST_F(LinuxDeviceApiTest, DetailQueryHonoursTheCallersSizeAsWindowsDoes) {
  AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB023, "Pad", 1, 0});
  HDEVINFO set = HidSet();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA interface = Interface(set, 0);
  const std::string path = tree_.Path("dev/hidraw0");
  const DWORD expected = static_cast<DWORD>(4 + path.size() + 1);
  constexpr DWORD Slack = 16;
  const DWORD rightCbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);

  // Calls the fetch with a buffer of sentinels holding cbSize, of the given
  // size; checks the result, the error and the size reported, and returns the bytes.
  auto fetch = [&](DWORD cbSize, DWORD size, bool succeeds, DWORD error, DWORD reported) {
    std::vector<unsigned char> bytes(expected + Slack, Sentinel);
    std::memcpy(bytes.data(), &cbSize, sizeof(cbSize));
    DWORD required = Untouched;
    EXPECT_EQ(
        api_->SetupDiGetDeviceInterfaceDetailA(
            set, &interface, reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(bytes.data()),
            size, &required, nullptr),
        succeeds ? 1 : 0);
    if (!succeeds) {
      EXPECT_EQ(api_->GetLastError(), error);
    }
    EXPECT_EQ(required, reported);
    return bytes;
  };
  std::vector<unsigned char> untouched(expected + Slack, Sentinel);

  // The probe.
  DWORD required = Untouched;
  EXPECT_FALSE(
      api_->SetupDiGetDeviceInterfaceDetailA(set, &interface, nullptr, 0, &required, nullptr));
  EXPECT_EQ(api_->GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, expected);

  // Wrong cbSize: the 32-bit record's size in a 64-bit build and the other
  // way, and 0. Nothing is written, not even the size.
  for (DWORD cbSize : {rightCbSize == 8 ? DWORD{5} : DWORD{8}, DWORD{0}}) {
    SCOPED_TRACE(cbSize);
    std::memcpy(untouched.data(), &cbSize, sizeof(cbSize));
    EXPECT_EQ(fetch(cbSize, expected + Slack, false, ERROR_INVALID_USER_BUFFER, Untouched),
              untouched);
  }

  // Too small, down to less than cbSize itself: nothing is written into the buffer.
  std::memcpy(untouched.data(), &rightCbSize, sizeof(rightCbSize));
  for (DWORD size : {expected - 1, DWORD{5}, DWORD{2}, DWORD{0}}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(fetch(rightCbSize, size, false, ERROR_INSUFFICIENT_BUFFER, expected), untouched);
  }

  // Exactly the size, and more: the path and its NUL, and not a byte after.
  std::vector<unsigned char> filled = untouched;
  std::memcpy(filled.data() + 4, path.c_str(), path.size() + 1);
  for (DWORD size : {expected, expected + Slack}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(fetch(rightCbSize, size, true, 0, expected), filled);
  }

  // A record that no enumeration filled refers to no entry.
  SP_DEVICE_INTERFACE_DATA blank{};
  blank.cbSize = sizeof(blank);
  EXPECT_FALSE(api_->SetupDiGetDeviceInterfaceDetailA(set, &blank, nullptr, 0, &required, nullptr));
  EXPECT_EQ(api_->GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(api_->SetupDiDestroyDeviceInfoList(set));
}

TEST_F(LinuxDeviceApiTest, DevicePathComesFromDevnameOnlyWhenItStaysUnderDev) {
  struct Case {
    const char* Uevent;  // of the class entry; nullptr: no uevent file
    std::string Path;
  };
  const Case cases[] = {
      {"MAJOR=241\nMINOR=0\nDEVNAME=hidraw0\n", "dev/hidraw0"},
      {"MAJOR=241\nMINOR=1\nDEVNAME=hid/pad1\n", "dev/hid/pad1"},
      {"MAJOR=241\nMINOR=2\nDEVNAME=\n", "dev/hidraw2"},
      {"MAJOR=241\nMINOR=3\nDEVNAME=/etc/passwd\n", "dev/hidraw3"},
      {"MAJOR=241\nMINOR=4\nDEVNAME=../etc/passwd\n", "dev/hidraw4"},
      {"MAJOR=241\nMINOR=5\nDEVNAME=hid/../../etc/passwd\n", "dev/hidraw5"},
      {"MAJOR=241\nMINOR=6\nDEVNAME=hid/..\n", "dev/hidraw6"},
      {"MAJOR=241\nMINOR=7\n", "dev/hidraw7"},
      {nullptr, "dev/hidraw8"},
      {"MAJOR=241\nMINOR=9\nDEVNAME=..hidraw9\n", "dev/..hidraw9"},
      {"", "dev/hidraw10"},
      {"MAJOR=241\nMINOR=11\nDEVNAME=hid/pad11", "dev/hid/pad11"},
  };
  for (unsigned number = 0; number < std::size(cases); ++number) {
    const std::string hid = AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB023, "Pad", number, number});
    const std::string uevent = HidrawFolder(hid, number) + "/uevent";
    if (cases[number].Uevent == nullptr) {
      tree_.Remove(uevent);
    } else {
      tree_.AddFile(uevent, cases[number].Uevent);
    }
  }
  HDEVINFO set = HidSet();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  for (unsigned number = 0; number < std::size(cases); ++number) {
    SCOPED_TRACE(number);
    SP_DEVICE_INTERFACE_DATA interface = Interface(set, number);
    DWORD error = 0;
    EXPECT_EQ(QueryPath(*api_, set, interface, &error), tree_.Path(cases[number].Path));
  }
  EXPECT_TRUE(api_->SetupDiDestroyDeviceInfoList(set));
}

TEST_F(LinuxDeviceApiTest, OnlyAnUnreadableSysClassFailsTheSnapshot) {
  // No sys/class at all.
  EXPECT_EQ(List(), (std::vector<std::string>{"class query failed 2"}));
  // A system without hidraw: no class folder, or something else in its place.
  tree_.AddDir("sys/class/input");
  EXPECT_EQ(List(), std::vector<std::string>{});
  tree_.AddFile("sys/class/hidraw", "");
  EXPECT_EQ(List(), std::vector<std::string>{});
}

TEST_F(LinuxDeviceApiTest, StringsFillTheCallersBytesAsWindowsDoes) {
  // "Ærø 😀" and a manufacturer with a byte that is not UTF-8.
  AddUsbHidraw(tree_,
               {"1-2", 0x1234, 0x5678, "0100", "Acme\xFF", "\xC3\x86r\xC3\xB8 \xF0\x9F\x98\x80",
                std::nullopt},
               0, {0x0003, 0x1234, 0x5678, "Acme Pad", 1, 0});
  HANDLE handle = Open("dev/hidraw0");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  const std::u16string product = u"\u00C6r\u00F8 \xD83D\xDE00";

  for (ULONG length : {0u, 1u, 7u, 10u, 11u, 12u, 13u, 14u, 15u, 40u}) {
    SCOPED_TRACE(length);
    std::vector<unsigned char> bytes(48, Sentinel);
    EXPECT_TRUE(api_->HidD_GetProductString(handle, bytes.data() + 1, length));
    std::vector<unsigned char> expected(48, Sentinel);
    const std::size_t units = std::min<std::size_t>(length / 2, product.size());
    std::memcpy(expected.data() + 1, product.data(), units * 2);
    if (units < length / 2) std::memset(expected.data() + 1 + units * 2, 0, 2);
    EXPECT_EQ(bytes, expected);
  }

  char16_t buffer[16];
  EXPECT_TRUE(api_->HidD_GetManufacturerString(handle, buffer, sizeof(buffer)));
  EXPECT_EQ(std::u16string(buffer), u"Acme\uFFFD");
  EXPECT_TRUE(api_->CloseHandle(handle));
}

// The descriptor the service holds for the node at path, from /proc/self/fd.
std::vector<int> DescriptorsOf(const std::string& path) {
  const std::string wanted = std::filesystem::canonical(path).string();
  std::vector<int> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const auto target = std::filesystem::read_symlink(entry.path(), error);
    if (!error && target == wanted) found.push_back(std::stoi(entry.path().filename().string()));
  }
  return found;
}

TEST_F(LinuxDeviceApiTest, OpensReadWriteBlockingNotInheritedAndNeverOnAStandardStream) {
  AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB023, "Pad", 1, 0});
  const std::string node = tree_.Path("dev/hidraw0");
  // With standard input closed, open() would hand out descriptor 0.
  const int savedInput = ::dup(STDIN_FILENO);
  ASSERT_GE(savedInput, 0);
  ::close(STDIN_FILENO);
  HANDLE handle = Open("dev/hidraw0");
  const bool inputStillClosed = ::fcntl(STDIN_FILENO, F_GETFD) < 0 && errno == EBADF;
  const std::vector<int> fds = DescriptorsOf(node);
  ::dup2(savedInput, STDIN_FILENO);
  ::close(savedInput);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(inputStillClosed);
  ASSERT_EQ(fds.size(), 1u);
  EXPECT_GT(fds[0], STDERR_FILENO);
  const int flags = ::fcntl(fds[0], F_GETFL);
  EXPECT_EQ(flags & (O_ACCMODE | O_PATH), O_RDWR);
  EXPECT_EQ(flags & O_NONBLOCK, 0);
  EXPECT_NE(::fcntl(fds[0], F_GETFD) & FD_CLOEXEC, 0);
  HIDD_ATTRIBUTES attributes{};
  EXPECT_TRUE(api_->HidD_GetAttributes(handle, &attributes));
  EXPECT_TRUE(api_->CloseHandle(handle));
  EXPECT_TRUE(DescriptorsOf(node).empty());
}

TEST_F(LinuxDeviceApiTest, RealNodesAreFoundByDeviceNumberAndPlainFilesByName) {
  // hidraw1's node under another name, with /dev/null's device number.
  AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB023, "By Name", 1, 0});
  const std::string byNumber = AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB01A, "By Number", 2, 1});
  tree_.Remove("sys/dev/char/241:1");
  tree_.AddLinkTo("sys/dev/char/1:3", HidrawFolder(byNumber, 1));
  tree_.AddDir("dev/input");
  if (::mknod(tree_.Path("dev/input/pad").c_str(), S_IFCHR | 0600, ::makedev(1, 3)) != 0) {
    GTEST_SKIP() << "cannot make device nodes here: " << std::strerror(errno);
  }
  // A character node whose number sysfs does not know falls back to its name.
  tree_.Remove("dev/hidraw0");
  ASSERT_EQ(::mknod(tree_.Path("dev/hidraw0").c_str(), S_IFCHR | 0600, ::makedev(1, 5)), 0);

  char16_t buffer[32];
  HANDLE handle = Open("dev/input/pad");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(api_->HidD_GetProductString(handle, buffer, sizeof(buffer)));
  EXPECT_EQ(std::u16string(buffer), u"By Number");
  EXPECT_TRUE(api_->CloseHandle(handle));
  handle = Open("dev/hidraw0");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(api_->HidD_GetProductString(handle, buffer, sizeof(buffer)));
  EXPECT_EQ(std::u16string(buffer), u"By Name");
  EXPECT_TRUE(api_->CloseHandle(handle));
}

// Fails the test by ending the process if the body stalls, as a read of a
// FIFO without a writer would.
class StallGuard {
 public:
  explicit StallGuard(unsigned seconds) { ::alarm(seconds); }
  ~StallGuard() { ::alarm(0); }
  StallGuard(const StallGuard&) = delete;
  StallGuard& operator=(const StallGuard&) = delete;
};

void MakeFifo(SysfsTree& tree, const std::string& rel) {
  tree.Remove(rel);
  ASSERT_EQ(::mkfifo(tree.Path(rel).c_str(), 0644), 0) << rel;
}

TEST_F(LinuxDeviceApiTest, UnreadableUeventsAndAttributesNeverStall) {
  // FIFOs without a writer would block a read or a blocking open forever.
  const StallGuard guard(30);
  const std::string fifoUevent = AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB023, "Fifo", 1, 0});
  MakeFifo(tree_, fifoUevent + "/uevent");
  const std::string folderUevent = AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB024, "Folder", 2, 1});
  tree_.Remove(folderUevent + "/uevent");
  tree_.AddDir(folderUevent + "/uevent");
  // The class entry's uevent: the entry's own name is the node's.
  const std::string classFifo = AddUhidHidraw(tree_, {0x0005, 0x046D, 0xB025, "Class Fifo", 3, 2});
  MakeFifo(tree_, HidrawFolder(classFifo, 2) + "/uevent");
  // The version of the lowest input that can be read.
  const std::string inputs = AddI2cHidraw(
      tree_, "i2c-ELAN0001:00",
      {0x0018, 0x04F3, 0x3140, "ELAN Pad", 4, 3, {{5, "0105"}, {6, "0106"}, {7, "0107"}}});
  MakeFifo(tree_, inputs + "/input/input5/id/version");
  tree_.Remove(inputs + "/input/input6/id/version");
  tree_.AddDir(inputs + "/input/input6/id/version");
  // A USB descriptor whose bcdDevice and manufacturer cannot be read.
  AddUsbHidraw(tree_, {"1-3", 0x0483, 0x5750, "0200", "ST", "Pad", std::nullopt}, 0,
               {0x0003, 0x0483, 0x5750, "ST Pad", 5, 4});
  const std::string usb = "sys/devices/pci0000:00/0000:00:14.0/usb1/1-3/";
  MakeFifo(tree_, usb + "bcdDevice");
  MakeFifo(tree_, usb + "manufacturer");
  EXPECT_EQ(List(), (std::vector<std::string>{
                        "dev/hidraw0 attributes failed 1167 m=- p=-",
                        "dev/hidraw1 attributes failed 1167 m=- p=-",
                        "dev/hidraw2 046D:B025 v0000 m=- p=\"Class Fifo\"",
                        "dev/hidraw3 04F3:3140 v0107 m=- p=\"ELAN Pad\"",
                        "dev/hidraw4 0483:5750 v0000 m=- p=\"Pad\"",
                    }));
}

TEST_F(LinuxDeviceApiTest, ListingReadsNothingOfTheEntriesPastTheFirstTwentyByNumber) {
  // 200 entries, made in an order that is neither their numbers' nor their names'.
  std::map<unsigned, std::string> hidFolders;
  for (unsigned i = 0; i < 200; ++i) {
    const unsigned number = i * 37 % 211;
    hidFolders[number] = AddUhidHidraw(
        tree_, {0x0005, 0x046D, 0xB023, "Pad " + std::to_string(number), number + 1, number});
  }
  // Every open or read inside an entry's class folder or its HID device's
  // folder shows as an event of that entry's watches.
  const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watcher, 0) << std::strerror(errno);
  std::map<int, unsigned> numberOfWatch;
  for (const auto& [number, folder] : hidFolders) {
    for (const std::string& watched : {folder, HidrawFolder(folder, number)}) {
      const int watch =
          ::inotify_add_watch(watcher, tree_.Path(watched).c_str(), IN_OPEN | IN_ACCESS);
      ASSERT_GE(watch, 0) << std::strerror(errno);
      numberOfWatch[watch] = number;
    }
  }

  testing::FakeConsole console;
  console.Output.FileType = FILE_TYPE_PIPE;
  ConsoleText text(console);
  RunListing(*api_, text);
  text.FinishOutput();

  std::map<unsigned, int> eventsOf;
  alignas(inotify_event) char events[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(watcher, events, sizeof events);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      ++eventsOf[numberOfWatch.at(event->wd)];
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  ::close(watcher);

  std::string expected;
  std::set<unsigned> firstTwenty;
  for (const auto& [number, folder] : hidFolders) {
    if (firstTwenty.size() == 20) break;
    firstTwenty.insert(number);
    expected += "VID: 046D\r\n\r\nPID: B023\r\nPad " + std::to_string(number) +
                "\r\nVersionNumber:0000\r\n";
  }
  EXPECT_EQ(console.Output.Text(), expected + "Press ENTER to return.........\r\n");
  std::set<unsigned> read;
  for (const auto& [number, count] : eventsOf) read.insert(number);
  EXPECT_EQ(read, firstTwenty);
}

}  // namespace
}  // namespace hidlist
