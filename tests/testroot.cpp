// The device service of the test program: the tree named by HIDLIST_ROOT
// takes the place of "/". Linked with the program's own entry, so that the
// test program is the shipped one in every other respect.
#include <cstdlib>

#include "device_api/device_api_linux.h"

namespace hidlist {

std::unique_ptr<DeviceApi> OpenDeviceApi() {
  const char* root = std::getenv("HIDLIST_ROOT");
  return OpenDeviceApiAt(root != nullptr ? root : "/nonexistent/");
}

}  // namespace hidlist
