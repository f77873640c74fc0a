// The listing and ConsoleText over a fake console, for what no real stream
// can show: the write pattern on a console, the order of the calls, failures
// in the middle of a statement, the line rules of the closing read. The
// devices are the Linux DeviceApi over pattern.case's tree, with what only a
// fake can give added. Each run of tests/cases/fake_console.txt is a test of
// its own; each setting is read where it is used.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>

#include "console/fatal_report.h"
#include "device_api/device_api_linux.h"
#include "listing/listing.h"

// The DeviceApi linked into this program reads folders through this readdir,
// named readdir64 where <dirent.h> renames it (64-bit file offsets on 32-bit
// Linux); the C library's readdir64 is its readdir wherever offsets are
// 64-bit. While folder_reads_fail is not 0 every read fails with it; while
// folder_reads_leave is not 0 a read that succeeds leaves errno so, as POSIX
// lets it and as any allocation between two reads may.
static int folder_reads_fail = 0;
static int folder_reads_leave = 0;
extern "C" dirent* readdir(DIR* folder) {
  static void* const real = dlsym(RTLD_NEXT, sizeof(off_t) == 8 ? "readdir64" : "readdir");
  if (folder_reads_fail != 0) errno = folder_reads_fail;
  dirent* entry =
      folder_reads_fail != 0 ? nullptr : reinterpret_cast<dirent* (*)(DIR*)>(real)(folder);
  if (entry != nullptr && folder_reads_leave != 0) errno = folder_reads_leave;
  return entry;
}

namespace hidlist {
namespace {

using Log = std::vector<std::string>;

// A run of fake_console.txt: its name, and its settings, each a key and the
// rest of its line, escapes and names filled in.
struct FakeRun {
  std::string name;
  std::map<std::string, std::string> settings;

  // The value of the key's line; empty when the run has none.
  std::string Text(const std::string& k) const {
    return settings.contains(k) ? settings.at(k) : "";
  }
  // Its value, parted by separator; none when the run has no such line.
  std::vector<std::string> Parts(const std::string& key, char separator = ' ') const {
    std::vector<std::string> parts;
    std::istringstream text(Text(key));
    for (std::string part; std::getline(text, part, separator);) parts.push_back(part);
    return parts;
  }
  // Its word-th word as a number; 0 when there is none.
  DWORD Number(const std::string& key, std::size_t word = 0) const {
    const std::vector<std::string> words = Parts(key);
    return word < words.size() ? std::strtoul(words[word].c_str(), nullptr, 10) : 0;
  }
};

void PrintTo(const FakeRun& run, std::ostream* out) { *out << run.name; }

// The standard streams' handles; "outputs" names them by these numbers.
const HANDLE Output = reinterpret_cast<HANDLE>(1), Input = reinterpret_cast<HANDLE>(2),
             Error = reinterpret_cast<HANDLE>(3), OfUnknownType = reinterpret_cast<HANDLE>(4);

// The standard streams as a run sets them up. Everything that reaches them
// is logged in order: the bytes of each write to standard output, and marks
// for the rest ("<read>", "<close>", "<error>" and the bytes written there).
class FakeConsole final : public ConsolePlatform {
 public:
  FakeConsole(const FakeRun& run, Log& log) : run_(run), log_(log) {
    if (!run.settings.contains("reads")) reads_ = {"\r\n"};
  }

  HANDLE GetStdHandle(DWORD which) override {
    if (which == STD_INPUT_HANDLE)
      return run_.Text("input") == "closed" ? INVALID_HANDLE_VALUE : Input;
    if (which == STD_ERROR_HANDLE) return Error;
    const std::vector<std::string> outputs = run_.Parts("outputs");
    if (outputs.empty()) return Output;
    return reinterpret_cast<HANDLE>(std::stoul(outputs[std::min(opens_++, outputs.size() - 1)]));
  }
  DWORD GetFileType(HANDLE handle) override {
    if (handle != Output) return FILE_TYPE_UNKNOWN;
    return run_.Text("type") == "char" ? FILE_TYPE_CHAR : FILE_TYPE_DISK;
  }
  BOOL CloseHandle(HANDLE) override {
    log_.push_back("<close>");
    return 1;
  }
  BOOL WriteFile(HANDLE handle, const void* bytes, DWORD count, DWORD* written) override {
    log_.push_back((handle == Error ? "<error>" : "") +
                   std::string(static_cast<const char*>(bytes), count));
    // "write N CODE": the Nth write to standard output fails so.
    const bool failing = handle != Error && ++writes_ == run_.Number("write");
    last_error_ = failing ? run_.Number("write", 1) : 0;
    if (last_error_ == 0) *written = count;
    return last_error_ == 0;
  }
  BOOL ReadFile(HANDLE, void* buffer, DWORD size, DWORD* count) override {
    log_.push_back("<read>");
    *count = 0;
    if (reads_.size() == next_read_) return (last_error_ = run_.Number("read_error")) == 0;
    const std::string& chunk = reads_[next_read_++];
    *count = std::min<DWORD>(size, static_cast<DWORD>(chunk.size()));
    std::memcpy(buffer, chunk.data(), *count);
    return 1;
  }
  DWORD GetLastError() override { return last_error_; }
  UINT NarrowCodePage() override { return 20127; }
  UINT ConsoleOutputCodePage(HANDLE) override { return NoConsole; }
  // US-ASCII without a default character: other units give no bytes.
  int WideCharToMultiByte(UINT, DWORD, const char16_t* unit, int, char* bytes, int) override {
    bytes[0] = static_cast<char>(*unit);
    return *unit < 0x80 ? 1 : 0;
  }
  ModuleLocation LocateModule(const void* position) override {
    return {"hidlist", position != nullptr ? 0x1234u : 0u};
  }
  void CharToOemA(char*) override {}
  bool IsDebuggerPresent() override { return false; }

 private:
  const FakeRun& run_;
  Log& log_;
  std::vector<std::string> reads_ = run_.Parts("reads", '|');
  std::size_t next_read_ = 0;
  std::size_t opens_ = 0;
  DWORD writes_ = 0;
  DWORD last_error_ = 0;
};

// The Linux DeviceApi over a tree, with what only a fake gives as a run sets
// it up. It logs the release of the set and of each device ("<destroy>",
// "<closed>").
class Devices final : public DeviceApi {
 public:
  Devices(const std::string& root, const FakeRun& run, Log& log)
      : real_(OpenDeviceApiAt(root)), run_(run), log_(log) {}

  void HidD_GetHidGuid(GUID* guid) override { real_->HidD_GetHidGuid(guid); }
  HDEVINFO SetupDiGetClassDevsA(const GUID* guid, const char* enumerator, HWND parent,
                                DWORD flags) override {
    GUID asked = *guid;
    asked.Data1 += run_.Text("wrong") == "class" ? 1 : 0;
    return real_->SetupDiGetClassDevsA(&asked, enumerator, parent, flags);
  }
  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* info, const GUID* guid,
                                   DWORD index, SP_DEVICE_INTERFACE_DATA* data) override {
    const std::vector<std::string> missing = run_.Parts("missing");
    if (std::count(missing.begin(), missing.end(), std::to_string(index)) != 0) return 0;
    data->cbSize += run_.Text("wrong") == "interface_size" ? 1 : 0;
    return real_->SetupDiEnumDeviceInterfaces(set, info, guid, index, data);
  }
  BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                        SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                                        DWORD* required, SP_DEVINFO_DATA* info) override {
    if (detail != nullptr) detail->cbSize += run_.Text("wrong") == "detail_size" ? 1 : 0;
    if (detail == nullptr) size += run_.Text("wrong") == "probe_size" ? 1 : 0;
    if (detail != nullptr || !run_.settings.contains("probe")) {
      return real_->SetupDiGetDeviceInterfaceDetailA(set, data, detail, size, required, info);
    }
    *required = run_.Number("probe");
    return 0;
  }
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override {
    log_.push_back("<destroy>");
    return real_->SetupDiDestroyDeviceInfoList(set);
  }
  HANDLE CreateFileA(const char* path, DWORD access, DWORD share, void* security, DWORD disposition,
                     DWORD flags, HANDLE templ) override {
    return real_->CreateFileA(path, access, share, security, disposition, flags, templ);
  }
  BOOL CloseHandle(HANDLE handle) override {
    log_.push_back("<closed>");
    return real_->CloseHandle(handle);
  }
  BOOLEAN HidD_GetAttributes(HANDLE handle, HIDD_ATTRIBUTES* attributes) override {
    if (run_.settings.contains("throw")) throw std::runtime_error(run_.Text("throw"));
    return real_->HidD_GetAttributes(handle, attributes);
  }
  BOOLEAN HidD_GetManufacturerString(HANDLE handle, void* buffer, ULONG length) override {
    return real_->HidD_GetManufacturerString(handle, buffer, length);
  }
  BOOLEAN HidD_GetProductString(HANDLE handle, void* buffer, ULONG length) override {
    return real_->HidD_GetProductString(handle, buffer, length);
  }

 private:
  std::unique_ptr<DeviceApi> real_;
  const FakeRun& run_;
  Log& log_;
};

// A line of fake_console.txt with its escapes filled in: \r, \n and \xHH,
// and {NAME} for the text of a "name" line.
std::string Expand(const std::string& line, const std::map<std::string, std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line.compare(i, 2, "\\x") == 0) {
      out += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else if (line[i] == '\\') {
      out += line[++i] == 'r' ? '\r' : '\n';
    } else if (line[i] == '{') {
      const std::size_t end = line.find('}', i);
      out += names.at(line.substr(i + 1, end - i - 1));
      i = end;
    } else {
      out += line[i];
    }
  }
  return out;
}

// The runs of fake_console.txt: "name NAME TEXT" lines, then each "run NAME"
// and its settings, one "KEY VALUE" a line. A key that no run can take ends
// the program, so that no setting is left out unseen.
std::vector<FakeRun> ReadRuns() {
  const std::string keys =
      " type outputs write input reads read_error folder_reads_fail folder_reads_leave tree"
      " missing probe wrong throw log status ";
  std::ifstream file(HIDLIST_SOURCE_DIR "/tests/cases/fake_console.txt");
  std::map<std::string, std::string> names;
  std::vector<FakeRun> runs;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line.starts_with('#')) continue;
    const std::string text = Expand(line, names);
    const std::size_t space = text.find(' ');
    const std::string key = text.substr(0, space);
    const std::string value = space == std::string::npos ? "" : text.substr(space + 1);
    if (key == "name") {
      names[value.substr(0, value.find(' '))] = value.substr(value.find(' ') + 1);
    } else if (key == "run") {
      runs.emplace_back().name = value.substr(0, value.find(' '));
    } else if (keys.find(" " + key + " ") != std::string::npos && !runs.empty()) {
      runs.back().settings[key] = value;
    } else {
      throw std::runtime_error("fake_console.txt: " + line);
    }
  }
  return runs;
}

// How many descriptors this process holds.
std::size_t Descriptors() {
  const auto entries = std::filesystem::directory_iterator("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

class FakeConsoleRun : public testing::TestWithParam<FakeRun> {};

// A whole run, as the program makes it; it must leave no descriptor open.
TEST_P(FakeConsoleRun, GivesItsLogAndStatus) {
  const FakeRun& run = GetParam();
  // pattern.case's machine, under a folder whose name is as long as the run
  // says, to give device paths of any length; or an empty root.
  char top[] = "/tmp/hidlist-tree-XXXXXX";
  const std::string root =
      std::string(mkdtemp(top)) + "/" + std::string(run.Number("tree"), 'r') + "/";
  const std::string make_tree =
      HIDLIST_SOURCE_DIR "/tests/tree.sh " HIDLIST_SOURCE_DIR "/tests/cases/pattern.case " + root;
  const bool no_tree = run.Text("tree") == "none";
  EXPECT_EQ(std::system(("mkdir -p " + root + (no_tree ? "" : " && " + make_tree)).c_str()), 0);
  Log log;
  Devices devices(root, run, log);
  FakeConsole platform(run, log);
  ConsoleText console(platform);
  const std::size_t descriptors = Descriptors();
  folder_reads_fail = static_cast<int>(run.Number("folder_reads_fail"));
  folder_reads_leave = static_cast<int>(run.Number("folder_reads_leave"));
  EXPECT_EQ(RunGuarded(console, platform, [&] { RunListing(devices, console); }),
            static_cast<int>(run.Number("status")));
  folder_reads_fail = folder_reads_leave = 0;
  EXPECT_EQ(Descriptors(), descriptors) << "a descriptor was left open";
  std::string joined;  // the log's entries parted by '|'
  for (const std::string& entry : log) joined += (joined.empty() ? "" : "|") + entry;
  EXPECT_EQ(joined, run.Text("log"));
  std::filesystem::remove_all(top);
}

INSTANTIATE_TEST_SUITE_P(Listing, FakeConsoleRun, testing::ValuesIn(ReadRuns()),
                         testing::PrintToStringParamName());

// The fatal report's eight digits and the listing's four are the counts the
// program passes; the rules for the others are HexDigits' own contract.
TEST(HexDigits, PadsUpTo32DigitsAndNeverCuts) {
  EXPECT_EQ(HexDigits(0x12345, 4), "12345");
  EXPECT_EQ(HexDigits(7, 32), std::string(31, '0') + "7");
  EXPECT_EQ(HexDigits(7, 33), "7");
}

}  // namespace
}  // namespace hidlist
