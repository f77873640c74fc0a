#include "device_api/sysfs_parse.h"

namespace hidlist {

namespace {

std::optional<unsigned> HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return std::nullopt;
}

// A non-empty run of at most eight hex digits.
std::optional<std::uint32_t> ParseHexField(std::string_view field) {
  if (field.empty() || field.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : field) {
    const auto digit = HexDigit(c);
    if (!digit) return std::nullopt;
    value = (value << 4) | *digit;
  }
  return value;
}

}  // namespace

std::vector<UeventEntry> ParseUevent(std::string_view text) {
  std::vector<UeventEntry> entries;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    entries.push_back({line.substr(0, equals), line.substr(equals + 1)});
  }
  return entries;
}

std::optional<std::string_view> FindUeventValue(std::string_view text, std::string_view key) {
  for (const UeventEntry& entry : ParseUevent(text)) {
    if (entry.Key == key) return entry.Value;
  }
  return std::nullopt;
}

std::optional<HidId> ParseHidId(std::string_view value) {
  const std::size_t first = value.find(':');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = value.find(':', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const auto bus = ParseHexField(value.substr(0, first));
  const auto vendor = ParseHexField(value.substr(first + 1, second - first - 1));
  // A third ':' makes this field fail as hex.
  const auto product = ParseHexField(value.substr(second + 1));
  if (!bus || !vendor || !product || *bus > 0xFFFF) return std::nullopt;
  return HidId{static_cast<std::uint16_t>(*bus), static_cast<std::uint16_t>(*vendor & 0xFFFF),
               static_cast<std::uint16_t>(*product & 0xFFFF)};
}

std::optional<std::uint16_t> ParseHexAttribute(std::string_view text) {
  text = TrimOneNewline(text);
  if (text.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    const auto digit = HexDigit(c);
    if (!digit) return std::nullopt;
    value = (value << 4) | *digit;
    if (value > 0xFFFF) return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::optional<std::uint32_t> ParseNumberedName(std::string_view name, std::string_view prefix) {
  if (name.substr(0, prefix.size()) != prefix) return std::nullopt;
  const std::string_view digits = name.substr(prefix.size());
  if (digits.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint32_t>(c - '0');
    if (value > (UINT32_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::optional<std::uint32_t> ParseHidrawNumber(std::string_view name) {
  return ParseNumberedName(name, "hidraw");
}

std::string_view TrimOneNewline(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

}  // namespace hidlist
