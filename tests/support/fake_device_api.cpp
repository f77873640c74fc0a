#include "tests/support/fake_device_api.h"

#include <cstring>

#include "device_api/wide_string.h"

namespace hidlist::testing {

namespace {

std::string Name(const void* pointer) {
  if (pointer == nullptr) return "null";
  if (pointer == INVALID_HANDLE_VALUE) return "invalid";
  if (pointer == FakeDeviceApi::SetHandle) return "set";
  char text[32];
  std::snprintf(text, sizeof text, "%#zx", reinterpret_cast<std::uintptr_t>(pointer));
  return text;
}

std::string GuidName(const GUID* guid) {
  if (guid == nullptr) return "null";
  return *guid == HidInterfaceClass ? "hid" : "other";
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "%#x", static_cast<unsigned>(value));
  return text;
}

}  // namespace

FakeInterface Device(std::string path, USHORT vendor, USHORT product, USHORT version,
                     std::optional<std::u16string> manufacturer,
                     std::optional<std::u16string> product_name) {
  FakeInterface device;
  device.Path = std::move(path);
  device.VendorID = vendor;
  device.ProductID = product;
  device.VersionNumber = version;
  device.Manufacturer = std::move(manufacturer);
  device.Product = std::move(product_name);
  return device;
}

void FakeDeviceApi::HidD_GetHidGuid(GUID* HidGuid) {
  Calls.push_back("HidD_GetHidGuid");
  *HidGuid = HidInterfaceClass;
}

HDEVINFO FakeDeviceApi::SetupDiGetClassDevsA(const GUID* ClassGuid, const char* Enumerator,
                                             HWND hwndParent, DWORD Flags) {
  Calls.push_back("SetupDiGetClassDevsA(" + GuidName(ClassGuid) + "," + Name(Enumerator) + "," +
                  Name(hwndParent) + "," + Hex(Flags) + ")");
  if (ClassDevsFail) {
    last_error_ = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  return ClassDevsResult;
}

BOOL FakeDeviceApi::SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet,
                                                SP_DEVINFO_DATA* DeviceInfoData,
                                                const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                                SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData) {
  Calls.push_back("SetupDiEnumDeviceInterfaces(" + Name(DeviceInfoSet) + "," +
                  Name(DeviceInfoData) + "," + GuidName(InterfaceClassGuid) + "," +
                  std::to_string(MemberIndex) +
                  ",cbSize=" + std::to_string(DeviceInterfaceData->cbSize) + ")");
  if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (Interfaces.count(MemberIndex) == 0) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  DeviceInterfaceData->InterfaceClassGuid = HidInterfaceClass;
  DeviceInterfaceData->Flags = 1;
  DeviceInterfaceData->Reserved = MemberIndex;
  return 1;
}

BOOL FakeDeviceApi::SetupDiGetDeviceInterfaceDetailA(
    HDEVINFO DeviceInfoSet, SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData,
    SP_DEVICE_INTERFACE_DETAIL_DATA_A* DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, DWORD* RequiredSize, SP_DEVINFO_DATA* DeviceInfoData) {
  std::string call = "SetupDiGetDeviceInterfaceDetailA(" + Name(DeviceInfoSet) +
                     ",index=" + std::to_string(DeviceInterfaceData->Reserved) + ",";
  call += DeviceInterfaceDetailData == nullptr
              ? std::string("null")
              : "cbSize=" + std::to_string(DeviceInterfaceDetailData->cbSize);
  call += "," + std::to_string(DeviceInterfaceDetailDataSize) + "," +
          (RequiredSize == nullptr ? "null" : "size") + "," + Name(DeviceInfoData) + ")";
  Calls.push_back(call);

  const FakeInterface& entry = Interfaces.at(static_cast<DWORD>(DeviceInterfaceData->Reserved));
  if (entry.PathFails) {
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  if (DeviceInterfaceDetailData != nullptr &&
      DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                          entry.Path.size() + 1);
  if (RequiredSize != nullptr && (entry.ProbeWritesSize || DeviceInterfaceDetailData != nullptr)) {
    *RequiredSize = needed;
  }
  if (DeviceInterfaceDetailData == nullptr || DeviceInterfaceDetailDataSize < needed) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  char* path = reinterpret_cast<char*>(DeviceInterfaceDetailData) +
               offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  std::memcpy(path, entry.Path.c_str(), entry.Path.size() + 1);
  return 1;
}

BOOL FakeDeviceApi::SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  Calls.push_back("SetupDiDestroyDeviceInfoList(" + Name(DeviceInfoSet) + ")");
  ++SetsDestroyed;
  return 1;
}

HANDLE FakeDeviceApi::CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                  void* lpSecurityAttributes, DWORD dwCreationDisposition,
                                  DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  Calls.push_back("CreateFileA(" + std::string(lpFileName) + "," + Hex(dwDesiredAccess) + "," +
                  Hex(dwShareMode) + "," + Name(lpSecurityAttributes) + "," +
                  std::to_string(dwCreationDisposition) + "," + Hex(dwFlagsAndAttributes) + "," +
                  Name(hTemplateFile) + ")");
  for (const auto& [index, entry] : Interfaces) {
    if (entry.PathFails || entry.Path != lpFileName) continue;
    if (entry.OpenFails) break;
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(next_handle_++));
    open_[handle] = index;
    Opened.push_back(handle);
    return handle;
  }
  last_error_ = ERROR_ACCESS_DENIED;
  return INVALID_HANDLE_VALUE;
}

BOOL FakeDeviceApi::CloseHandle(HANDLE hObject) {
  Calls.push_back("CloseHandle(" + Name(hObject) + ")");
  if (open_.erase(hObject) == 0) {
    ++bad_closes_;
    return Fail(ERROR_INVALID_HANDLE);
  }
  return 1;
}

const FakeInterface* FakeDeviceApi::InterfaceOf(HANDLE handle) const {
  auto found = open_.find(handle);
  if (found == open_.end()) return nullptr;
  return &Interfaces.at(found->second);
}

BOOLEAN FakeDeviceApi::HidD_GetAttributes(HANDLE HidDeviceObject, HIDD_ATTRIBUTES* Attributes) {
  Calls.push_back("HidD_GetAttributes(" + Name(HidDeviceObject) +
                  ",Size=" + std::to_string(Attributes->Size) + ")");
  const FakeInterface* entry = InterfaceOf(HidDeviceObject);
  if (entry == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (entry->AttributesFail) return Fail(ERROR_GEN_FAILURE);
  Attributes->Size = sizeof(HIDD_ATTRIBUTES);
  Attributes->VendorID = entry->VendorID;
  Attributes->ProductID = entry->ProductID;
  Attributes->VersionNumber = entry->VersionNumber;
  return 1;
}

BOOLEAN FakeDeviceApi::FillString(const char* name, HANDLE handle, void* buffer, ULONG length,
                                  const std::optional<std::u16string> FakeInterface::*field) {
  Calls.push_back(std::string(name) + "(" + Name(handle) + "," + std::to_string(length) + ")");
  const FakeInterface* entry = InterfaceOf(handle);
  if (entry == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (!(entry->*field)) return Fail(ERROR_INVALID_PARAMETER);
  const std::u16string& text = *(entry->*field);
  if (entry->StringsWithoutNul) {
    const std::size_t units = length / 2 < text.size() ? length / 2 : text.size();
    std::memcpy(buffer, text.data(), units * 2);
  } else {
    FillWideBuffer(text, buffer, length);
  }
  return 1;
}

BOOLEAN FakeDeviceApi::HidD_GetManufacturerString(HANDLE HidDeviceObject, void* Buffer,
                                                  ULONG BufferLength) {
  return FillString("HidD_GetManufacturerString", HidDeviceObject, Buffer, BufferLength,
                    &FakeInterface::Manufacturer);
}

BOOLEAN FakeDeviceApi::HidD_GetProductString(HANDLE HidDeviceObject, void* Buffer,
                                             ULONG BufferLength) {
  return FillString("HidD_GetProductString", HidDeviceObject, Buffer, BufferLength,
                    &FakeInterface::Product);
}

}  // namespace hidlist::testing
