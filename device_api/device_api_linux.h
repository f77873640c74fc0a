// The DeviceApi on Linux, over sysfs and the hidraw nodes.
#pragma once

#include <memory>
#include <string>

#include "device_api/device_api.h"

namespace hidlist {

// The DeviceApi over the tree at root, the folder that holds sys/ and dev/,
// ending in '/': "/" for the program (OpenDeviceApi); tests hand it a tree
// of their own.
std::unique_ptr<DeviceApi> OpenDeviceApiAt(std::string root);

}  // namespace hidlist
