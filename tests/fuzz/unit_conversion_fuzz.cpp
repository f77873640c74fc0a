// UTF-16 units to the narrow character set: EncodeUnitAsUtf8 by itself, and
// the POSIX layer's WideCharToMultiByte through iconv for several charsets.
// Rules checked: a unit's UTF-8 decodes back to it (U+FFFD for a surrogate
// half) in its shortest form; a call converts each unit by itself; a unit a
// charset cannot hold is '?' there, and any other reads back as one
// character that converts to the same bytes; an exact area takes all the
// units' bytes, a short one fails, and nothing is written past the area.
#include <fuzzer/FuzzedDataProvider.h>
#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console/console_platform_posix.h"
#include "console/unit_conversion.h"
#include "tests/fuzz/fuzz_check.h"

namespace hidlist {
namespace {

constexpr unsigned char Sentinel = 0xA5;
constexpr std::size_t Slack = 16;

bool IsSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// The code point of one UTF-8 sequence of 1 to 3 bytes in its shortest form,
// or -1.
long DecodeShortest(const char* bytes, int length) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  if (length == 1) return b[0] < 0x80 ? b[0] : -1;
  for (int i = 1; i < length; ++i) {
    if ((b[i] & 0xC0) != 0x80) return -1;
  }
  if (length == 2) {
    if ((b[0] & 0xE0) != 0xC0) return -1;
    const long point = (b[0] & 0x1F) << 6 | (b[1] & 0x3F);
    return point >= 0x80 ? point : -1;
  }
  if (length == 3) {
    if ((b[0] & 0xF0) != 0xE0) return -1;
    const long point = (b[0] & 0x0F) << 12 | (b[1] & 0x3F) << 6 | (b[2] & 0x3F);
    return point >= 0x800 ? point : -1;
  }
  return -1;
}

std::string Utf8Of(char16_t unit) {
  char bytes[MaxUtf8BytesPerUnit];
  const int length = EncodeUnitAsUtf8(unit, bytes);
  HIDLIST_FUZZ_CHECK(length >= 1 && length <= MaxUtf8BytesPerUnit);
  const char16_t expected = IsSurrogate(unit) ? char16_t{0xFFFD} : unit;
  HIDLIST_FUZZ_CHECK(DecodeShortest(bytes, length) == expected);
  return std::string(bytes, static_cast<std::size_t>(length));
}

struct IconvCloser {
  void operator()(void* converter) const { iconv_close(static_cast<iconv_t>(converter)); }
};

struct Charset {
  const char* Name;
  // Units below Limit convert to their own byte, all others to '?'; 0 when
  // the charset has no such simple rule.
  char16_t Limit;
  std::unique_ptr<ConsolePlatform> Platform;
  std::unique_ptr<void, IconvCloser> Back;  // charset to UTF-16LE, for the round trip
};

std::vector<Charset>& Charsets() {
  static std::vector<Charset> charsets = [] {
    std::vector<Charset> made;
    const std::pair<const char*, char16_t> names[] = {
        {"UTF-8", 0},  {"ANSI_X3.4-1968", 0x80}, {"ISO-8859-1", 0x100}, {"ISO-8859-15", 0},
        {"EUC-JP", 0}, {"ISO-2022-JP", 0},
    };
    for (const auto& [name, limit] : names) {
      PosixConsoleOptions options;
      options.Charset = name;
      iconv_t back = iconv_open("UTF-16LE", name);
      HIDLIST_FUZZ_CHECK(back != reinterpret_cast<iconv_t>(-1));
      made.push_back({name, limit, OpenPosixConsolePlatform(options),
                      std::unique_ptr<void, IconvCloser>(back)});
    }
    return made;
  }();
  return charsets;
}

// The units that bytes converts back to, from the initial shift state.
std::u16string ConvertBack(void* converter, const std::string& bytes) {
  const auto back = static_cast<iconv_t>(converter);
  iconv(back, nullptr, nullptr, nullptr, nullptr);
  std::string in = bytes;
  char out[64];
  char* inNext = in.data();
  std::size_t inLeft = in.size();
  char* outNext = out;
  std::size_t outLeft = sizeof out;
  if (iconv(back, &inNext, &inLeft, &outNext, &outLeft) == std::size_t(-1) || inLeft != 0) {
    return u"<invalid>";
  }
  std::u16string units((outNext - out) / 2, u'\0');
  std::memcpy(units.data(), out, units.size() * 2);
  return units;
}

void CheckCharset(Charset& charset, const std::u16string& units, std::size_t shortBy) {
  ConsolePlatform& platform = *charset.Platform;
  const UINT page = platform.NarrowCodePage();
  const bool utf8 = std::strcmp(charset.Name, "UTF-8") == 0;
  HIDLIST_FUZZ_CHECK(page == (utf8 ? CP_UTF8 : CP_ACP));
  const int count = static_cast<int>(units.size());

  // Each unit by itself.
  std::string joined;
  for (char16_t unit : units) {
    char piece[64];
    std::memset(piece, Sentinel, sizeof piece);
    const int length = platform.WideCharToMultiByte(page, 0, &unit, 1, piece, 32);
    HIDLIST_FUZZ_CHECK(length >= 1 && length <= 32);
    for (std::size_t i = static_cast<std::size_t>(length); i < sizeof piece; ++i) {
      HIDLIST_FUZZ_CHECK(static_cast<unsigned char>(piece[i]) == Sentinel);
    }
    const std::string bytes(piece, static_cast<std::size_t>(length));
    if (utf8) {
      HIDLIST_FUZZ_CHECK(bytes == Utf8Of(unit));
    } else if (charset.Limit != 0) {
      HIDLIST_FUZZ_CHECK(bytes == (unit < charset.Limit ? std::string(1, static_cast<char>(unit))
                                                        : std::string("?")));
    } else if (IsSurrogate(unit)) {
      HIDLIST_FUZZ_CHECK(bytes == "?");
    }
    // ESC starts a shift sequence in ISO-2022-JP, so its byte cannot be read
    // back by itself; it passes as it is, as every control character does.
    const bool stateful = std::strcmp(charset.Name, "ISO-2022-JP") == 0;
    if (stateful && unit == 0x1B) {
      HIDLIST_FUZZ_CHECK(bytes == "\x1B");
    } else if (bytes != "?" || unit == u'?') {
      // The bytes stand for one character: the unit itself or, where the
      // charset's table maps two units to the same bytes (EUC-JP takes U+00A5
      // to 5C, which reads back as U+005C), one that converts to them too.
      const std::u16string back = ConvertBack(charset.Back.get(), bytes);
      const char16_t expected = IsSurrogate(unit) ? char16_t{0xFFFD} : unit;
      HIDLIST_FUZZ_CHECK(back.size() == 1);
      if (back[0] != expected) {
        char again[64];
        const int againLength = platform.WideCharToMultiByte(page, 0, back.data(), 1, again, 32);
        HIDLIST_FUZZ_CHECK(std::string(again, static_cast<std::size_t>(againLength)) == bytes);
      }
    }
    // CP_UTF8 is UTF-8 whatever the charset.
    char asUtf8[8];
    const int utf8Length = platform.WideCharToMultiByte(CP_UTF8, 0, &unit, 1, asUtf8, 8);
    HIDLIST_FUZZ_CHECK(std::string(asUtf8, static_cast<std::size_t>(utf8Length)) == Utf8Of(unit));
    joined += bytes;
  }

  // All units in one call: an exact area, then a short one.
  const int needed = static_cast<int>(joined.size());
  std::vector<char> buffer(joined.size() + Slack, static_cast<char>(Sentinel));
  HIDLIST_FUZZ_CHECK(
      platform.WideCharToMultiByte(page, 0, units.data(), count, buffer.data(), needed) == needed);
  HIDLIST_FUZZ_CHECK(std::string(buffer.data(), joined.size()) == joined);
  for (std::size_t i = joined.size(); i < buffer.size(); ++i) {
    HIDLIST_FUZZ_CHECK(static_cast<unsigned char>(buffer[i]) == Sentinel);
  }
  const int shortSize = needed - static_cast<int>(shortBy % static_cast<std::size_t>(needed)) - 1;
  if (shortSize > 0) {
    std::vector<char> small(joined.size() + Slack, static_cast<char>(Sentinel));
    HIDLIST_FUZZ_CHECK(
        platform.WideCharToMultiByte(page, 0, units.data(), count, small.data(), shortSize) == 0);
    HIDLIST_FUZZ_CHECK(platform.GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    for (std::size_t i = static_cast<std::size_t>(shortSize); i < small.size(); ++i) {
      HIDLIST_FUZZ_CHECK(static_cast<unsigned char>(small[i]) == Sentinel);
    }
  }
}

void FuzzOne(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::size_t which = input.ConsumeIntegral<std::uint8_t>();
  const std::size_t shortBy = input.ConsumeIntegral<std::uint16_t>();
  const std::vector<std::uint8_t> bytes = input.ConsumeRemainingBytes<std::uint8_t>();
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size() && units.size() < 512; i += 2) {
    units.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
  }
  if (units.empty()) return;
  std::vector<Charset>& charsets = Charsets();
  CheckCharset(charsets[which % charsets.size()], units, shortBy);
}

}  // namespace
}  // namespace hidlist

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hidlist::FuzzOne(data, size);
  return 0;
}
