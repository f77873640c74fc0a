# 32-bit ARM Linux with hardware floating point (Debian's armhf) with
# Debian's cross compiler; the programs run under qemu-arm.
set(HIDLIST_CROSS_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(HIDLIST_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
