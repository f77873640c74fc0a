// A device service for tests: each interface index is set up as data, and
// every call is recorded with its arguments, every handle opened and closed.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device_api/device_api.h"

namespace hidlist::testing {

struct FakeInterface {
  bool PathFails = false;       // the detail fetch fails
  bool ProbeWritesSize = true;  // the probe reports the size it needs
  std::string Path;             // may be of any length
  bool OpenFails = false;
  bool AttributesFail = false;
  USHORT VendorID = 0;
  USHORT ProductID = 0;
  USHORT VersionNumber = 0;
  // nullopt: the query fails. The text is filled as the real queries fill
  // it: at most length / 2 units, then the NUL when it fits.
  std::optional<std::u16string> Manufacturer;
  std::optional<std::u16string> Product;
  // Without their NUL even when there is room for it.
  bool StringsWithoutNul = false;
};

// A device that opens, with its numbers and strings (nullopt: the query fails).
FakeInterface Device(std::string path, USHORT vendor, USHORT product, USHORT version,
                     std::optional<std::u16string> manufacturer,
                     std::optional<std::u16string> product_name);

class FakeDeviceApi : public DeviceApi {
 public:
  static inline HDEVINFO const SetHandle = reinterpret_cast<HDEVINFO>(0x5E7);

  // Indices with no entry have no interface.
  std::map<DWORD, FakeInterface> Interfaces;
  bool ClassDevsFail = false;
  HDEVINFO ClassDevsResult = SetHandle;  // what a successful call gives

  // Every call with its arguments, in order, e.g.
  // "SetupDiEnumDeviceInterfaces(set,null,hid,3,cbSize=32)".
  std::vector<std::string> Calls;
  std::vector<HANDLE> Opened;
  int SetsDestroyed = 0;

  // Handles opened and not closed, and closes of handles not open.
  std::size_t OpenHandles() const { return open_.size(); }
  int BadCloses() const { return bad_closes_; }

  void HidD_GetHidGuid(GUID* HidGuid) override;
  HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, const char* Enumerator, HWND hwndParent,
                                DWORD Flags) override;
  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                   const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                   SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData) override;
  BOOL SetupDiGetDeviceInterfaceDetailA(
      HDEVINFO DeviceInfoSet, SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData,
      SP_DEVICE_INTERFACE_DETAIL_DATA_A* DeviceInterfaceDetailData,
      DWORD DeviceInterfaceDetailDataSize, DWORD* RequiredSize,
      SP_DEVINFO_DATA* DeviceInfoData) override;
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) override;
  HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                     void* lpSecurityAttributes, DWORD dwCreationDisposition,
                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) override;
  BOOL CloseHandle(HANDLE hObject) override;
  BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, HIDD_ATTRIBUTES* Attributes) override;
  BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, void* Buffer,
                                     ULONG BufferLength) override;
  BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, void* Buffer, ULONG BufferLength) override;
  DWORD GetLastError() override { return last_error_; }

 private:
  BOOL Fail(DWORD error) {
    last_error_ = error;
    return 0;
  }
  const FakeInterface* InterfaceOf(HANDLE handle) const;
  BOOLEAN FillString(const char* name, HANDLE handle, void* buffer, ULONG length,
                     const std::optional<std::u16string> FakeInterface::*field);

  std::map<HANDLE, DWORD> open_;  // handle → interface index
  int next_handle_ = 0x100;
  int bad_closes_ = 0;
  DWORD last_error_ = ERROR_SUCCESS;
};

}  // namespace hidlist::testing
