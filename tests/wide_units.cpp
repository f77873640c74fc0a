// Writes the UTF-16 units given in hexadecimal on its command line through
// ConsoleText's own conversion, one unit at a time as a device's strings are
// written, and ends as the program does: a console failure is reported.
#include <cstdlib>

#include "console/fatal_report.h"

int main(int argc, char** argv) {
  auto platform = hidlist::OpenConsolePlatform();
  hidlist::ConsoleText console(*platform);
  return hidlist::RunGuarded(console, *platform, [&] {
    for (int i = 1; i < argc; ++i) {
      console.WriteWideUnit(static_cast<char16_t>(std::strtoul(argv[i], nullptr, 16)));
    }
  });
}
