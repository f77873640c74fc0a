// Whatever a hostile tree holds, the parsers of sysfs text and the UTF-16
// fill must neither crash nor write outside the caller's buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device_api/sysfs_parse.h"
#include "device_api/wide_string.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  hidlist::FindUeventValue(text, "HID_NAME");
  hidlist::ParseHidFolderName(text);
  hidlist::UsbDeviceOf(text);
  hidlist::ParseHexAttribute(text);
  hidlist::ParseNumberedName(text, "hidraw");
  // A buffer of any length, odd ones and unaligned ones included.
  std::vector<unsigned char> buffer(size % 600 + 1);
  hidlist::FillWideBuffer(hidlist::Utf8ToUtf16(text), buffer.data() + 1, buffer.size() - 1);
  return 0;
}
