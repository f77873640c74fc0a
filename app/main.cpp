// hidlist: lists the HID devices present on this machine, then waits for Enter.
#include "console/console_text.h"
#include "console/fatal_report.h"
#include "device_api/device_api.h"
#include "listing/listing.h"

int main() {
  auto platform = hidlist::OpenConsolePlatform();
  hidlist::ConsoleText console(*platform);
  auto devices = hidlist::OpenDeviceApi();
  return hidlist::RunGuarded(console, *platform, [&] { hidlist::RunListing(*devices, console); });
}
