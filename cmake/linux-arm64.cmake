# 64-bit ARM Linux (Debian's arm64) with Debian's cross compiler; the
# programs run under qemu-aarch64.
set(HIDLIST_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(HIDLIST_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
