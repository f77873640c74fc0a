#include "tests/support/sysfs_tree.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace hidlist {

namespace {

namespace fs = std::filesystem;

// The hidraw class's character-device major on a typical kernel; the
// backend does not depend on its value.
constexpr unsigned HidrawMajor = 241;

// Real sysfs hangs USB, PCI and I2C devices below the same host bridge.
constexpr std::string_view UsbHostController = "sys/devices/pci0000:00/0000:00:14.0";

std::string Hex(unsigned value, int digits, bool upper) {
  char text[16];
  std::snprintf(text, sizeof(text), upper ? "%0*X" : "%0*x", digits, value);
  return text;
}

std::string Join(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += '/';
  path += name;
  return path;
}

std::string BaseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

void AddAttribute(SysfsTree& tree, const std::string& folder, std::string_view name,
                  const std::optional<std::string>& value) {
  if (value) tree.AddFile(Join(folder, name), *value + "\n");
}

std::string UsbDeviceFolder(const FakeUsbDevice& usb) {
  return Join(UsbHostController, "usb1/" + usb.Port);
}

// The usb_device folder with its attributes, and the root hub above it,
// which is a usb_device of its own with strings that must never be taken
// for the device's.
std::string AddUsbDevice(SysfsTree& tree, const FakeUsbDevice& usb) {
  const std::string hub = Join(UsbHostController, "usb1");
  tree.AddFile(Join(hub, "uevent"),
               "MAJOR=189\nMINOR=0\nDEVNAME=bus/usb/001/001\nDEVTYPE=usb_device\nDRIVER=usb\n"
               "PRODUCT=1d6b/2/601\nTYPE=9/0/1\nBUSNUM=001\nDEVNUM=001\n");
  tree.AddFile(Join(hub, "idVendor"), "1d6b\n");
  tree.AddFile(Join(hub, "idProduct"), "0002\n");
  tree.AddFile(Join(hub, "bcdDevice"), "0601\n");
  tree.AddFile(Join(hub, "manufacturer"), "Linux 6.1.0-13-amd64 xhci-hcd\n");
  tree.AddFile(Join(hub, "product"), "xHCI Host Controller\n");
  tree.AddFile(Join(hub, "serial"), "0000:00:14.0\n");

  const std::string folder = UsbDeviceFolder(usb);
  const std::string product = Hex(usb.VendorId, 1, false) + "/" + Hex(usb.ProductId, 1, false) +
                              "/" + usb.BcdDevice.value_or("0");
  tree.AddFile(Join(folder, "uevent"),
               "MAJOR=189\nMINOR=1\nDEVNAME=bus/usb/001/002\n"
               "DEVTYPE=usb_device\nDRIVER=usb\nPRODUCT=" +
                   product + "\nTYPE=0/0/0\nBUSNUM=001\nDEVNUM=002\n");
  tree.AddFile(Join(folder, "idVendor"), Hex(usb.VendorId, 4, false) + "\n");
  tree.AddFile(Join(folder, "idProduct"), Hex(usb.ProductId, 4, false) + "\n");
  AddAttribute(tree, folder, "bcdDevice", usb.BcdDevice);
  AddAttribute(tree, folder, "manufacturer", usb.Manufacturer);
  AddAttribute(tree, folder, "product", usb.Product);
  AddAttribute(tree, folder, "serial", usb.Serial);
  return folder;
}

// An interface folder, "1-2:1.0": DEVTYPE=usb_interface, no idVendor.
std::string AddUsbInterface(SysfsTree& tree, const FakeUsbDevice& usb, unsigned number,
                            std::string_view driver) {
  const std::string folder =
      Join(UsbDeviceFolder(usb), BaseName(usb.Port) + ":1." + std::to_string(number));
  tree.AddFile(Join(folder, "uevent"), "DEVTYPE=usb_interface\nDRIVER=" + std::string(driver) +
                                           "\nINTERFACE=3/0/0\nMODALIAS=usb:v" +
                                           Hex(usb.VendorId, 4, true) + "p" +
                                           Hex(usb.ProductId, 4, true) + "\n");
  tree.AddFile(Join(folder, "bInterfaceNumber"), Hex(number, 2, false) + "\n");
  tree.AddFile(Join(folder, "bInterfaceClass"), "03\n");
  return folder;
}

// "usb-0000:00:14.0-2/input0" for port 1-2.
std::string UsbPhys(const FakeUsbDevice& usb, unsigned interfaceNumber) {
  const std::string port = BaseName(usb.Port);
  const std::size_t dash = port.find('-');
  return "usb-0000:00:14.0-" + port.substr(dash == std::string::npos ? 0 : dash + 1) + "/input" +
         std::to_string(interfaceNumber);
}

void AddInputs(SysfsTree& tree, std::string_view hidFolder, const FakeHidDevice& hid) {
  for (const FakeInput& input : hid.Inputs) {
    const std::string folder = Join(hidFolder, "input/input" + std::to_string(input.Number));
    tree.AddFile(Join(folder, "uevent"), "PRODUCT=" + Hex(hid.Bus, 1, false) + "/" +
                                             Hex(hid.VendorId, 1, false) + "/" +
                                             Hex(hid.ProductId, 1, false) + "/" + input.Version +
                                             "\nNAME=\"" + hid.Name + "\"\n");
    tree.AddFile(Join(folder, "name"), hid.Name + "\n");
    tree.AddFile(Join(folder, "id/bustype"), Hex(hid.Bus, 4, false) + "\n");
    tree.AddFile(Join(folder, "id/vendor"), Hex(hid.VendorId, 4, false) + "\n");
    tree.AddFile(Join(folder, "id/product"), Hex(hid.ProductId, 4, false) + "\n");
    tree.AddFile(Join(folder, "id/version"), input.Version + "\n");
  }
}

// A HID device's folder name, "0003:046D:C52B.0001".
std::string HidFolderName(const FakeHidDevice& hid) {
  return Hex(hid.Bus, 4, true) + ":" + Hex(hid.VendorId, 4, true) + ":" +
         Hex(hid.ProductId, 4, true) + "." + Hex(hid.Sequence, 4, true);
}

// Its uevent as the kernel writes it, with this HID_PHYS.
std::string HidUevent(const FakeHidDevice& hid, std::string_view phys) {
  const std::string vendor = Hex(hid.VendorId, 8, true);
  const std::string product = Hex(hid.ProductId, 8, true);
  return "DRIVER=hid-generic\nHID_ID=" + Hex(hid.Bus, 4, true) + ":" + vendor + ":" + product +
         "\nHID_NAME=" + hid.Name + "\nHID_PHYS=" + std::string(phys) +
         "\nHID_UNIQ=\nMODALIAS=hid:b" + Hex(hid.Bus, 4, true) + "g0001v" + vendor + "p" + product +
         "\n";
}

std::string AddHid(SysfsTree& tree, std::string_view parent, const FakeHidDevice& hid,
                   std::string_view phys) {
  const std::string folder = Join(parent, HidFolderName(hid));
  AddHidrawAt(tree, folder, HidUevent(hid, phys), hid.Hidraw);
  AddInputs(tree, folder, hid);
  return folder;
}

}  // namespace

SysfsTree::SysfsTree() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/hidlist-sysfs-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
  }
  root_ = pattern + "/";
}

SysfsTree::~SysfsTree() {
  // remove_all does not follow links, so loops and links out of the tree are safe.
  std::error_code error;
  fs::remove_all(root_, error);
}

std::string SysfsTree::Path(std::string_view rel) const { return root_ + std::string(rel); }

void SysfsTree::AddDir(std::string_view rel) {
  std::error_code error;
  fs::create_directories(Path(rel), error);
  if (error) throw std::runtime_error("mkdir " + Path(rel) + ": " + error.message());
}

void SysfsTree::AddFile(std::string_view rel, std::string_view text) {
  const fs::path path = Path(rel);
  AddDir(fs::path(rel).parent_path().string());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.close();
  if (!file) throw std::runtime_error("write " + path.string());
}

void SysfsTree::AddLink(std::string_view rel, std::string_view target) {
  AddDir(fs::path(rel).parent_path().string());
  std::error_code error;
  fs::create_symlink(fs::path(target), Path(rel), error);
  if (error) throw std::runtime_error("symlink " + Path(rel) + ": " + error.message());
}

void SysfsTree::AddLinkTo(std::string_view rel, std::string_view targetRel) {
  const fs::path target = fs::path(targetRel).lexically_relative(fs::path(rel).parent_path());
  AddLink(rel, target.string());
}

void SysfsTree::Remove(std::string_view rel) {
  std::error_code error;
  fs::remove_all(Path(rel), error);
  if (error) throw std::runtime_error("remove " + Path(rel) + ": " + error.message());
}

std::string HidrawFolder(std::string_view hidFolder, unsigned hidraw) {
  return Join(hidFolder, "hidraw/hidraw" + std::to_string(hidraw));
}

void AddHidrawAt(SysfsTree& tree, std::string_view hidFolder, std::string_view uevent,
                 unsigned hidraw) {
  const std::string name = "hidraw" + std::to_string(hidraw);
  const std::string number = std::to_string(HidrawMajor) + ":" + std::to_string(hidraw);
  const std::string classDevice = HidrawFolder(hidFolder, hidraw);
  tree.AddFile(Join(hidFolder, "uevent"), uevent);
  tree.AddFile(Join(classDevice, "uevent"), "MAJOR=" + std::to_string(HidrawMajor) +
                                                "\nMINOR=" + std::to_string(hidraw) +
                                                "\nDEVNAME=" + name + "\n");
  tree.AddFile(Join(classDevice, "dev"), number + "\n");
  tree.AddLinkTo(Join(classDevice, "device"), hidFolder);
  tree.AddLinkTo(Join(classDevice, "subsystem"), "sys/class/hidraw");
  tree.AddLinkTo("sys/class/hidraw/" + name, classDevice);
  tree.AddLinkTo("sys/dev/char/" + number, classDevice);
  tree.AddFile("dev/" + name, "");
}

std::string AddUsbHidraw(SysfsTree& tree, const FakeUsbDevice& usb, unsigned interfaceNumber,
                         const FakeHidDevice& hid) {
  AddUsbDevice(tree, usb);
  const std::string interface = AddUsbInterface(tree, usb, interfaceNumber, "usbhid");
  return AddHid(tree, interface, hid, UsbPhys(usb, interfaceNumber));
}

std::string AddChildHidraw(SysfsTree& tree, std::string_view parentHidFolder,
                           const FakeHidDevice& hid) {
  // The kernel gives a paired device its receiver's HID_PHYS and ":<slot>".
  std::ifstream parent(tree.Path(Join(parentHidFolder, "uevent")));
  std::string phys;
  for (std::string line; std::getline(parent, line);) {
    if (line.rfind("HID_PHYS=", 0) == 0) phys = line.substr(9);
  }
  return AddHid(tree, parentHidFolder, hid, phys + ":1");
}

std::string AddBluetoothHidraw(SysfsTree& tree, const FakeUsbDevice& adapter,
                               const FakeHidDevice& hid) {
  AddUsbDevice(tree, adapter);
  const std::string interface = AddUsbInterface(tree, adapter, 0, "btusb");
  const std::string host = Join(interface, "bluetooth/hci0");
  tree.AddFile(Join(host, "uevent"), "DEVTYPE=host\n");
  tree.AddFile(Join(host, "address"), "5c:f3:70:8b:12:34\n");
  const std::string link = Join(host, "hci0:256");
  tree.AddFile(Join(link, "uevent"), "DEVTYPE=link\n");
  return AddHid(tree, link, hid, "5c:f3:70:8b:12:34");
}

std::string AddUhidHidraw(SysfsTree& tree, const FakeHidDevice& hid) {
  tree.AddFile("sys/devices/virtual/misc/uhid/uevent", "MAJOR=10\nMINOR=239\nDEVNAME=uhid\n");
  return AddHid(tree, "sys/devices/virtual/misc/uhid", hid, "5c:f3:70:8b:12:34");
}

std::string AddI2cHidraw(SysfsTree& tree, std::string_view i2cName, const FakeHidDevice& hid) {
  const std::string device =
      Join("sys/devices/pci0000:00/0000:00:15.1/i2c_designware.1/i2c-2", i2cName);
  // "i2c-ELAN0001:00" is the client of ACPI device ELAN0001.
  const std::string_view client = i2cName.substr(0, 4) == "i2c-" ? i2cName.substr(4) : i2cName;
  const std::string_view acpiId = client.substr(0, client.find(':'));
  tree.AddFile(Join(device, "uevent"),
               "DRIVER=i2c_hid_acpi\nMODALIAS=acpi:" + std::string(acpiId) + ":PNP0C50:\n");
  tree.AddFile(Join(device, "name"), std::string(client) + "\n");
  return AddHid(tree, device, hid, client);
}

}  // namespace hidlist
