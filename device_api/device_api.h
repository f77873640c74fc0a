// The device-setup and HID operations exactly as the listing calls them, with
// the platform's names, record layouts and result conventions. One backend
// per platform implements DeviceApi; tests use a recording fake.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "vocabulary/win_types.h"

namespace hidlist {

// SetupAPI packs its records to 1 byte in 32-bit processes and to 8 in
// 64-bit ones. That is why the interface record is 28 bytes and the detail
// record's fixed head with a one-character path is 5 bytes in a 32-bit build.
#if UINTPTR_MAX == 0xFFFFFFFFu
#pragma pack(push, 1)
#else
#pragma pack(push, 8)
#endif

struct SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
};

struct SP_DEVICE_INTERFACE_DATA {
  DWORD cbSize;
  GUID InterfaceClassGuid;
  DWORD Flags;
  ULONG_PTR Reserved;
};

struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
  DWORD cbSize;
  char DevicePath[1];  // as long as the caller's buffer: the path and its NUL
};

#pragma pack(pop)

struct HIDD_ATTRIBUTES {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
};

static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == (sizeof(void*) == 4 ? 28 : 32));
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (sizeof(void*) == 4 ? 5 : 8));
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == 4);
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

inline constexpr DWORD DIGCF_PRESENT = 0x02;
inline constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;
inline constexpr DWORD SPINT_ACTIVE = 0x1;
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD OPEN_EXISTING = 3;

// The HID interface class, {4D1E55B2-F16F-11CF-88CB-001111000030}.
inline constexpr GUID HidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

class DeviceApi {
 public:
  virtual ~DeviceApi() = default;

  virtual void HidD_GetHidGuid(GUID* HidGuid) = 0;
  virtual HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, const char* Enumerator,
                                        HWND hwndParent, DWORD Flags) = 0;
  virtual BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                           const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                           SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData) = 0;
  virtual BOOL SetupDiGetDeviceInterfaceDetailA(
      HDEVINFO DeviceInfoSet, SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData,
      SP_DEVICE_INTERFACE_DETAIL_DATA_A* DeviceInterfaceDetailData,
      DWORD DeviceInterfaceDetailDataSize, DWORD* RequiredSize,
      SP_DEVINFO_DATA* DeviceInfoData) = 0;
  virtual BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) = 0;

  virtual HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                             void* lpSecurityAttributes, DWORD dwCreationDisposition,
                             DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) = 0;
  virtual BOOL CloseHandle(HANDLE hObject) = 0;

  // Buffer lengths are in bytes, as on Windows: a string of N units needs
  // 2 * N bytes, and 2 * (N + 1) to include its NUL.
  virtual BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, HIDD_ATTRIBUTES* Attributes) = 0;
  virtual BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, void* Buffer,
                                             ULONG BufferLength) = 0;
  virtual BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, void* Buffer,
                                        ULONG BufferLength) = 0;
};

// The platform's DeviceApi, as the shipped program uses it.
std::unique_ptr<DeviceApi> OpenDeviceApi();

}  // namespace hidlist
