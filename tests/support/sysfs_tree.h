// Fake sysfs trees in a temporary folder, laid out the way real kernels lay
// them out, so that tests hand the device service a root of their own.
// Failures throw std::runtime_error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hidlist {

// A fresh temporary folder for sys/ and dev/; it goes, with all it holds,
// when the tree is destroyed. Paths given to it are relative to Root();
// missing parent folders are made.
class SysfsTree {
 public:
  SysfsTree();
  ~SysfsTree();
  SysfsTree(const SysfsTree&) = delete;
  SysfsTree& operator=(const SysfsTree&) = delete;

  // The folder, ending in '/': the root the device service is given.
  const std::string& Root() const { return root_; }
  std::string Path(std::string_view rel) const;

  void AddDir(std::string_view rel);
  // Writes the file whole, replacing what was there.
  void AddFile(std::string_view rel, std::string_view text);
  // A symbolic link whose target is written as given, so it may dangle or loop.
  void AddLink(std::string_view rel, std::string_view target);
  // A link to the entry at targetRel, written relative as sysfs writes its links.
  void AddLinkTo(std::string_view rel, std::string_view targetRel);
  // Removes a file, link or folder and all it holds, as when a device leaves.
  void Remove(std::string_view rel);

 private:
  std::string root_;
};

// An input device of a HID device: input/input<Number>, whose id/version
// file holds Version and a newline, as the kernel writes it.
struct FakeInput {
  unsigned Number = 0;
  std::string Version = "0111";
};

// A USB device's folder sys/devices/pci0000:00/0000:00:14.0/usb1/<Port>, a
// usb_device with its descriptor attributes. Port is the folder below usb1:
// "1-2", or "1-1/1-1.3" behind a hub. Attribute values are given without the
// newline the kernel ends them with; nullopt means the file is absent.
struct FakeUsbDevice {
  FakeUsbDevice(std::string port, std::uint16_t vendorId, std::uint16_t productId,
                std::optional<std::string> bcdDevice = "0100",
                std::optional<std::string> manufacturer = std::nullopt,
                std::optional<std::string> product = std::nullopt,
                std::optional<std::string> serial = std::nullopt)
      : Port(std::move(port)),
        VendorId(vendorId),
        ProductId(productId),
        BcdDevice(std::move(bcdDevice)),
        Manufacturer(std::move(manufacturer)),
        Product(std::move(product)),
        Serial(std::move(serial)) {}

  std::string Port;
  std::uint16_t VendorId;
  std::uint16_t ProductId;
  std::optional<std::string> BcdDevice;
  std::optional<std::string> Manufacturer;
  std::optional<std::string> Product;
  std::optional<std::string> Serial;
};

// One HID device, a folder named BBBB:VVVV:PPPP.SSSS (Sequence is the
// kernel's running number after the '.'), with its input devices and one
// hidraw node, dev/hidraw<Hidraw>, which is a plain file.
struct FakeHidDevice {
  FakeHidDevice(std::uint16_t bus, std::uint16_t vendorId, std::uint16_t productId,
                std::string name, unsigned sequence, unsigned hidraw,
                std::vector<FakeInput> inputs = {})
      : Bus(bus),
        VendorId(vendorId),
        ProductId(productId),
        Name(std::move(name)),
        Sequence(sequence),
        Hidraw(hidraw),
        Inputs(std::move(inputs)) {}

  std::uint16_t Bus;
  std::uint16_t VendorId;
  std::uint16_t ProductId;
  std::string Name;  // HID_NAME
  unsigned Sequence;
  unsigned Hidraw;
  std::vector<FakeInput> Inputs;
};

// Each Add*Hidraw returns the HID device's folder, relative to the root.

// Under interface `interfaceNumber` of a USB device, adding the device, its
// root hub and the interface when they are not there yet.
std::string AddUsbHidraw(SysfsTree& tree, const FakeUsbDevice& usb, unsigned interfaceNumber,
                         const FakeHidDevice& hid);
// A HID device that another one made, one level deeper, as a wireless
// receiver makes one for each paired device.
std::string AddChildHidraw(SysfsTree& tree, std::string_view parentHidFolder,
                           const FakeHidDevice& hid);
// A Bluetooth Classic device on a USB adapter:
// <adapter>/<port>:1.0/bluetooth/hci0/hci0:256/<hid>.
std::string AddBluetoothHidraw(SysfsTree& tree, const FakeUsbDevice& adapter,
                               const FakeHidDevice& hid);
// A device made through uhid, as Bluetooth LE devices are:
// sys/devices/virtual/misc/uhid/<hid>.
std::string AddUhidHidraw(SysfsTree& tree, const FakeHidDevice& hid);
// An I2C HID device such as a touch pad, for i2cName "i2c-ELAN0001:00":
// sys/devices/pci0000:00/0000:00:15.1/i2c_designware.1/i2c-2/<i2cName>/<hid>.
std::string AddI2cHidraw(SysfsTree& tree, std::string_view i2cName, const FakeHidDevice& hid);

// The general case: a HID device folder at hidFolder with this uevent text,
// its hidraw<hidraw> child, the class and device-number links and the node.
void AddHidrawAt(SysfsTree& tree, std::string_view hidFolder, std::string_view uevent,
                 unsigned hidraw);

// The folder of a HID device's hidraw child: <hidFolder>/hidraw/hidraw<hidraw>.
std::string HidrawFolder(std::string_view hidFolder, unsigned hidraw);

}  // namespace hidlist
