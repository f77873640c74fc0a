// The device service over sysfs and the hidraw nodes. It stands in for
// SetupAPI and HID.DLL with their names, records and result conventions;
// everything it reads lies under its root, so tests can hand it a tree of
// their own.
//
// Each hidraw class entry is a link "../../devices/<device path>/hidraw/
// hidrawN": one readlink gives the HID device's folder, whose name holds the
// bus, vendor and product, and its ancestors, among them the USB device that
// holds a USB device's strings. Nothing else is resolved through the file
// system, and each sysfs attribute costs one open, one read and one close.
#include "device_api/device_api_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "device_api/sysfs_parse.h"
#include "device_api/wide_string.h"

namespace hidlist {

namespace {

constexpr DWORD SpintActive = 0x1;

// A sysfs attribute is a page at most. A missing file, a folder and a failed
// read all give nothing: attributes that cannot be read are absent. The open
// does not wait for a FIFO planted in a tree, nor does the read.
std::optional<std::string> ReadAttribute(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  char page[4096];
  const ssize_t got = ::read(fd, page, sizeof page);
  ::close(fd);
  if (got < 0) return std::nullopt;
  return std::string(page, static_cast<std::size_t>(got));
}

// The entries of folder named prefix + N, in numeric order of N (hidraw2
// before hidraw10). None when the folder is missing but its parent is there;
// nothing at all when the parent is missing too, or when the folder cannot
// be read to its end, which must not pass for a shorter folder.
std::optional<std::vector<std::string>> NumberedEntries(const std::string& folder,
                                                        std::string_view prefix) {
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) {
    const std::string parent = folder.substr(0, folder.rfind('/'));
    if (::access(parent.c_str(), F_OK) != 0) return std::nullopt;
    return std::vector<std::string>{};
  }
  std::vector<std::pair<std::uint32_t, std::string>> numbered;
  errno = 0;
  while (const dirent* entry = ::readdir(listing)) {
    if (const auto number = ParseNumberedName(entry->d_name, prefix)) {
      numbered.emplace_back(*number, entry->d_name);
    }
  }
  const bool complete = errno == 0;
  ::closedir(listing);
  if (!complete) return std::nullopt;
  std::sort(numbered.begin(), numbered.end());
  std::vector<std::string> names;
  for (auto& entry : numbered) names.push_back(std::move(entry.second));
  return names;
}

// The HID device folder, as a path under the root, that a class entry's
// link target names: "../../devices/<path>/hidraw/<entry>" with no empty,
// "." or ".." part, so that it cannot lead out of sys/devices.
std::optional<std::string> HidFolderOf(std::string_view target, std::string_view entry) {
  constexpr std::string_view Head = "../../devices/";
  const std::string tail = "/hidraw/" + std::string(entry);
  if (!target.starts_with(Head) || !target.ends_with(tail)) return std::nullopt;
  const std::string_view path =
      target.substr(Head.size(), target.size() - Head.size() - tail.size());
  std::string_view rest = path;
  while (true) {
    const std::size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    if (part.empty() || part == "." || part == "..") return std::nullopt;
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return "sys/devices/" + std::string(path);
}

struct Entry {
  std::string name;                       // hidrawN
  std::optional<std::string> hid_folder;  // found at the first detail query
  bool resolved = false;
};

struct DeviceSet {
  std::vector<Entry> entries;  // in order of N
};

struct DeviceHandle {
  explicit DeviceHandle(int descriptor, std::string folder)
      : fd(descriptor), hid_folder(std::move(folder)) {}
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;
  ~DeviceHandle() { ::close(fd); }

  int fd;
  std::string hid_folder;  // empty for a node this service did not name
};

class LinuxDeviceApi final : public DeviceApi {
 public:
  explicit LinuxDeviceApi(std::string root) : root_(std::move(root)) {}

  void HidD_GetHidGuid(GUID* HidGuid) override { *HidGuid = HidInterfaceClass; }

  HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, const char*, HWND, DWORD) override {
    auto set = std::make_unique<DeviceSet>();
    if (*ClassGuid == HidInterfaceClass) {
      // Only names are read here: an entry's details cost something only
      // when it is asked about. A system without the hidraw class has no
      // HID devices; one without sys/class, or whose class folder cannot be
      // read, has no device set at all.
      std::optional<std::vector<std::string>> names =
          NumberedEntries(root_ + "sys/class/hidraw", "hidraw");
      if (!names) return INVALID_HANDLE_VALUE;
      for (std::string& name : *names) set->entries.push_back({std::move(name), {}, false});
    }
    HDEVINFO handle = set.get();
    sets_.push_back(std::move(set));
    return handle;
  }

  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA*,
                                   const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                   SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData) override {
    const DeviceSet* set = Find(sets_, DeviceInfoSet);
    if (set == nullptr || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        !(*InterfaceClassGuid == HidInterfaceClass) || MemberIndex >= set->entries.size()) {
      return FALSE;
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
      DWORD DeviceInterfaceDetailDataSize, DWORD* RequiredSize, SP_DEVINFO_DATA*) override {
    DeviceSet* set = Find(sets_, DeviceInfoSet);
    if (set == nullptr || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
      return FALSE;
    }
    const ULONG_PTR member = DeviceInterfaceData->Reserved;
    if (member == 0 || member > set->entries.size()) return FALSE;
    // As SetupAPI does, room without a record to put it in is refused, and
    // the size the caller holds is left as it is.
    auto* const bytes = reinterpret_cast<unsigned char*>(DeviceInterfaceDetailData);
    if (bytes == nullptr && DeviceInterfaceDetailDataSize != 0) return FALSE;
    // So is a record whose cbSize is not the size of the record's fixed
    // head, whatever room the caller gives.
    if (bytes != nullptr && DeviceInterfaceDetailDataSize >= sizeof(DWORD) &&
        DeviceInterfaceDetailData->cbSize != sizeof(*DeviceInterfaceDetailData)) {
      return FALSE;
    }
    Entry& entry = set->entries[member - 1];
    if (!Resolve(entry)) return FALSE;
    const std::string path = root_ + "dev/" + entry.name;
    constexpr std::size_t PathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const std::size_t required = PathOffset + path.size() + 1;
    *RequiredSize = static_cast<DWORD>(required);
    if (bytes == nullptr || DeviceInterfaceDetailDataSize < required) return FALSE;
    std::memcpy(bytes + PathOffset, path.c_str(), path.size() + 1);
    return TRUE;
  }

  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) override {
    return Remove(sets_, DeviceInfoSet);
  }

  // The listing asks for read and write access, as a HID device needs for
  // its reports; the node is opened that way and never read here.
  HANDLE CreateFileA(const char* lpFileName, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) override {
    const int fd = ::open(lpFileName, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    const auto known = std::find_if(nodes_.begin(), nodes_.end(),
                                    [&](const auto& node) { return node.first == lpFileName; });
    auto handle = std::make_unique<DeviceHandle>(fd, known != nodes_.end() ? known->second : "");
    HANDLE result = handle.get();
    handles_.push_back(std::move(handle));
    return result;
  }

  BOOL CloseHandle(HANDLE hObject) override { return Remove(handles_, hObject); }

  BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, HIDD_ATTRIBUTES* Attributes) override {
    const DeviceHandle* handle = Find(handles_, HidDeviceObject);
    if (handle == nullptr) return FALSE;
    const std::optional<HidId> id = ParseHidFolderName(NameOf(handle->hid_folder));
    if (!id) return FALSE;
    std::uint16_t version = 0;
    if (const std::optional<std::string> usb_device = UsbDevice(*handle, *id)) {
      if (const auto text = ReadUsbAttribute(*usb_device, "bcdDevice")) {
        version = ParseHexAttribute(*text).value_or(0);
      }
    } else {
      version = InputVersion(root_ + handle->hid_folder);
    }
    Attributes->Size = sizeof(HIDD_ATTRIBUTES);
    Attributes->VendorID = id->vendor;
    Attributes->ProductID = id->product;
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

 private:
  template <typename T>
  static T* Find(const std::vector<std::unique_ptr<T>>& owned, const void* handle) {
    for (const auto& item : owned) {
      if (item.get() == handle) return item.get();
    }
    return nullptr;
  }

  template <typename T>
  static BOOL Remove(std::vector<std::unique_ptr<T>>& owned, const void* handle) {
    const auto found = std::find_if(owned.begin(), owned.end(),
                                    [&](const auto& item) { return item.get() == handle; });
    if (found == owned.end()) return FALSE;
    owned.erase(found);
    return TRUE;
  }

  static std::string_view NameOf(std::string_view path) { return path.substr(path.rfind('/') + 1); }

  // Reads the entry's link once; a device that left, or an entry that is
  // not a hidraw device's link, has no detail.
  bool Resolve(Entry& entry) {
    if (!entry.resolved) {
      entry.resolved = true;
      char target[PATH_MAX];
      const std::string link = root_ + "sys/class/hidraw/" + entry.name;
      const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
      if (length > 0 && static_cast<std::size_t>(length) < sizeof target) {
        entry.hid_folder =
            HidFolderOf(std::string_view(target, static_cast<std::size_t>(length)), entry.name);
      }
      if (entry.hid_folder) nodes_.emplace_back(root_ + "dev/" + entry.name, *entry.hid_folder);
    }
    return entry.hid_folder.has_value();
  }

  // Each interface of a USB device, and each device paired with a receiver,
  // answers from the same usb_device: its attributes are read once.
  const std::optional<std::string>& ReadUsbAttribute(const std::string& usb_device,
                                                     std::string_view attribute) {
    const std::string path = root_ + usb_device + "/" + std::string(attribute);
    for (const auto& [read, text] : usb_attributes_) {
      if (read == path) return text;
    }
    return usb_attributes_.emplace_back(path, ReadAttribute(path)).second;
  }

  // A USB device's version and strings are its usb_device's. Other buses
  // never look up: a Bluetooth device sits under its USB adapter, whose
  // strings are not the device's.
  static std::optional<std::string> UsbDevice(const DeviceHandle& handle, const HidId& id) {
    if (id.bus != HidBusUsb) return std::nullopt;
    const std::optional<std::string_view> device = UsbDeviceOf(handle.hid_folder);
    if (!device) return std::nullopt;
    return std::string(*device);
  }

  // The version of the lowest-numbered input device of a HID device that
  // gives one, else 0.
  static std::uint16_t InputVersion(const std::string& hid_folder) {
    const auto inputs = NumberedEntries(hid_folder + "/input", "input");
    for (const std::string& input : inputs.value_or(std::vector<std::string>{})) {
      if (const auto text = ReadAttribute(hid_folder + "/input/" + input + "/id/version")) {
        if (const std::optional<std::uint16_t> version = ParseHexAttribute(*text)) return *version;
      }
    }
    return 0;
  }

  BOOLEAN GetString(HANDLE object, void* buffer, ULONG length, std::string_view attribute) {
    const DeviceHandle* handle = Find(handles_, object);
    if (handle == nullptr) return FALSE;
    const std::optional<HidId> id = ParseHidFolderName(NameOf(handle->hid_folder));
    if (!id) return FALSE;
    std::optional<std::string> text;
    if (const std::optional<std::string> usb_device = UsbDevice(*handle, *id)) {
      text = ReadUsbAttribute(*usb_device, attribute);
      if (text) text->resize(TrimOneNewline(*text).size());
    } else if (attribute == "product") {
      // Without a USB descriptor the kernel's name for the device is all there is.
      if (const auto uevent = ReadAttribute(root_ + handle->hid_folder + "/uevent")) {
        if (const auto name = FindUeventValue(*uevent, "HID_NAME")) text = std::string(*name);
      }
    }
    // Windows reports a string the device does not have this way.
    if (!text) return FALSE;
    FillWideBuffer(Utf8ToUtf16(*text), buffer, length);
    return TRUE;
  }

  std::string root_;
  std::vector<std::unique_ptr<DeviceSet>> sets_;
  std::vector<std::unique_ptr<DeviceHandle>> handles_;
  // The nodes the detail queries named, with their HID device folders.
  std::vector<std::pair<std::string, std::string>> nodes_;
  std::vector<std::pair<std::string, std::optional<std::string>>> usb_attributes_;
};

}  // namespace

std::unique_ptr<DeviceApi> OpenDeviceApiAt(std::string root) {
  return std::make_unique<LinuxDeviceApi>(std::move(root));
}

}  // namespace hidlist
