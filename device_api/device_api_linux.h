// The device service on Linux, over sysfs and the hidraw nodes.
#pragma once

#include <memory>
#include <string>

#include "device_api/device_api.h"

namespace hidlist {

// root is the folder that holds sys/ and dev/: "/" for the program; tests
// point it at a tree of their own.
std::unique_ptr<DeviceApi> OpenLinuxDeviceApi(std::string root);

}  // namespace hidlist
