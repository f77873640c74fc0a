// The device service over sysfs and the hidraw nodes. It stands in for
// SetupAPI and HID.DLL with their names, records and error codes; everything
// it reads lies under its root, so tests can hand it a tree of their own.
#include "device_api/device_api_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "device_api/posix_errors.h"
#include "device_api/sysfs_parse.h"
#include "device_api/wide_string.h"

namespace hidlist {

namespace {

// A sysfs file is a page or so; this bounds what a hostile or broken tree costs.
constexpr std::size_t MaxSysfsRead = 64 * 1024;

// Windows' BOOL results; win_types.h leaves them to <windows.h>.
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

constexpr DWORD SpintActive = 0x1;

int OpenRetrying(const std::string& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The text of a regular file, at most MaxSysfsRead bytes of it. A missing
// file, a directory, anything else that is not a regular file and a failed
// read all give nothing: sysfs attributes that cannot be read are absent.
std::optional<std::string> ReadSysfsFile(const std::string& path) {
  // O_NONBLOCK keeps a FIFO planted in the tree from stalling the open.
  const int fd = OpenRetrying(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string text;
  char chunk[4096];
  while (text.size() < MaxSysfsRead) {
    const std::size_t wanted = std::min(sizeof(chunk), MaxSysfsRead - text.size());
    const ssize_t got = ::read(fd, chunk, wanted);
    if (got < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return text;
}

bool IsDirectory(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::optional<std::string> RealPath(const std::string& path) {
  std::error_code error;
  std::filesystem::path resolved = std::filesystem::canonical(path, error);
  if (error) return std::nullopt;
  return resolved.string();
}

// A DEVNAME is used under dev/ only when it cannot lead out of it.
bool IsSafeDevName(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find('\0') != std::string_view::npos) {
    return false;
  }
  while (!name.empty()) {
    const std::size_t slash = name.find('/');
    if (name.substr(0, slash) == "..") return false;
    name = slash == std::string_view::npos ? std::string_view{} : name.substr(slash + 1);
  }
  return true;
}

// The entries of folder named prefix + N, in numeric order of N (hidraw2
// before hidraw10); none when the folder cannot be read.
std::vector<std::string> NumberedEntries(const std::string& folder, std::string_view prefix) {
  std::vector<std::pair<std::uint32_t, std::string>> numbered;
  const int fd = OpenRetrying(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  DIR* listing = ::fdopendir(fd);
  if (listing == nullptr) {
    ::close(fd);
    return {};
  }
  while (const dirent* entry = ::readdir(listing)) {
    if (const auto number = ParseNumberedName(entry->d_name, prefix)) {
      numbered.emplace_back(*number, entry->d_name);
    }
  }
  ::closedir(listing);
  std::sort(numbered.begin(), numbered.end());
  std::vector<std::string> names;
  names.reserve(numbered.size());
  for (auto& entry : numbered) names.push_back(std::move(entry.second));
  return names;
}

struct DeviceSet {
  std::vector<std::string> Entries;  // hidrawN names under sys/class/hidraw, in order of N
};

struct HidFolder {
  std::string Path;
  std::string Uevent;
};

// What a handle's HID queries answer from. A device does not change while
// its node is open, so this is read once, at the first query.
struct DeviceFacts {
  HidFolder Folder;
  std::optional<HidId> Id;
  std::optional<std::string> UsbDevice;  // the usb_device folder, for USB devices
};

struct DeviceHandle {
  DeviceHandle(int fd, std::string classFolder) : Fd(fd), ClassFolder(std::move(classFolder)) {}
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;
  ~DeviceHandle() { ::close(Fd); }

  int Fd;
  // The node's folder in the hidraw class, whose device link is the HID
  // device; empty when the node's name cannot be one.
  std::string ClassFolder;
  std::optional<DeviceFacts> Facts;
};

class LinuxDeviceApi final : public DeviceApi {
 public:
  explicit LinuxDeviceApi(std::string root) : root_(std::move(root)) {
    if (root_.empty() || root_.back() != '/') root_.push_back('/');
  }

  void HidD_GetHidGuid(GUID* HidGuid) override {
    if (HidGuid != nullptr) *HidGuid = HidInterfaceClass;
  }

  HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, const char*, HWND, DWORD) override {
    auto set = std::make_unique<DeviceSet>();
    if (ClassGuid != nullptr && *ClassGuid == HidInterfaceClass) {
      const int classFd = OpenRetrying(root_ + "sys/class", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (classFd < 0) {
        last_error_ = WindowsErrorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
      }
      ::close(classFd);
      // Only names are read here: the details of an entry cost something only
      // when it is asked about.
      set->Entries = ReadHidrawNames();
    }
    HDEVINFO handle = set.get();
    sets_.push_back(std::move(set));
    return handle;
  }

  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                   const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                   SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData) override {
    const DeviceSet* set = FindSet(DeviceInfoSet);
    if (set == nullptr) return Fail(ERROR_INVALID_HANDLE);
    // Only whole-set queries: the listing never narrows them to one device.
    if (DeviceInfoData != nullptr || InterfaceClassGuid == nullptr ||
        DeviceInterfaceData == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
      return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (!(*InterfaceClassGuid == HidInterfaceClass) || MemberIndex >= set->Entries.size()) {
      return Fail(ERROR_NO_MORE_ITEMS);
    }
    DeviceInterfaceData->InterfaceClassGuid = HidInterfaceClass;
    DeviceInterfaceData->Flags = SpintActive;
    // One past the entry's index, so that a record never enumerated refers to none.
    DeviceInterfaceData->Reserved = static_cast<ULONG_PTR>(MemberIndex) + 1;
    return TRUE;
  }

  BOOL SetupDiGetDeviceInterfaceDetailA(
      HDEVINFO DeviceInfoSet, SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData,
      SP_DEVICE_INTERFACE_DETAIL_DATA_A* DeviceInterfaceDetailData,
      DWORD DeviceInterfaceDetailDataSize, DWORD* RequiredSize,
      SP_DEVINFO_DATA* DeviceInfoData) override {
    const DeviceSet* set = FindSet(DeviceInfoSet);
    if (set == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (DeviceInterfaceData == nullptr || DeviceInfoData != nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
      return Fail(ERROR_INVALID_USER_BUFFER);
    }
    const ULONG_PTR member = DeviceInterfaceData->Reserved;
    if (member == 0 || member > set->Entries.size()) return Fail(ERROR_INVALID_PARAMETER);

    auto* const bytes = reinterpret_cast<unsigned char*>(DeviceInterfaceDetailData);
    const DWORD size = DeviceInterfaceDetailDataSize;
    if (bytes == nullptr && size != 0) return Fail(ERROR_INVALID_USER_BUFFER);
    // cbSize is read only when the caller's size covers it.
    if (bytes != nullptr && size >= sizeof(DWORD)) {
      DWORD cbSize = 0;
      std::memcpy(&cbSize, bytes, sizeof(cbSize));
      if (cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
      }
    }

    DWORD error = ERROR_SUCCESS;
    const std::optional<std::string> path = DevicePath(set->Entries[member - 1], &error);
    if (!path) return Fail(error);
    constexpr std::size_t PathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const std::size_t required = PathOffset + path->size() + 1;
    if (required > std::numeric_limits<DWORD>::max()) return Fail(ERROR_GEN_FAILURE);
    if (RequiredSize != nullptr) *RequiredSize = static_cast<DWORD>(required);
    if (size < required) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(bytes + PathOffset, path->c_str(), path->size() + 1);
    return TRUE;
  }

  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) override {
    const auto found = std::find_if(sets_.begin(), sets_.end(),
                                    [&](const auto& set) { return set.get() == DeviceInfoSet; });
    if (found == sets_.end()) return Fail(ERROR_INVALID_HANDLE);
    sets_.erase(found);
    return TRUE;
  }

  HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD, void*,
                     DWORD dwCreationDisposition, DWORD, HANDLE) override {
    if (lpFileName == nullptr || dwCreationDisposition != OPEN_EXISTING) {
      last_error_ = ERROR_INVALID_PARAMETER;
      return INVALID_HANDLE_VALUE;
    }
    const std::string node = lpFileName;
    const bool read = (dwDesiredAccess & GENERIC_READ) != 0;
    const bool write = (dwDesiredAccess & GENERIC_WRITE) != 0;
    // No access at all asks only about the device, as Windows allows: O_PATH
    // needs no permission on the node itself.
    const int access = read && write ? O_RDWR : read ? O_RDONLY : write ? O_WRONLY : O_PATH;
    // O_NONBLOCK keeps a FIFO from stalling the open; it is cleared again below.
    int fd = OpenRetrying(node, access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
      // Windows refuses to open a folder as a file with access denied.
      return FailOpen(errno == EISDIR ? ERROR_ACCESS_DENIED : WindowsErrorFromErrno(errno));
    }
    if (fd <= STDERR_FILENO) {
      // A closed standard stream must not become a device: output meant for
      // it would reach the device instead.
      const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
      const int saved = errno;
      ::close(fd);
      if (moved < 0) return FailOpen(WindowsErrorFromErrno(saved));
      fd = moved;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
      const int saved = errno;
      ::close(fd);
      return FailOpen(WindowsErrorFromErrno(saved));
    }
    // Windows opens neither folders nor pipes as devices.
    if (!S_ISCHR(status.st_mode) && !S_ISREG(status.st_mode)) {
      ::close(fd);
      return FailOpen(ERROR_ACCESS_DENIED);
    }
    if (access != O_PATH) {
      const int flags = ::fcntl(fd, F_GETFL);
      if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    auto handle = std::make_unique<DeviceHandle>(fd, ClassFolderOf(node, status));
    HANDLE result = handle.get();
    handles_.push_back(std::move(handle));
    return result;
  }

  BOOL CloseHandle(HANDLE hObject) override {
    const auto found = std::find_if(handles_.begin(), handles_.end(),
                                    [&](const auto& handle) { return handle.get() == hObject; });
    if (found == handles_.end()) return Fail(ERROR_INVALID_HANDLE);
    handles_.erase(found);
    return TRUE;
  }

  BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, HIDD_ATTRIBUTES* Attributes) override {
    DeviceHandle* handle = FindHandle(HidDeviceObject);
    if (handle == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (Attributes == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const DeviceFacts* facts = FactsOf(*handle);
    if (facts == nullptr) return Fail(ERROR_DEVICE_NOT_CONNECTED);
    const std::optional<HidId>& id = facts->Id;
    if (!id) return Fail(ERROR_GEN_FAILURE);
    std::uint16_t version = 0;
    if (facts->UsbDevice) {
      const std::optional<std::string> bcdDevice = ReadSysfsFile(*facts->UsbDevice + "/bcdDevice");
      if (bcdDevice) version = ParseHexAttribute(*bcdDevice).value_or(0);
    } else {
      version = InputVersion(facts->Folder.Path);
    }
    Attributes->Size = sizeof(HIDD_ATTRIBUTES);
    Attributes->VendorID = id->Vendor;
    Attributes->ProductID = id->Product;
    Attributes->VersionNumber = version;
    return TRUE;
  }

  BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, void* Buffer,
                                     ULONG BufferLength) override {
    return GetString(HidDeviceObject, Buffer, BufferLength, "manufacturer");
  }

  BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, void* Buffer, ULONG BufferLength) override {
    return GetString(HidDeviceObject, Buffer, BufferLength, "product");
  }

  DWORD GetLastError() override { return last_error_; }

 private:
  BOOL Fail(DWORD error) {
    last_error_ = error;
    return FALSE;
  }

  HANDLE FailOpen(DWORD error) {
    last_error_ = error;
    return INVALID_HANDLE_VALUE;
  }

  DeviceSet* FindSet(HDEVINFO set) {
    for (const auto& owned : sets_) {
      if (owned.get() == set) return owned.get();
    }
    return nullptr;
  }

  DeviceHandle* FindHandle(HANDLE handle) {
    for (const auto& owned : handles_) {
      if (owned.get() == handle) return owned.get();
    }
    return nullptr;
  }

  std::string ClassFolder() const { return root_ + "sys/class/hidraw/"; }

  // hidrawN entries in order of N (hidraw2 before hidraw10). A missing or
  // unreadable class folder is a system without hidraw devices.
  std::vector<std::string> ReadHidrawNames() const {
    return NumberedEntries(ClassFolder(), "hidraw");
  }

  // root/dev/ + the entry's DEVNAME, or + its own name when DEVNAME is
  // missing or unsafe. Fails when the entry no longer leads to a device folder.
  std::optional<std::string> DevicePath(const std::string& entry, DWORD* error) const {
    const std::string folder = ClassFolder() + entry;
    // A dangling link, a loop and a device that left are all "not found".
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) {
      *error = errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
      return std::nullopt;
    }
    if (!S_ISDIR(status.st_mode)) {
      *error = ERROR_FILE_NOT_FOUND;
      return std::nullopt;
    }
    std::string name = entry;
    if (const std::optional<std::string> uevent = ReadSysfsFile(folder + "/uevent")) {
      const std::optional<std::string_view> devName = FindUeventValue(*uevent, "DEVNAME");
      if (devName && IsSafeDevName(*devName)) name = *devName;
    }
    return root_ + "dev/" + name;
  }

  // The hidraw class folder of an opened node. The device number of a real
  // node finds it even under another name; test trees use plain files as
  // nodes, so the node's name is what always works.
  std::string ClassFolderOf(const std::string& node, const struct stat& status) const {
    if (S_ISCHR(status.st_mode)) {
      const std::string byNumber = root_ + "sys/dev/char/" + std::to_string(major(status.st_rdev)) +
                                   ":" + std::to_string(minor(status.st_rdev));
      if (IsDirectory(byNumber + "/device")) return byNumber;
    }
    const std::size_t slash = node.rfind('/');
    const std::string name = slash == std::string::npos ? node : node.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return {};
    return ClassFolder() + name;
  }

  const DeviceFacts* FactsOf(DeviceHandle& handle) {
    if (!handle.Facts) {
      std::optional<HidFolder> folder = ReadHidFolder(handle);
      if (!folder) return nullptr;
      DeviceFacts facts{std::move(*folder), std::nullopt, std::nullopt};
      facts.Id = IdOf(facts.Folder);
      facts.UsbDevice = UsbDeviceOf(facts.Folder, facts.Id);
      handle.Facts = std::move(facts);
    }
    return &*handle.Facts;
  }

  std::optional<HidFolder> ReadHidFolder(const DeviceHandle& handle) const {
    if (handle.ClassFolder.empty()) return std::nullopt;
    HidFolder folder{handle.ClassFolder + "/device", {}};
    std::optional<std::string> uevent = ReadSysfsFile(folder.Path + "/uevent");
    if (!uevent) return std::nullopt;
    folder.Uevent = std::move(*uevent);
    return folder;
  }

  static std::optional<HidId> IdOf(const HidFolder& folder) {
    const std::optional<std::string_view> value = FindUeventValue(folder.Uevent, "HID_ID");
    if (!value) return std::nullopt;
    return ParseHidId(*value);
  }

  // The usb_device folder whose descriptor a USB HID device's version and
  // strings come from. Other buses never look up: a Bluetooth device sits
  // under its USB adapter, whose strings are not the device's.
  std::optional<std::string> UsbDeviceOf(const HidFolder& folder, const std::optional<HidId>& id) {
    if (!id || id->Bus != HidBusUsb) return std::nullopt;
    const std::optional<std::string> start = RealPath(folder.Path);
    if (!devices_folder_) devices_folder_ = RealPath(root_ + "sys/devices");
    const std::optional<std::string>& bound = devices_folder_;
    if (!start || !bound) return std::nullopt;
    std::string path = *start;
    for (;;) {
      const std::size_t slash = path.rfind('/');
      if (slash == std::string::npos) return std::nullopt;
      path.resize(slash);
      const bool below = path.size() > bound->size() &&
                         path.compare(0, bound->size(), *bound) == 0 && path[bound->size()] == '/';
      if (!below) return std::nullopt;
      if (IsUsbDevice(path)) return path;
    }
  }

  static bool IsUsbDevice(const std::string& path) {
    if (const std::optional<std::string> uevent = ReadSysfsFile(path + "/uevent")) {
      if (FindUeventValue(*uevent, "DEVTYPE") == "usb_device") return true;
    }
    return IsRegularFile(path + "/idVendor");
  }

  // The version of the lowest-numbered input device of a HID device that
  // gives one, else 0.
  static std::uint16_t InputVersion(const std::string& hidFolder) {
    for (const std::string& input : NumberedEntries(hidFolder + "/input", "input")) {
      const std::optional<std::string> text =
          ReadSysfsFile(hidFolder + "/input/" + input + "/id/version");
      if (!text) continue;
      if (const std::optional<std::uint16_t> version = ParseHexAttribute(*text)) return *version;
    }
    return 0;
  }

  BOOLEAN GetString(HANDLE object, void* buffer, ULONG length, const char* attribute) {
    DeviceHandle* handle = FindHandle(object);
    if (handle == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (buffer == nullptr && length != 0) return Fail(ERROR_INVALID_PARAMETER);
    const DeviceFacts* facts = FactsOf(*handle);
    if (facts == nullptr) return Fail(ERROR_DEVICE_NOT_CONNECTED);
    std::optional<std::string> text;
    if (facts->UsbDevice) {
      text = ReadSysfsFile(*facts->UsbDevice + "/" + attribute);
      if (text) text->resize(TrimOneNewline(*text).size());
    } else if (std::string_view(attribute) == "product") {
      // Without a USB descriptor the kernel's name for the device is all there is.
      if (const auto name = FindUeventValue(facts->Folder.Uevent, "HID_NAME")) {
        text = std::string(*name);
      }
    }
    // Windows reports a string the device does not have this way.
    if (!text) return Fail(ERROR_INVALID_PARAMETER);
    FillWideBuffer(Utf8ToUtf16(*text), buffer, length);
    return TRUE;
  }

  std::string root_;
  std::optional<std::string> devices_folder_;  // sys/devices, resolved: no walk goes above it
  DWORD last_error_ = ERROR_SUCCESS;
  std::vector<std::unique_ptr<DeviceSet>> sets_;
  std::vector<std::unique_ptr<DeviceHandle>> handles_;
};

}  // namespace

std::unique_ptr<DeviceApi> OpenLinuxDeviceApi(std::string root) {
  return std::make_unique<LinuxDeviceApi>(std::move(root));
}

std::unique_ptr<DeviceApi> OpenDeviceApi() { return OpenLinuxDeviceApi("/"); }

}  // namespace hidlist
