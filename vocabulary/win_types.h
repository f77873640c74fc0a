// The platform's basic types and constants, declared neutrally so that the
// listing, ConsoleText and their Linux backends can use Windows' names and
// sizes without <windows.h>.
//
// Windows backend files include <windows.h> after the project's headers,
// through windows_sdk.h.
#pragma once

#include <cstdint>

namespace hidlist {

using BOOL = int;
using BOOLEAN = unsigned char;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using USHORT = std::uint16_t;
using ULONG_PTR = std::uintptr_t;
using HANDLE = void*;
using HDEVINFO = void*;
using HWND = void*;

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}

// BOOL results.
inline constexpr BOOL FALSE = 0;
inline constexpr BOOL TRUE = 1;

// (HANDLE)-1, as on Windows; a null handle is a different, also unusable, value.
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

// Windows error codes. Every backend reports these, so that ConsoleText's
// codes and messages are the same on every system.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_BROKEN_PIPE = 109;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_FILE_TOO_LARGE = 223;
inline constexpr DWORD ERROR_NO_DATA = 232;
inline constexpr DWORD ERROR_IO_DEVICE = 1117;
inline constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;

}  // namespace hidlist
