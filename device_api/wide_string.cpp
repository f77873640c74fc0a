#include "device_api/wide_string.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace hidlist {

namespace {

constexpr char16_t ReplacementCharacter = 0xFFFD;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes the sequence that starts at utf8[at]. Returns its length, or 0
// when it is malformed, overlong, a surrogate or above U+10FFFF.
std::size_t DecodeSequence(std::string_view utf8, std::size_t at, char32_t* point) {
  const auto lead = static_cast<unsigned char>(utf8[at]);
  std::size_t length = 0;
  char32_t value = 0;
  char32_t smallest = 0;
  if (lead < 0x80) {
    *point = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    value = lead & 0x1F;
    smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    value = lead & 0x0F;
    smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    value = lead & 0x07;
    smallest = 0x10000;
  } else {
    return 0;
  }
  if (utf8.size() - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(utf8[at + i]);
    if (!IsContinuation(byte)) return 0;
    value = (value << 6) | (byte & 0x3F);
  }
  if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *point = value;
  return length;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string units;
  units.reserve(utf8.size());
  std::size_t at = 0;
  while (at < utf8.size()) {
    char32_t point = 0;
    const std::size_t length = DecodeSequence(utf8, at, &point);
    if (length == 0) {
      // Only the lead byte is dropped, so each byte of a bad sequence gets its own U+FFFD.
      units.push_back(ReplacementCharacter);
      ++at;
      continue;
    }
    if (point >= 0x10000) {
      const char32_t offset = point - 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(point));
    }
    at += length;
  }
  return units;
}

void FillWideBuffer(std::u16string_view text, void* buffer, ULONG length) {
  // The caller's buffer need not be aligned for char16_t.
  auto* bytes = static_cast<unsigned char*>(buffer);
  const std::size_t capacity = length / sizeof(char16_t);
  const std::size_t count = std::min(capacity, text.size());
  if (count > 0) std::memcpy(bytes, text.data(), count * sizeof(char16_t));
  if (count < capacity) {
    const char16_t nul = 0;
    std::memcpy(bytes + count * sizeof(char16_t), &nul, sizeof(nul));
  }
}

}  // namespace hidlist
