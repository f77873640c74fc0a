// The DeviceApi over sysfs and the hidraw nodes. It stands in for
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
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "device_api/sysfs_parse.h"
#include "device_api/wide_string.h"

namespace hidlist {

namespace {

// Whether a failed open or read met nothing: a file or folder that is not
// there, or one whose device has left (sysfs answers ENODEV while it removes
// a device's files).
bool Gone(int error) { return error == ENOENT || error == ENODEV; }

// What a read of a sysfs attribute gave. A file that is not there is Missing:
// the device lacks that attribute, or has left. One that is there and cannot
// be opened or read (a folder, EACCES, EIO, EMFILE) has Failed, which must
// not pass for Missing.
struct Attribute {
  enum Outcome { Text, Missing, Failed } outcome = Missing;
  std::string text;
};

// A sysfs attribute is a page at most. The open does not wait for a FIFO
// planted in a tree, nor does the read.
Attribute ReadAttribute(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return {Gone(errno) ? Attribute::Missing : Attribute::Failed, {}};
  char page[4096];
  const ssize_t got = ::read(fd, page, sizeof page);
  const int error = errno;
  ::close(fd);
  if (got < 0) return {Gone(error) ? Attribute::Missing : Attribute::Failed, {}};
  return {Attribute::Text, std::string(page, static_cast<std::size_t>(got))};
}

// The entries of the folder named prefix + N, in numeric order of N (hidraw2
// before hidraw10); none when the folder is missing. Nothing at all when it
// is there and cannot be listed to its end: a file in its place, no right to
// read it, a read that fails part way. That must not pass for a shorter
// folder.
std::optional<std::vector<std::string>> NumberedEntries(const std::string& folder,
                                                        std::string_view prefix) {
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) {
    if (Gone(errno)) return std::vector<std::string>{};
    return std::nullopt;
  }
  std::vector<std::pair<std::uint32_t, std::string>> numbered;
  // Only errno tells the end of the folder from a failed read, so it is
  // cleared before each read: the allocations between two reads may leave it
  // set even when they succeed.
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(listing);
    if (entry == nullptr) break;
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
  // The tail is looked for after the head: the two may not share a slash.
  if (!target.starts_with(Head)) return std::nullopt;
  target.remove_prefix(Head.size());
  if (!target.ends_with(tail)) return std::nullopt;
  const std::string_view path = target.substr(0, target.size() - tail.size());
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

struct ClassEntry {
  std::string name;                       // hidrawN
  std::optional<std::string> hid_folder;  // found at the first detail query
  bool resolved = false;
};

// The device information set: the hidraw class entries, in order of N.
struct HidrawSet {
  std::vector<ClassEntry> entries;
};

// An open hidraw node, with the facts of its device that the queries read:
// its ids, from its folder's name, and where its version and strings are
// found.
struct OpenNode {
  OpenNode(int descriptor, std::string_view folder)
      : fd(descriptor), hid_folder(folder), id(ParseHidFolderName(BaseName(folder))) {
    // A USB device's version and strings are its usb_device's. Other buses
    // never look up: a Bluetooth device sits under its USB adapter, whose
    // strings are not the device's.
    if (id && id->bus == HidBusUsb) usb_device = UsbDeviceOf(folder).value_or("");
  }
  OpenNode(const OpenNode&) = delete;
  OpenNode& operator=(const OpenNode&) = delete;
  ~OpenNode() { ::close(fd); }

  int fd;
  std::string hid_folder;
  std::optional<HidId> id;  // none when the folder's name does not parse
  std::string usb_device;   // empty when the device has no USB parent
};

class LinuxDeviceApi final : public DeviceApi {
 public:
  explicit LinuxDeviceApi(std::string root) : root_(std::move(root)) {}

  void HidD_GetHidGuid(GUID* HidGuid) override { *HidGuid = HidInterfaceClass; }

  // Handles are the addresses of the records below, handed only to the
  // listing, which passes each one back as it got it.
  HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, const char*, HWND, DWORD) override {
    auto set = std::make_unique<HidrawSet>();
    // A set of another class is empty, as on Windows: a listing that does not
    // ask for the HID class lists nothing.
    if (*ClassGuid == HidInterfaceClass) {
      // Only names are read here: an entry's details cost something only
      // when it is asked about. A system whose sys/class lacks the hidraw
      // class has no HID devices. Without sys/class, or with a class folder
      // that cannot be listed, there is no device set: not knowing is not
      // "no devices".
      std::optional<std::vector<std::string>> names =
          NumberedEntries(root_ + "sys/class/hidraw", "hidraw");
      if (!names || (names->empty() && ::access((root_ + "sys/class").c_str(), F_OK) != 0)) {
        return INVALID_HANDLE_VALUE;
      }
      for (std::string& name : *names) set->entries.push_back({std::move(name), {}, false});
    }
    HDEVINFO handle = set.get();
    sets_.push_back(std::move(set));
    return handle;
  }

  // As SetupAPI does, an interface record whose cbSize is not its size is
  // refused: a listing that sets it wrong fails here as it would on Windows.
  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA*, const GUID*,
                                   DWORD MemberIndex,
                                   SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData) override {
    const auto* set = static_cast<const HidrawSet*>(DeviceInfoSet);
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        MemberIndex >= set->entries.size()) {
      return FALSE;
    }
    DeviceInterfaceData->InterfaceClassGuid = HidInterfaceClass;
    DeviceInterfaceData->Flags = SPINT_ACTIVE;
    DeviceInterfaceData->Reserved = MemberIndex;
    return TRUE;
  }

  BOOL SetupDiGetDeviceInterfaceDetailA(
      HDEVINFO DeviceInfoSet, SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData,
      SP_DEVICE_INTERFACE_DETAIL_DATA_A* DeviceInterfaceDetailData,
      DWORD DeviceInterfaceDetailDataSize, DWORD* RequiredSize, SP_DEVINFO_DATA*) override {
    // As SetupAPI does, a detail record whose cbSize is not the size of its
    // fixed head is refused, whatever room it has: a listing that sets it
    // wrong fails here as it would on Windows.
    auto* const bytes = reinterpret_cast<unsigned char*>(DeviceInterfaceDetailData);
    if (bytes != nullptr &&
        DeviceInterfaceDetailData->cbSize != sizeof(*DeviceInterfaceDetailData)) {
      return FALSE;
    }
    // So is room without a record to put it in, and the size the caller holds
    // is left as it is: a listing whose probe gives room fails here too.
    if (bytes == nullptr && DeviceInterfaceDetailDataSize != 0) return FALSE;
    ClassEntry& entry =
        static_cast<HidrawSet*>(DeviceInfoSet)->entries[DeviceInterfaceData->Reserved];
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
    return Release(sets_, DeviceInfoSet);
  }

  // The listing asks for read and write access, as a HID device needs for
  // its reports; the node is opened that way and never read here.
  HANDLE CreateFileA(const char* lpFileName, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) override {
    const int fd = ::open(lpFileName, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    // The listing opens only the paths the detail queries gave.
    auto node = std::make_unique<OpenNode>(fd, node_folders_.at(lpFileName));
    HANDLE result = node.get();
    open_nodes_.push_back(std::move(node));
    return result;
  }

  BOOL CloseHandle(HANDLE hObject) override { return Release(open_nodes_, hObject); }

  // As on Windows, a query that cannot read what it needs fails and fills
  // nothing; a version the device does not give is 0.
  BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, HIDD_ATTRIBUTES* Attributes) override {
    const auto* node = static_cast<const OpenNode*>(HidDeviceObject);
    if (!node->id) return FALSE;
    std::optional<std::uint16_t> version;
    if (!node->usb_device.empty()) {
      const Attribute text = ReadUsbAttribute(node->usb_device, "bcdDevice");
      if (text.outcome != Attribute::Failed) version = ParseHexAttribute(text.text).value_or(0);
    } else {
      version = InputVersion(root_ + node->hid_folder);
    }
    if (!version) return FALSE;
    Attributes->Size = sizeof(HIDD_ATTRIBUTES);
    Attributes->VendorID = node->id->vendor;
    Attributes->ProductID = node->id->product;
    Attributes->VersionNumber = *version;
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
  static BOOL Release(std::vector<std::unique_ptr<T>>& owned, const void* handle) {
    std::erase_if(owned, [&](const auto& item) { return item.get() == handle; });
    return TRUE;
  }

  // Reads the entry's link once; a device that left, or an entry that is
  // not a hidraw device's link, has no detail.
  bool Resolve(ClassEntry& entry) {
    if (!entry.resolved) {
      entry.resolved = true;
      char target[PATH_MAX];
      const std::string link = root_ + "sys/class/hidraw/" + entry.name;
      const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
      if (length > 0 && static_cast<std::size_t>(length) < sizeof target) {
        entry.hid_folder =
            HidFolderOf(std::string_view(target, static_cast<std::size_t>(length)), entry.name);
      }
      if (entry.hid_folder) node_folders_.emplace(root_ + "dev/" + entry.name, *entry.hid_folder);
    }
    return entry.hid_folder.has_value();
  }

  // Each interface of a USB device, and each device paired with a receiver,
  // answers from the same usb_device: its attributes are read once.
  Attribute ReadUsbAttribute(const std::string& usb_device, std::string_view attribute) {
    const std::string path = root_ + usb_device + "/" + std::string(attribute);
    for (const auto& [read, text] : usb_attributes_) {
      if (read == path) return text;
    }
    return usb_attributes_.emplace_back(path, ReadAttribute(path)).second;
  }

  // The version of the lowest-numbered input device of a HID device that
  // gives one, else 0; none when a folder or a version that is there cannot
  // be read.
  static std::optional<std::uint16_t> InputVersion(const std::string& hid_folder) {
    const auto inputs = NumberedEntries(hid_folder + "/input", "input");
    if (!inputs) return std::nullopt;
    for (const std::string& input : *inputs) {
      const Attribute text = ReadAttribute(hid_folder + "/input/" + input + "/id/version");
      if (text.outcome == Attribute::Failed) return std::nullopt;
      if (const std::optional<std::uint16_t> version = ParseHexAttribute(text.text)) return version;
    }
    return 0;
  }

  // A string the device does not have and one that cannot be read both fail,
  // as on Windows: the listing prints an empty line for either.
  BOOLEAN GetString(HANDLE object, void* buffer, ULONG length, std::string_view attribute) {
    const auto* node = static_cast<const OpenNode*>(object);
    if (!node->id) return FALSE;
    std::optional<std::string> text;
    if (!node->usb_device.empty()) {
      const Attribute read = ReadUsbAttribute(node->usb_device, attribute);
      if (read.outcome == Attribute::Text) text = std::string(TrimOneNewline(read.text));
    } else if (attribute == "product") {
      // Without a USB descriptor the kernel's name for the device is all
      // there is; the uevent file holds its first line.
      const Attribute uevent = ReadAttribute(root_ + node->hid_folder + "/uevent");
      if (const auto name = FindUeventValue(uevent.text, "HID_NAME")) text = std::string(*name);
    }
    if (!text) return FALSE;
    FillWideBuffer(Utf8ToUtf16(*text), buffer, length);
    return TRUE;
  }

  std::string root_;
  std::vector<std::unique_ptr<HidrawSet>> sets_;
  std::vector<std::unique_ptr<OpenNode>> open_nodes_;
  // The nodes the detail queries named, with their HID device folders.
  std::map<std::string, std::string> node_folders_;
  std::vector<std::pair<std::string, Attribute>> usb_attributes_;
};

}  // namespace

std::unique_ptr<DeviceApi> OpenDeviceApiAt(std::string root) {
  return std::make_unique<LinuxDeviceApi>(std::move(root));
}

}  // namespace hidlist
