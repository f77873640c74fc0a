#include "listing/listing.h"

namespace hidlist {

namespace {

constexpr DWORD DeviceAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD DeviceShareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;

void PrintLine(ConsoleText& console, std::string_view text) {
  console.WriteText(text);
  console.WriteLine();
  console.CheckIo();
}

// Releases the device information set on every path, including when a
// console failure unwinds the run.
class DeviceInfoSetGuard {
 public:
  DeviceInfoSetGuard(DeviceApi& devices, HDEVINFO set) : devices_(devices), set_(set) {}
  DeviceInfoSetGuard(const DeviceInfoSetGuard&) = delete;
  DeviceInfoSetGuard& operator=(const DeviceInfoSetGuard&) = delete;
  ~DeviceInfoSetGuard() { devices_.SetupDiDestroyDeviceInfoList(set_); }
  HDEVINFO Get() const { return set_; }

 private:
  DeviceApi& devices_;
  HDEVINFO set_;
};

// Closes the device handle after its report, on every path.
class DeviceHandleCloser {
 public:
  DeviceHandleCloser(DeviceApi& devices, HANDLE& handle) : devices_(devices), handle_(handle) {}
  DeviceHandleCloser(const DeviceHandleCloser&) = delete;
  DeviceHandleCloser& operator=(const DeviceHandleCloser&) = delete;
  ~DeviceHandleCloser() {
    devices_.CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  DeviceApi& devices_;
  HANDLE& handle_;
};

// A device chooses its own strings. Control characters in them would let it
// break its line into several, forge lines of the listing, or send escape
// sequences to the terminal; they print as the default character instead.
char16_t Printable(char16_t unit) {
  const bool control = unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
  return control ? u'\uFFFD' : unit;
}

// Prints the units of the string buffer up to the first NUL, or up to the
// end of what the query covered when it left no NUL there: units beyond it
// are an earlier query's. Each unit is a statement of its own.
void WriteUnitString(const ListingState& state, std::size_t covered_units, ConsoleText& console) {
  for (std::size_t i = 0; i < covered_units && state.StringBuffer[i] != 0; ++i) {
    console.WriteWideUnit(Printable(state.StringBuffer[i]));
    console.FlushIfDevice();
    console.CheckIo();
  }
}

void PrintNumberLine(ConsoleText& console, std::string_view label, USHORT value) {
  console.WriteText(label);
  console.WriteText(HexDigits(value, 4));
  console.WriteLine();
  console.CheckIo();
}

}  // namespace

SP_DEVICE_INTERFACE_DETAIL_DATA_A* DetailBuffer::Prepare(DWORD required) {
  if (required > DetailRecordSize && required <= LargestDetailSize) {
    // One word more than the platform is given, for the closing NUL.
    larger_.assign(required / sizeof(std::uint32_t) + 2, 0);
    given_ = required;
  } else {
    larger_.clear();
    given_ = required > DetailRecordSize ? DetailRecordSize : required;
  }
  auto* record = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(Bytes());
  // The size of the record's fixed head with a one-character path, not the
  // size of the buffer: 5 in a 32-bit build, 8 in a 64-bit one.
  record->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  return record;
}

const char* DetailBuffer::DevicePath() const {
  const auto* path = reinterpret_cast<const char*>(Bytes()) +
                     offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  return path;
}

std::byte* DetailBuffer::Bytes() {
  return larger_.empty() ? record_ : reinterpret_cast<std::byte*>(larger_.data());
}

const std::byte* DetailBuffer::Bytes() const {
  return larger_.empty() ? record_ : reinterpret_cast<const std::byte*>(larger_.data());
}

void ReportDevice(const char* device_path, ListingState& state, DeviceApi& devices,
                  ConsoleText& console) {
  HANDLE handle = devices.CreateFileA(device_path, DeviceAccess, DeviceShareMode, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    PrintLine(console, "System input HID detected");
    return;
  }
  state.DeviceHandle = handle;
  DeviceHandleCloser closer(devices, state.DeviceHandle);

  // Cleared first, so a failed query prints zeros rather than the previous
  // device's numbers.
  state.Attributes = HIDD_ATTRIBUTES{};
  devices.HidD_GetAttributes(state.DeviceHandle, &state.Attributes);

  PrintNumberLine(console, "VID: ", state.Attributes.VendorID);

  if (devices.HidD_GetManufacturerString(state.DeviceHandle, state.StringBuffer,
                                         ManufacturerStringBytes)) {
    WriteUnitString(state, ManufacturerStringBytes / sizeof(char16_t), console);
  }
  console.WriteLine();
  console.CheckIo();

  PrintNumberLine(console, "PID: ", state.Attributes.ProductID);

  if (devices.HidD_GetProductString(state.DeviceHandle, state.StringBuffer, ProductStringBytes)) {
    WriteUnitString(state, ProductStringBytes / sizeof(char16_t), console);
  }
  console.WriteLine();
  console.CheckIo();

  PrintNumberLine(console, "VersionNumber:", state.Attributes.VersionNumber);
}

void RunListing(DeviceApi& devices, ConsoleText& console) {
  ListingState state;
  devices.HidD_GetHidGuid(&state.HidGuid);
  HDEVINFO set_handle = devices.SetupDiGetClassDevsA(&state.HidGuid, nullptr, nullptr,
                                                     DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set_handle == INVALID_HANDLE_VALUE || set_handle == nullptr) {
    PrintLine(console, "Could not attach to PnP node");
    return;
  }
  {
    DeviceInfoSetGuard set(devices, set_handle);
    for (DWORD index = 0; index < InterfaceScanLimit; ++index) {
      state.InterfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
      if (!devices.SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &state.HidGuid, index,
                                               &state.InterfaceData)) {
        continue;
      }
      // The probe's result is not tested: it fails by design, having written
      // the size it needs; when it writes nothing the previous size stands.
      devices.SetupDiGetDeviceInterfaceDetailA(set.Get(), &state.InterfaceData, nullptr, 0,
                                               &state.RequiredSize, nullptr);
      SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail = state.DetailData.Prepare(state.RequiredSize);
      if (!devices.SetupDiGetDeviceInterfaceDetailA(set.Get(), &state.InterfaceData, detail,
                                                    state.DetailData.Size(), &state.RequiredSize,
                                                    nullptr)) {
        PrintLine(console, "Could not find the system name for this HID device");
        continue;
      }
      ReportDevice(state.DetailData.DevicePath(), state, devices, console);
    }
  }
  PrintLine(console, "Press ENTER to return.........");
  console.ReadLine();
  console.CheckIo();
}

}  // namespace hidlist
