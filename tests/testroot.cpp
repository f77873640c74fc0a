// The test program's DeviceApi: the tree that HIDLIST_ROOT names takes the
// place of "/". Built with the program's own entry in place of
// app/system_root_linux.cpp, so that the test program is the shipped one in
// every other respect.
#include <cstdlib>

#include "device_api/device_api_linux.h"

namespace hidlist {

std::unique_ptr<DeviceApi> OpenDeviceApi() {
  const char* root = std::getenv("HIDLIST_ROOT");
  return OpenDeviceApiAt(root != nullptr ? root : "/nonexistent/");
}

}  // namespace hidlist
