#include "device_api/device_api_linux.h"

namespace hidlist {

std::unique_ptr<DeviceApi> OpenDeviceApi() { return OpenDeviceApiAt("/"); }

}  // namespace hidlist
