// Small compiler-specific helpers, so that the rest of the code builds with
// GCC, Clang and MSVC alike.
#pragma once

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#define HIDLIST_NOINLINE __declspec(noinline)
#define HIDLIST_ALWAYS_INLINE __forceinline
// The address the current function returns to: the point just after its call.
#define HIDLIST_RETURN_ADDRESS() _ReturnAddress()
#else
#define HIDLIST_NOINLINE __attribute__((noinline))
#define HIDLIST_ALWAYS_INLINE inline __attribute__((always_inline))
#define HIDLIST_RETURN_ADDRESS() __builtin_return_address(0)
#endif
