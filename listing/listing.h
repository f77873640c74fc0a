// The listing: the scan of the HID interfaces and the report of each device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "console/console_text.h"
#include "device_api/device_api.h"

namespace hidlist {

// Interface indices 0 to 19 are examined, and no others.
inline constexpr DWORD InterfaceScanLimit = 20;

// Room for a device path of up to 255 characters and its NUL behind the
// detail record's 32-bit cbSize: 260 bytes in all.
inline constexpr std::size_t DetailRecordSize = 260;

// The manufacturer query covers half of the string buffer, the product query
// all of it; both lengths are in bytes.
inline constexpr std::size_t StringBufferUnits = 256;
inline constexpr ULONG ManufacturerStringBytes = 256;
inline constexpr ULONG ProductStringBytes = 512;

// No device path is longer than Windows' longest path name; a larger size
// from the probe is not believed.
inline constexpr DWORD LargestDetailSize = 65536;

// The detail record with room for a path. A path longer than the record
// holds is fetched into a larger buffer made for it, so the device is still
// listed; the platform is never given more room than the buffer has.
class DetailBuffer {
 public:
  // Makes room for a fetch of the size the probe reported, up to
  // LargestDetailSize, and sets cbSize. Size() is what the fetch may use.
  SP_DEVICE_INTERFACE_DETAIL_DATA_A* Prepare(DWORD required);
  DWORD Size() const { return static_cast<DWORD>(given_); }
  // The path just fetched, always NUL-terminated within the buffer.
  const char* DevicePath() const;

 private:
  std::byte* Bytes();
  const std::byte* Bytes() const;

  // One byte more than the platform is given, so a path that comes back
  // without its NUL still ends inside the buffer.
  alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_A) std::byte record_[DetailRecordSize + 1] = {};
  std::vector<std::uint32_t> larger_;
  std::size_t given_ = 0;
};

// The run state, zero at the start of a run. The scan fields carry over from
// one index to the next as the platform left them. Each device's report
// clears the attributes before its query and closes its handle when it ends;
// the string buffer keeps what the last query left, and a query's covered
// part is all that is printed.
struct ListingState {
  // Scan fields.
  GUID HidGuid{};
  SP_DEVICE_INTERFACE_DATA InterfaceData{};
  DetailBuffer DetailData;
  DWORD RequiredSize = 0;
  // Device fields.
  HANDLE DeviceHandle = nullptr;  // the open device, while its report lasts
  HIDD_ATTRIBUTES Attributes{};
  char16_t StringBuffer[StringBufferUnits] = {};
};

// The whole run: scan, report each device, then the closing prompt and wait.
void RunListing(DeviceApi& devices, ConsoleText& console);

// The lines of one device: five when it opens, one when it does not.
void ReportDevice(const char* device_path, ListingState& state, DeviceApi& devices,
                  ConsoleText& console);

}  // namespace hidlist
