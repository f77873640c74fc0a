// The text formats of sysfs, parsed without touching any file, so that every
// system builds and tests them and they can be fuzzed on their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace hidlist {

// HID bus numbers as HID_ID and input/inputN/id/bustype give them.
inline constexpr std::uint16_t HidBusUsb = 0x0003;
inline constexpr std::uint16_t HidBusBluetooth = 0x0005;
inline constexpr std::uint16_t HidBusI2c = 0x0018;

struct UeventEntry {
  std::string_view Key;
  std::string_view Value;
};

// The KEY=VALUE lines of a uevent file, in order, as views into text. The
// value is everything after the first '=', so it may hold '=' itself; lines
// without '=' are skipped.
std::vector<UeventEntry> ParseUevent(std::string_view text);

// The value of the first line with this key, if any.
std::optional<std::string_view> FindUeventValue(std::string_view text, std::string_view key);

struct HidId {
  std::uint16_t Bus;
  std::uint16_t Vendor;
  std::uint16_t Product;
};

// HID_ID's value, "BBBB:VVVVVVVV:PPPPPPPP": three non-empty hex fields of at
// most 8 digits. The bus must fit 16 bits; vendor and product keep their low
// 16 bits, as the kernel's own 32-bit fields hold 16-bit ids.
std::optional<HidId> ParseHidId(std::string_view value);

// A 16-bit hex attribute such as bcdDevice or input/inputN/id/version,
// "0111\n", with at most one trailing newline and no prefix or sign.
std::optional<std::uint16_t> ParseHexAttribute(std::string_view text);

// N of an entry named prefix + N, such as inputN: digits only, no sign, no
// overflow of 32 bits.
std::optional<std::uint32_t> ParseNumberedName(std::string_view name, std::string_view prefix);

// N of a class entry named hidrawN.
std::optional<std::uint32_t> ParseHidrawNumber(std::string_view name);

// An attribute's text without the one newline the kernel ends it with.
std::string_view TrimOneNewline(std::string_view text);

}  // namespace hidlist
