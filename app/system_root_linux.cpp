// The shipped program's DeviceApi on Linux: the real /sys and /dev. It is a
// source of the program itself, not of the device_api library, so that each
// program names the one it has: the test program is the same entry with
// tests/testroot.cpp in this file's place.
#include "device_api/device_api_linux.h"

namespace hidlist {

std::unique_ptr<DeviceApi> OpenDeviceApi() { return OpenDeviceApiAt("/"); }

}  // namespace hidlist
