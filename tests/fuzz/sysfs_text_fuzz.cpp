// The Linux layer's reading of sysfs text: uevent lines, HID_ID, hexadecimal
// attributes, hidrawN names, the trimmed newline, and the UTF-8 of string
// attributes filled as UTF-16 into a buffer of a byte length taken from the
// input. Each parser is checked against a plain statement of its format, and
// the fill against sentinel bytes around the caller's buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device_api/sysfs_parse.h"
#include "device_api/wide_string.h"
#include "tests/fuzz/fuzz_check.h"

namespace hidlist {
namespace {

constexpr unsigned char Sentinel = 0xA5;

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool AllHex(std::string_view text) {
  for (char c : text) {
    if (!IsHex(c)) return false;
  }
  return true;
}

bool AllDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::uint64_t HexValue(std::string_view digits) {
  std::uint64_t value = 0;
  for (char c : digits)
    value = value * 16 + static_cast<std::uint64_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  return value;
}

std::string_view WithoutLeadingZeros(std::string_view digits) {
  while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
  return digits;
}

bool Contains(std::string_view outer, std::string_view inner) {
  return inner.data() >= outer.data() && inner.data() + inner.size() <= outer.data() + outer.size();
}

void CheckUevent(std::string_view text) {
  const std::vector<UeventEntry> entries = ParseUevent(text);
  // Lines with an '=', each one entry, in order.
  std::size_t expected = 0;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    if (line.find('=') == std::string_view::npos) continue;
    HIDLIST_FUZZ_CHECK(expected < entries.size());
    const UeventEntry& entry = entries[expected++];
    HIDLIST_FUZZ_CHECK(Contains(text, entry.Key) && Contains(text, entry.Value));
    HIDLIST_FUZZ_CHECK(entry.Key.data() == line.data());
    HIDLIST_FUZZ_CHECK(entry.Key.find('=') == std::string_view::npos);
    HIDLIST_FUZZ_CHECK(entry.Key.size() + 1 + entry.Value.size() == line.size());
    HIDLIST_FUZZ_CHECK(line[entry.Key.size()] == '=');
  }
  HIDLIST_FUZZ_CHECK(expected == entries.size());

  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::optional<std::string_view> found = FindUeventValue(text, entries[i].Key);
    HIDLIST_FUZZ_CHECK(found.has_value());
    // The first line with that key.
    std::size_t first = 0;
    while (entries[first].Key != entries[i].Key) ++first;
    HIDLIST_FUZZ_CHECK(found->data() == entries[first].Value.data() &&
                       found->size() == entries[first].Value.size());
  }
  bool hasHidId = false;
  for (const UeventEntry& entry : entries) hasHidId = hasHidId || entry.Key == "HID_ID";
  HIDLIST_FUZZ_CHECK(FindUeventValue(text, "HID_ID").has_value() == hasHidId);
}

// "BBBB:VVVVVVVV:PPPPPPPP": three fields of 1 to 8 hex digits, the bus at
// most 0xFFFF; the ids keep their low 16 bits.
void CheckHidId(std::string_view value) {
  std::vector<std::string_view> fields;
  std::string_view rest = value;
  for (;;) {
    const std::size_t colon = rest.find(':');
    fields.push_back(rest.substr(0, colon));
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  bool valid = fields.size() == 3;
  for (std::string_view field : fields) {
    valid = valid && !field.empty() && field.size() <= 8 && AllHex(field);
  }
  valid = valid && HexValue(fields[0]) <= 0xFFFF;
  const std::optional<HidId> id = ParseHidId(value);
  HIDLIST_FUZZ_CHECK(id.has_value() == valid);
  if (id) {
    HIDLIST_FUZZ_CHECK(id->Bus == HexValue(fields[0]));
    HIDLIST_FUZZ_CHECK(id->Vendor == (HexValue(fields[1]) & 0xFFFF));
    HIDLIST_FUZZ_CHECK(id->Product == (HexValue(fields[2]) & 0xFFFF));
  }
}

void CheckNumbers(std::string_view text) {
  // One trailing newline at most, then hex digits worth at most 0xFFFF.
  std::string_view digits = text;
  if (!digits.empty() && digits.back() == '\n') digits.remove_suffix(1);
  const bool hexValid =
      !digits.empty() && AllHex(digits) && WithoutLeadingZeros(digits).size() <= 4;
  const std::optional<std::uint16_t> hex = ParseHexAttribute(text);
  HIDLIST_FUZZ_CHECK(hex.has_value() == hexValid);
  if (hex) HIDLIST_FUZZ_CHECK(*hex == HexValue(digits));

  // "hidraw" and decimal digits worth at most 2^32 - 1.
  const bool named = text.substr(0, 6) == "hidraw";
  const std::string_view number = named ? text.substr(6) : std::string_view{};
  const std::string_view significant = WithoutLeadingZeros(number);
  bool numberValid = named && !number.empty() && AllDigits(number) && significant.size() <= 10;
  if (numberValid && significant.size() == 10) numberValid = significant <= "4294967295";
  const std::optional<std::uint32_t> hidraw = ParseHidrawNumber(text);
  HIDLIST_FUZZ_CHECK(hidraw.has_value() == numberValid);
  if (hidraw) {
    HIDLIST_FUZZ_CHECK(std::to_string(*hidraw) == (significant.empty() ? "0" : significant));
    HIDLIST_FUZZ_CHECK(ParseHidrawNumber("hidraw" + std::to_string(*hidraw)) == hidraw);
  }

  const std::string_view trimmed = TrimOneNewline(text);
  HIDLIST_FUZZ_CHECK(trimmed.data() == text.data());
  const bool endsInNewline = !text.empty() && text.back() == '\n';
  HIDLIST_FUZZ_CHECK(trimmed.size() == text.size() - (endsInNewline ? 1 : 0));
}

// Whether text is well-formed UTF-8, by the table of well-formed byte
// sequences: no overlong form, no surrogate, nothing above U+10FFFF.
bool IsWellFormedUtf8(std::string_view text) {
  const auto* b = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    auto within = [&](std::size_t at, unsigned low, unsigned high) {
      return at < n && b[at] >= low && b[at] <= high;
    };
    const unsigned lead = b[i];
    if (lead <= 0x7F) {
      i += 1;
    } else if (lead >= 0xC2 && lead <= 0xDF && within(i + 1, 0x80, 0xBF)) {
      i += 2;
    } else if (lead == 0xE0 && within(i + 1, 0xA0, 0xBF) && within(i + 2, 0x80, 0xBF)) {
      i += 3;
    } else if (((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) &&
               within(i + 1, 0x80, 0xBF) && within(i + 2, 0x80, 0xBF)) {
      i += 3;
    } else if (lead == 0xED && within(i + 1, 0x80, 0x9F) && within(i + 2, 0x80, 0xBF)) {
      i += 3;
    } else if (lead == 0xF0 && within(i + 1, 0x90, 0xBF) && within(i + 2, 0x80, 0xBF) &&
               within(i + 3, 0x80, 0xBF)) {
      i += 4;
    } else if (lead >= 0xF1 && lead <= 0xF3 && within(i + 1, 0x80, 0xBF) &&
               within(i + 2, 0x80, 0xBF) && within(i + 3, 0x80, 0xBF)) {
      i += 4;
    } else if (lead == 0xF4 && within(i + 1, 0x80, 0x8F) && within(i + 2, 0x80, 0xBF) &&
               within(i + 3, 0x80, 0xBF)) {
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

// UTF-16 that is well formed, back to UTF-8.
std::string ToUtf8(const std::u16string& units) {
  std::string text;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t point = units[i];
    if (point >= 0xD800 && point <= 0xDBFF) {
      HIDLIST_FUZZ_CHECK(i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF);
      point = 0x10000 + ((point - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else {
      HIDLIST_FUZZ_CHECK(point < 0xDC00 || point > 0xDFFF);
    }
    if (point < 0x80) {
      text += static_cast<char>(point);
    } else if (point < 0x800) {
      text += static_cast<char>(0xC0 | point >> 6);
      text += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      text += static_cast<char>(0xE0 | point >> 12);
      text += static_cast<char>(0x80 | (point >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | point >> 18);
      text += static_cast<char>(0x80 | (point >> 12 & 0x3F));
      text += static_cast<char>(0x80 | (point >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (point & 0x3F));
    }
  }
  return text;
}

void CheckString(std::string_view attribute, ULONG length, std::size_t offset) {
  const std::u16string units = Utf8ToUtf16(attribute);
  HIDLIST_FUZZ_CHECK(units.size() <= attribute.size());
  const std::string back = ToUtf8(units);  // also checks the surrogates pair up
  if (IsWellFormedUtf8(attribute)) {
    HIDLIST_FUZZ_CHECK(back == attribute);
  } else {
    HIDLIST_FUZZ_CHECK(units.find(u'\xFFFD') != std::u16string::npos);
  }

  // The caller's buffer, at an odd or even address, with sentinels around it.
  std::vector<unsigned char> bytes(offset + length + 32, Sentinel);
  FillWideBuffer(units, bytes.data() + offset, length);
  const std::size_t count = std::min<std::size_t>(length / 2, units.size());
  const bool nul = count < length / 2;
  HIDLIST_FUZZ_CHECK(std::memcmp(bytes.data() + offset, units.data(), count * 2) == 0);
  if (nul) {
    HIDLIST_FUZZ_CHECK(bytes[offset + count * 2] == 0 && bytes[offset + count * 2 + 1] == 0);
  }
  const std::size_t written = count * 2 + (nul ? 2 : 0);
  HIDLIST_FUZZ_CHECK(written <= length);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i >= offset && i < offset + written) continue;
    HIDLIST_FUZZ_CHECK(bytes[i] == Sentinel);
  }
}

void FuzzOne(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // The byte length often near the string's own, and sometimes odd.
  const auto lengthPick = input.ConsumeIntegral<std::uint16_t>();
  const std::size_t offset = input.ConsumeBool() ? 1 : 0;
  const std::string text = input.ConsumeRemainingBytesAsString();

  CheckUevent(text);
  CheckNumbers(text);
  CheckHidId(text);
  for (const UeventEntry& entry : ParseUevent(text)) CheckHidId(entry.Value);

  const std::string_view attribute = TrimOneNewline(text);
  const ULONG length = static_cast<ULONG>(lengthPick % (2 * attribute.size() + 8));
  CheckString(attribute, length, offset);
}

}  // namespace
}  // namespace hidlist

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hidlist::FuzzOne(data, size);
  return 0;
}
