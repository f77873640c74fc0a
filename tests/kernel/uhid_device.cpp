// Makes one uhid device and holds it until killed:
//   uhid_device BUS VENDOR PRODUCT VERSION NAME
// with the numbers in hexadecimal.
#include <fcntl.h>
#include <linux/uhid.h>
#include <unistd.h>

#include <cstdlib>

int main(int, char** argv) {
  const auto hex = [argv](int i) -> __u32 { return std::strtoul(argv[i], nullptr, 16); };
  // Name, phys, uniq, the report descriptor's size, bus, vendor, product, version, country and the
  // descriptor: one mouse button, so that the device has an input device too, with its version.
  uhid_event event{
      UHID_CREATE2,
      {.create2 = {"", "", "", 21, static_cast<__u16>(hex(1)), hex(2), hex(3), hex(4), 0,
                   "\x05\x01\x09\x02\xA1\x01\x05\x09\x09\x01\x15\x00\x25\x01\x75\x08\x95\x01\x81"
                   "\x02\xC0"}}};
  for (int i = 0; argv[5][i] != '\0' && i < 127; ++i) event.u.create2.name[i] = argv[5][i];
  // A failed open gives -1, which write refuses.
  if (write(open("/dev/uhid", O_RDWR | O_CLOEXEC), &event, sizeof event) != sizeof event) return 1;
  pause();
}
