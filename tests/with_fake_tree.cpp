// Runs a command with a fake sysfs tree of several devices added as its last
// argument, and removes the tree when the command ends: scripts such as
// tests/valgrind_test.sh use it to give hidlist_testroot a machine with
// devices. Exits with the command's status, or 128 + its signal.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tests/support/sysfs_tree.h"

namespace hidlist {
namespace {

// Every kind of device and outcome the listing has: USB with strings, a
// receiver's child, Bluetooth under a USB adapter, Bluetooth LE, an I2C touch
// pad, a node that is gone and an entry whose device left.
void AddDevices(SysfsTree& tree) {
  const FakeUsbDevice keyboard("1-2", 0x046D, 0xC31C, "6400", "Logitech", "USB Keyboard");
  AddUsbHidraw(tree, keyboard, 0,
               FakeHidDevice(0x0003, 0x046D, 0xC31C, "Logitech USB Keyboard", 1, 0));
  AddUsbHidraw(tree, keyboard, 1,
               FakeHidDevice(0x0003, 0x046D, 0xC31C, "Logitech USB Keyboard", 2, 1));
  tree.Remove("dev/hidraw1");

  const FakeUsbDevice receiver("1-3", 0x046D, 0xC52B, "1211", "Logitech", "USB Receiver");
  const std::string parent = AddUsbHidraw(
      tree, receiver, 2, FakeHidDevice(0x0003, 0x046D, 0xC52B, "Logitech USB Receiver", 3, 2));
  AddChildHidraw(tree, parent, FakeHidDevice(0x0003, 0x046D, 0x4082, "MX Master 3", 4, 3));

  const FakeUsbDevice adapter("1-5", 0x8087, 0x0A2B, "0001", "Intel", "Bluetooth");
  AddBluetoothHidraw(
      tree, adapter,
      FakeHidDevice(0x0005, 0x046D, 0xB01A, "MX Anywhere 2S", 5, 4, {FakeInput{20, "0012"}}));
  AddUhidHidraw(tree, FakeHidDevice(0x0005, 0x046D, 0xB023, "MX Master 3 Mac", 6, 5));
  AddI2cHidraw(tree, "i2c-ELAN0001:00",
               FakeHidDevice(0x0018, 0x04F3, 0x3140, "ELAN0001:00 04F3:3140", 7, 6,
                             {FakeInput{11, "0100"}}));
  tree.AddLink("sys/class/hidraw/hidraw7", "../../devices/virtual/misc/uhid/gone/hidraw/hidraw7");
}

int Run(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s COMMAND [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  SysfsTree tree;
  AddDevices(tree);
  std::vector<std::string> args(argv + 1, argv + argc);
  args.push_back(tree.Root());
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  const pid_t child = ::fork();
  if (child < 0) return 126;
  if (child == 0) {
    ::execvp(pointers[0], pointers.data());
    std::perror(pointers[0]);
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return 126;
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

}  // namespace
}  // namespace hidlist

int main(int argc, char** argv) {
  try {
    return hidlist::Run(argc, argv);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s\n", failure.what());
    return 125;
  }
}
