#include "device_api/sysfs_parse.h"

namespace hidlist {

namespace {

std::optional<unsigned> HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return std::nullopt;
}

// A non-empty run of hex digits worth at most limit.
std::optional<std::uint32_t> ParseHex(std::string_view digits, std::uint32_t limit) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    const auto digit = HexDigit(c);
    if (!digit) return std::nullopt;
    value = (value << 4) | *digit;
    if (value > limit) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<std::uint16_t> ParseHex16(std::string_view digits) {
  const auto value = ParseHex(digits, 0xFFFF);
  if (!value) return std::nullopt;
  return static_cast<std::uint16_t>(*value);
}

// A field of a HID device folder's name: four to eight hex digits, the
// kernel's %04X of a 32-bit number.
std::optional<std::uint32_t> ParseIdField(std::string_view digits) {
  if (digits.size() < 4 || digits.size() > 8) return std::nullopt;
  return ParseHex(digits, 0xFFFFFFFF);
}

std::string_view Parent(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash);
}

}  // namespace

std::optional<std::string_view> FindUeventValue(std::string_view text, std::string_view key) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=') {
      return line.substr(key.size() + 1);
    }
  }
  return std::nullopt;
}

std::optional<HidId> ParseHidFolderName(std::string_view name) {
  if (name.find(':') != 4) return std::nullopt;
  const std::size_t second = name.find(':', 5);
  if (second == std::string_view::npos) return std::nullopt;
  const std::size_t dot = name.find('.', second + 1);
  if (dot == std::string_view::npos || dot + 1 == name.size()) return std::nullopt;
  const auto bus = ParseHex16(name.substr(0, 4));
  const auto vendor = ParseIdField(name.substr(5, second - 5));
  const auto product = ParseIdField(name.substr(second + 1, dot - second - 1));
  for (char c : name.substr(dot + 1)) {
    if (!HexDigit(c)) return std::nullopt;
  }
  if (!bus || !vendor || !product) return std::nullopt;
  return HidId{*bus, static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*product)};
}

std::string_view BaseName(std::string_view path) { return path.substr(path.rfind('/') + 1); }

std::optional<std::string_view> UsbDeviceOf(std::string_view hid_folder) {
  std::string_view path = Parent(hid_folder);
  while (ParseHidFolderName(BaseName(path))) path = Parent(path);
  const std::string_view device = Parent(path);
  const std::string_view device_name = BaseName(device);
  // Nothing at or above sys/devices itself is a device.
  if (device.size() <= std::string_view("sys/devices").size()) return std::nullopt;
  const std::string_view interface = BaseName(path);
  if (interface.size() <= device_name.size() || !interface.starts_with(device_name) ||
      interface[device_name.size()] != ':') {
    return std::nullopt;
  }
  return device;
}

std::optional<std::uint16_t> ParseHexAttribute(std::string_view text) {
  return ParseHex16(TrimOneNewline(text));
}

std::optional<std::uint32_t> ParseNumberedName(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix) || name.size() == prefix.size()) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : name.substr(prefix.size())) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint32_t>(c - '0');
    if (value > (UINT32_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::string_view TrimOneNewline(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

}  // namespace hidlist
