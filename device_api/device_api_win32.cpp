// The DeviceApi on Windows: SetupAPI and HID.DLL, linked through their
// import libraries. Our records have the platform's layouts, checked below,
// so pointers to them are handed over as they are; only DWORD differs in
// type (ours is uint32_t, the platform's unsigned long), so DWORD results
// pass through locals.
#include "device_api/device_api.h"

#include <cstddef>
#include <memory>

// After the project's headers, which it would otherwise redefine.
#include "vocabulary/windows_sdk.h"

// These two need windows.h before them.
#include <setupapi.h>
// MinGW-w64's hidsdi.h (like older Windows kits) declares the HID functions
// without C linkage.
extern "C" {
#include <hidsdi.h>
}

namespace hidlist {

namespace {

static_assert(sizeof(hidlist::GUID) == sizeof(::GUID));
static_assert(offsetof(hidlist::GUID, Data4) == offsetof(::GUID, Data4));

static_assert(sizeof(hidlist::SP_DEVINFO_DATA) == sizeof(::SP_DEVINFO_DATA));
static_assert(offsetof(hidlist::SP_DEVINFO_DATA, ClassGuid) ==
              offsetof(::SP_DEVINFO_DATA, ClassGuid));
static_assert(offsetof(hidlist::SP_DEVINFO_DATA, DevInst) == offsetof(::SP_DEVINFO_DATA, DevInst));
static_assert(offsetof(hidlist::SP_DEVINFO_DATA, Reserved) ==
              offsetof(::SP_DEVINFO_DATA, Reserved));

static_assert(sizeof(hidlist::SP_DEVICE_INTERFACE_DATA) == sizeof(::SP_DEVICE_INTERFACE_DATA));
static_assert(offsetof(hidlist::SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid) ==
              offsetof(::SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid));
static_assert(offsetof(hidlist::SP_DEVICE_INTERFACE_DATA, Flags) ==
              offsetof(::SP_DEVICE_INTERFACE_DATA, Flags));
static_assert(offsetof(hidlist::SP_DEVICE_INTERFACE_DATA, Reserved) ==
              offsetof(::SP_DEVICE_INTERFACE_DATA, Reserved));

static_assert(sizeof(hidlist::SP_DEVICE_INTERFACE_DETAIL_DATA_A) ==
              sizeof(::SP_DEVICE_INTERFACE_DETAIL_DATA_A));
static_assert(offsetof(hidlist::SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) ==
              offsetof(::SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));

static_assert(sizeof(hidlist::HIDD_ATTRIBUTES) == sizeof(::HIDD_ATTRIBUTES));
static_assert(offsetof(hidlist::HIDD_ATTRIBUTES, VendorID) ==
              offsetof(::HIDD_ATTRIBUTES, VendorID));
static_assert(offsetof(hidlist::HIDD_ATTRIBUTES, ProductID) ==
              offsetof(::HIDD_ATTRIBUTES, ProductID));
static_assert(offsetof(hidlist::HIDD_ATTRIBUTES, VersionNumber) ==
              offsetof(::HIDD_ATTRIBUTES, VersionNumber));

// What SetupAPI checks cbSize against: 28 and 5 in a 32-bit process.
static_assert(sizeof(void*) != 4 || sizeof(::SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(void*) != 4 || sizeof(::SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
static_assert(sizeof(void*) != 8 || sizeof(::SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(void*) != 8 || sizeof(::SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);

static_assert(sizeof(hidlist::DWORD) == sizeof(::DWORD));
static_assert(sizeof(hidlist::ULONG) == sizeof(::ULONG));

::GUID* Platform(hidlist::GUID* guid) { return reinterpret_cast<::GUID*>(guid); }
const ::GUID* Platform(const hidlist::GUID* guid) { return reinterpret_cast<const ::GUID*>(guid); }
::SP_DEVINFO_DATA* Platform(hidlist::SP_DEVINFO_DATA* data) {
  return reinterpret_cast<::SP_DEVINFO_DATA*>(data);
}
::SP_DEVICE_INTERFACE_DATA* Platform(hidlist::SP_DEVICE_INTERFACE_DATA* data) {
  return reinterpret_cast<::SP_DEVICE_INTERFACE_DATA*>(data);
}
::SP_DEVICE_INTERFACE_DETAIL_DATA_A* Platform(hidlist::SP_DEVICE_INTERFACE_DETAIL_DATA_A* data) {
  return reinterpret_cast<::SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(data);
}
::HIDD_ATTRIBUTES* Platform(hidlist::HIDD_ATTRIBUTES* data) {
  return reinterpret_cast<::HIDD_ATTRIBUTES*>(data);
}

class Win32DeviceApi final : public DeviceApi {
 public:
  void HidD_GetHidGuid(GUID* HidGuid) override { ::HidD_GetHidGuid(Platform(HidGuid)); }

  HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, const char* Enumerator, HWND hwndParent,
                                DWORD Flags) override {
    return ::SetupDiGetClassDevsA(Platform(ClassGuid), Enumerator, static_cast<::HWND>(hwndParent),
                                  Flags);
  }

  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                   const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                   SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData) override {
    return ::SetupDiEnumDeviceInterfaces(DeviceInfoSet, Platform(DeviceInfoData),
                                         Platform(InterfaceClassGuid), MemberIndex,
                                         Platform(DeviceInterfaceData));
  }

  BOOL SetupDiGetDeviceInterfaceDetailA(
      HDEVINFO DeviceInfoSet, SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData,
      SP_DEVICE_INTERFACE_DETAIL_DATA_A* DeviceInterfaceDetailData,
      DWORD DeviceInterfaceDetailDataSize, DWORD* RequiredSize,
      SP_DEVINFO_DATA* DeviceInfoData) override {
    // The platform writes RequiredSize only when it has a size to report;
    // otherwise the caller's value stands.
    ::DWORD required = RequiredSize != nullptr ? *RequiredSize : 0;
    const BOOL result = ::SetupDiGetDeviceInterfaceDetailA(
        DeviceInfoSet, Platform(DeviceInterfaceData), Platform(DeviceInterfaceDetailData),
        DeviceInterfaceDetailDataSize, RequiredSize != nullptr ? &required : nullptr,
        Platform(DeviceInfoData));
    if (RequiredSize != nullptr) *RequiredSize = static_cast<DWORD>(required);
    return result;
  }

  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) override {
    return ::SetupDiDestroyDeviceInfoList(DeviceInfoSet);
  }

  HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                     void* lpSecurityAttributes, DWORD dwCreationDisposition,
                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) override {
    return ::CreateFileA(lpFileName, dwDesiredAccess, dwShareMode,
                         static_cast<::LPSECURITY_ATTRIBUTES>(lpSecurityAttributes),
                         dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
  }

  BOOL CloseHandle(HANDLE hObject) override { return ::CloseHandle(hObject); }

  BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, HIDD_ATTRIBUTES* Attributes) override {
    return ::HidD_GetAttributes(HidDeviceObject, Platform(Attributes));
  }

  BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, void* Buffer,
                                     ULONG BufferLength) override {
    return ::HidD_GetManufacturerString(HidDeviceObject, Buffer, BufferLength);
  }

  BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, void* Buffer, ULONG BufferLength) override {
    return ::HidD_GetProductString(HidDeviceObject, Buffer, BufferLength);
  }
};

}  // namespace

std::unique_ptr<DeviceApi> OpenDeviceApi() { return std::make_unique<Win32DeviceApi>(); }

}  // namespace hidlist
