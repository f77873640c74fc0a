// The Windows device service against the real SetupAPI and HID.DLL (or
// Wine's): our records must be accepted as the platform's own.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "device_api/device_api.h"

namespace hidlist {
namespace {

constexpr DWORD ScanFlags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

class Win32DeviceApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    devices_ = OpenDeviceApi();
    devices_->HidD_GetHidGuid(&hid_);
    set_ = devices_->SetupDiGetClassDevsA(&hid_, nullptr, nullptr, ScanFlags);
    ASSERT_NE(set_, INVALID_HANDLE_VALUE);
    ASSERT_NE(set_, nullptr);
  }

  void TearDown() override {
    if (set_ != nullptr && set_ != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(devices_->SetupDiDestroyDeviceInfoList(set_));
    }
  }

  // The interfaces at indices 0 to 19, as the listing scans them.
  std::vector<SP_DEVICE_INTERFACE_DATA> Interfaces() {
    std::vector<SP_DEVICE_INTERFACE_DATA> found;
    for (DWORD index = 0; index < 20; ++index) {
      SP_DEVICE_INTERFACE_DATA data{};
      data.cbSize = sizeof data;
      if (devices_->SetupDiEnumDeviceInterfaces(set_, nullptr, &hid_, index, &data)) {
        found.push_back(data);
      } else {
        // The record's size was accepted: the only failure is the end.
        EXPECT_EQ(devices_->GetLastError(), ERROR_NO_MORE_ITEMS) << "index " << index;
      }
    }
    return found;
  }

  std::unique_ptr<DeviceApi> devices_;
  GUID hid_{};
  HDEVINFO set_ = nullptr;
};

TEST_F(Win32DeviceApiTest, HidGuidIsTheHidInterfaceClass) { EXPECT_EQ(hid_, HidInterfaceClass); }

TEST_F(Win32DeviceApiTest, RecordSizesAreThoseTheSystemChecks) {
  if (sizeof(void*) == 4) {
    EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DATA), 28u);
    EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), 5u);
  } else {
    EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DATA), 32u);
    EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), 8u);
  }
  // Enumeration with our size fails only at the end of the interfaces.
  Interfaces();
}

TEST_F(Win32DeviceApiTest, AnInterfaceRecordOfTheWrongSizeIsRefused) {
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data + 4;
  EXPECT_FALSE(devices_->SetupDiEnumDeviceInterfaces(set_, nullptr, &hid_, 0, &data));
  EXPECT_NE(devices_->GetLastError(), ERROR_NO_MORE_ITEMS);
  EXPECT_NE(devices_->GetLastError(), ERROR_SUCCESS);
}

TEST_F(Win32DeviceApiTest, ProbeThenFetchGivesEachInterfacesPath) {
  const std::vector<SP_DEVICE_INTERFACE_DATA> interfaces = Interfaces();
  if (interfaces.empty()) GTEST_SKIP() << "this system has no HID interfaces";
  for (SP_DEVICE_INTERFACE_DATA data : interfaces) {
    DWORD required = 0;
    EXPECT_FALSE(
        devices_->SetupDiGetDeviceInterfaceDetailA(set_, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(devices_->GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_GT(required, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + 1);

    std::vector<std::uint32_t> buffer(required / 4 + 2, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    DWORD again = 0;
    ASSERT_TRUE(
        devices_->SetupDiGetDeviceInterfaceDetailA(set_, &data, detail, required, &again, nullptr));
    EXPECT_GT(std::strlen(detail->DevicePath), 0u);
    EXPECT_LT(std::strlen(detail->DevicePath), required);
  }
}

TEST_F(Win32DeviceApiTest, ADetailRecordOfTheWrongSizeIsRefused) {
  std::vector<SP_DEVICE_INTERFACE_DATA> interfaces = Interfaces();
  if (interfaces.empty()) GTEST_SKIP() << "this system has no HID interfaces";
  std::uint32_t buffer[128] = {};
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) + 4;
  DWORD required = 0;
  EXPECT_FALSE(devices_->SetupDiGetDeviceInterfaceDetailA(set_, &interfaces[0], detail,
                                                          sizeof buffer, &required, nullptr));
  EXPECT_EQ(devices_->GetLastError(), ERROR_INVALID_USER_BUFFER);
}

TEST_F(Win32DeviceApiTest, RequiredSizeStaysWhenTheSystemReportsNone) {
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  DWORD required = 0xABCD;
  EXPECT_FALSE(devices_->SetupDiGetDeviceInterfaceDetailA(INVALID_HANDLE_VALUE, &data, nullptr, 0,
                                                          &required, nullptr));
  EXPECT_EQ(devices_->GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(required, 0xABCDu);
}

TEST_F(Win32DeviceApiTest, OpeningAPathThatDoesNotExistFails) {
  const HANDLE handle = devices_->CreateFileA(
      "\\\\?\\hid#vid_0000&pid_0000#0&00000000&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
      GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
      nullptr);
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  EXPECT_NE(devices_->GetLastError(), ERROR_SUCCESS);
}

TEST_F(Win32DeviceApiTest, HidQueriesOnAHandleThatIsNoDeviceFail) {
  HIDD_ATTRIBUTES attributes{};
  EXPECT_FALSE(devices_->HidD_GetAttributes(INVALID_HANDLE_VALUE, &attributes));
  char16_t text[16] = {};
  EXPECT_FALSE(devices_->HidD_GetProductString(INVALID_HANDLE_VALUE, text, sizeof text));
  EXPECT_FALSE(devices_->HidD_GetManufacturerString(INVALID_HANDLE_VALUE, text, sizeof text));
}

TEST_F(Win32DeviceApiTest, EachInterfaceOpensOrIsRefusedAndGivesItsAttributes) {
  const std::vector<SP_DEVICE_INTERFACE_DATA> interfaces = Interfaces();
  if (interfaces.empty()) GTEST_SKIP() << "this system has no HID interfaces";
  int opened = 0;
  for (SP_DEVICE_INTERFACE_DATA data : interfaces) {
    std::uint32_t buffer[128] = {};
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    DWORD required = 0;
    if (!devices_->SetupDiGetDeviceInterfaceDetailA(set_, &data, detail, sizeof buffer - 1,
                                                    &required, nullptr)) {
      continue;
    }
    const HANDLE handle = devices_->CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) continue;
    ++opened;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    EXPECT_TRUE(devices_->HidD_GetAttributes(handle, &attributes));
    EXPECT_EQ(attributes.Size, sizeof attributes);
    EXPECT_TRUE(devices_->CloseHandle(handle));
  }
  if (opened == 0) GTEST_SKIP() << "no HID interface of this system could be opened";
}

}  // namespace
}  // namespace hidlist
