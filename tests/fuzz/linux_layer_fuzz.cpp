// The Linux layer itself over a fake sysfs tree whose files the input
// writes: a HID device's uevent, a USB descriptor's manufacturer, product and
// bcdDevice, and the byte length of the caller's string buffer. The queries
// answer what the files say (the strings less one newline, filled by the
// length rule) and never write past the length given.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device_api/device_api_linux.h"
#include "device_api/sysfs_parse.h"
#include "device_api/wide_string.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/sysfs_tree.h"

namespace hidlist {
namespace {

constexpr unsigned char Sentinel = 0xA5;
constexpr const char* UsbFolder = "sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";

struct Machine {
  SysfsTree Tree;
  std::string UhidFolder;
  std::unique_ptr<DeviceApi> Api;

  Machine() {
    const FakeUsbDevice receiver("1-2", 0x046D, 0xC52B, "1211", "Logitech", "USB Receiver");
    AddUsbHidraw(Tree, receiver, 0, FakeHidDevice(0x0003, 0x046D, 0xC52B, "Receiver", 1, 0));
    UhidFolder = AddUhidHidraw(Tree, FakeHidDevice(0x0005, 0x046D, 0xB023, "Pad", 2, 1));
    Api = OpenLinuxDeviceApi(Tree.Root());
  }

  void Write(const std::string& rel, const std::string& text) {
    std::ofstream file(Tree.Path(rel), std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
};

Machine& TheMachine() {
  static Machine machine;
  return machine;
}

// One string query into a buffer of length bytes at offset, with sentinels
// around it; nullopt when the query fails.
std::optional<std::vector<unsigned char>> Query(DeviceApi& api, HANDLE handle, bool manufacturer,
                                                ULONG length, std::size_t offset) {
  std::vector<unsigned char> bytes(offset + length + 32, Sentinel);
  void* buffer = bytes.data() + offset;
  const BOOLEAN found = manufacturer ? api.HidD_GetManufacturerString(handle, buffer, length)
                                     : api.HidD_GetProductString(handle, buffer, length);
  if (!found) {
    for (unsigned char byte : bytes) HIDLIST_FUZZ_CHECK(byte == Sentinel);
    return std::nullopt;
  }
  return bytes;
}

void CheckFilled(const std::vector<unsigned char>& bytes, const std::string& utf8, ULONG length,
                 std::size_t offset) {
  const std::u16string units = Utf8ToUtf16(utf8);
  const std::size_t count = std::min<std::size_t>(length / 2, units.size());
  const std::size_t written = count * 2 + (count < length / 2 ? 2 : 0);
  std::vector<unsigned char> expected(bytes.size(), Sentinel);
  std::memcpy(expected.data() + offset, units.data(), count * 2);
  if (written > count * 2) expected[offset + count * 2] = expected[offset + count * 2 + 1] = 0;
  HIDLIST_FUZZ_CHECK(bytes == expected);
}

void FuzzOne(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto length = input.ConsumeIntegralInRange<ULONG>(0, 1100);
  const std::size_t offset = input.ConsumeBool() ? 1 : 0;
  const std::string uevent = input.ConsumeRandomLengthString(1024);
  const std::string manufacturer = input.ConsumeRandomLengthString(700);
  const std::string product = input.ConsumeRandomLengthString(700);
  const std::string bcdDevice = input.ConsumeRemainingBytesAsString();

  Machine& machine = TheMachine();
  machine.Write(machine.UhidFolder + "/uevent", uevent);
  machine.Write(std::string(UsbFolder) + "/manufacturer", manufacturer);
  machine.Write(std::string(UsbFolder) + "/product", product);
  machine.Write(std::string(UsbFolder) + "/bcdDevice", bcdDevice);
  DeviceApi& api = *machine.Api;

  // The USB device: its HID_ID stays; the rest comes from the descriptor.
  HANDLE usb = api.CreateFileA(machine.Tree.Path("dev/hidraw0").c_str(),
                               GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  HIDLIST_FUZZ_CHECK(usb != INVALID_HANDLE_VALUE);
  HIDD_ATTRIBUTES attributes{};
  HIDLIST_FUZZ_CHECK(api.HidD_GetAttributes(usb, &attributes));
  HIDLIST_FUZZ_CHECK(attributes.VendorID == 0x046D && attributes.ProductID == 0xC52B);
  HIDLIST_FUZZ_CHECK(attributes.VersionNumber == ParseHexAttribute(bcdDevice).value_or(0));
  const auto usbManufacturer = Query(api, usb, true, length, offset);
  HIDLIST_FUZZ_CHECK(usbManufacturer.has_value());
  CheckFilled(*usbManufacturer, std::string(TrimOneNewline(manufacturer)), length, offset);
  const auto usbProduct = Query(api, usb, false, length, offset);
  HIDLIST_FUZZ_CHECK(usbProduct.has_value());
  CheckFilled(*usbProduct, std::string(TrimOneNewline(product)), length, offset);
  HIDLIST_FUZZ_CHECK(api.CloseHandle(usb));

  // The Bluetooth LE device: everything from its uevent.
  HANDLE uhid =
      api.CreateFileA(machine.Tree.Path("dev/hidraw1").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                      nullptr, OPEN_EXISTING, 0, nullptr);
  HIDLIST_FUZZ_CHECK(uhid != INVALID_HANDLE_VALUE);
  const std::optional<std::string_view> idText = FindUeventValue(uevent, "HID_ID");
  const std::optional<HidId> id = idText ? ParseHidId(*idText) : std::nullopt;
  HIDD_ATTRIBUTES other{0x11111111, 0x2222, 0x3333, 0x4444};
  const bool answered = api.HidD_GetAttributes(uhid, &other);
  HIDLIST_FUZZ_CHECK(answered == id.has_value());
  if (id) {
    HIDLIST_FUZZ_CHECK(other.VendorID == id->Vendor && other.ProductID == id->Product);
    HIDLIST_FUZZ_CHECK(other.VersionNumber == 0);
  } else {
    HIDLIST_FUZZ_CHECK(other.Size == 0x11111111 && other.VendorID == 0x2222);
  }
  // Not USB: no manufacturer at all, and HID_NAME as the product.
  HIDLIST_FUZZ_CHECK(!Query(api, uhid, true, length, offset).has_value());
  const std::optional<std::string_view> name = FindUeventValue(uevent, "HID_NAME");
  const auto uhidProduct = Query(api, uhid, false, length, offset);
  HIDLIST_FUZZ_CHECK(uhidProduct.has_value() == name.has_value());
  if (name) CheckFilled(*uhidProduct, std::string(*name), length, offset);
  HIDLIST_FUZZ_CHECK(api.CloseHandle(uhid));
}

}  // namespace
}  // namespace hidlist

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hidlist::FuzzOne(data, size);
  return 0;
}
