// The program with its device service reading the tree given as the first
// argument instead of "/": for the process tests only.
#include <clocale>

#include "console/console_text.h"
#include "console/fatal_report.h"
#include "device_api/device_api_linux.h"
#include "listing/listing.h"

int main(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "");
  auto platform = hidlist::OpenConsolePlatform();
  hidlist::ConsoleText console(*platform);
  auto devices = hidlist::OpenLinuxDeviceApi(argc > 1 ? argv[1] : "/nonexistent/");
  return hidlist::RunGuarded(console, *platform, [&] { hidlist::RunListing(*devices, console); });
}
