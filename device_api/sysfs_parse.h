// The text formats of sysfs, parsed without touching any file, so that they
// can be fuzzed on their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace hidlist {

// HID bus numbers as the kernel names them.
inline constexpr std::uint16_t HidBusUsb = 0x0003;

struct HidId {
  std::uint16_t bus;
  std::uint16_t vendor;
  std::uint16_t product;
};

// The value of the first KEY=VALUE line of a uevent file with this key. The
// value is everything after the first '=', so it may hold '=' itself.
std::optional<std::string_view> FindUeventValue(std::string_view text, std::string_view key);

// The kernel names a HID device's folder BBBB:VVVV:PPPP.NNNN: bus, vendor and
// product in at least four hex digits each, then its running number. Vendor
// and product are 32 bits wide there (uhid takes such ids); a HID device's
// ids are their low 16 bits, as the kernel's own HIDIOCGRAWINFO gives them.
std::optional<HidId> ParseHidFolderName(std::string_view name);

// The last part of a path: what follows its last '/', or all of it.
std::string_view BaseName(std::string_view path);

// The usb_device folder above a USB HID device's folder (both as paths under
// "sys/devices/"): past any HID devices it hangs from, as a receiver's paired
// devices hang from the receiver's, comes the USB interface, named
// <device>:<configuration>.<interface>, whose parent is <device>.
std::optional<std::string_view> UsbDeviceOf(std::string_view hid_folder);

// A 16-bit hex attribute such as bcdDevice or input/inputN/id/version,
// "0111\n", with at most one trailing newline and no prefix or sign.
std::optional<std::uint16_t> ParseHexAttribute(std::string_view text);

// N of an entry named prefix + N, such as hidrawN: digits only, no sign, no
// overflow of 32 bits.
std::optional<std::uint32_t> ParseNumberedName(std::string_view name, std::string_view prefix);

// An attribute's text without the one newline the kernel ends it with.
std::string_view TrimOneNewline(std::string_view text);

}  // namespace hidlist
