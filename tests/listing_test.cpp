// The listing and the console channel over a fake console, for what no real
// stream can show: the write pattern on a console, the order of the calls,
// failures in the middle of a statement. The devices are the Linux service
// over a case's tree, with the quirks of a Windows platform added where a
// tree cannot give them. The runs are data: tests/cases/fake_console.txt.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>

#include "console/fatal_report.h"
#include "device_api/device_api_linux.h"
#include "listing/listing.h"

// While not 0, folder reads fail with this error. The device layer linked into
// this program calls this readdir, named readdir64 where <dirent.h> renames it
// (64-bit file offsets on 32-bit Linux). The C library's readdir64 is its
// readdir wherever offsets are 64-bit.
static int folder_read_error = 0;
// While not 0, a folder read that succeeds leaves errno so, as POSIX lets it
// and the allocations between two reads.
static int folder_read_noise = 0;
extern "C" dirent* readdir(DIR* folder) {
  static void* const real = dlsym(RTLD_NEXT, sizeof(off_t) == 8 ? "readdir64" : "readdir");
  if (folder_read_error != 0) {
    errno = folder_read_error;
    return nullptr;
  }
  dirent* entry = reinterpret_cast<dirent* (*)(DIR*)>(real)(folder);
  if (entry != nullptr && folder_read_noise != 0) errno = folder_read_noise;
  return entry;
}

namespace hidlist {
namespace {

using Log = std::vector<std::string>;

const HANDLE Output = reinterpret_cast<HANDLE>(1);
const HANDLE Input = reinterpret_cast<HANDLE>(2);
const HANDLE Error = reinterpret_cast<HANDLE>(3);
const HANDLE OfUnknownType = reinterpret_cast<HANDLE>(4);

// Standard streams as a test sets them up.
struct Streams {
  DWORD output_type = FILE_TYPE_DISK;
  std::vector<HANDLE> outputs = {Output};  // GetStdHandle's answers in turn, the last repeated
  HANDLE input = Input;
  std::vector<std::string> reads = {"\r\n"};  // what each ReadFile gives, then nothing
  DWORD read_error = 0;                       // then this failure, when not 0
  std::map<int, DWORD> write_errors;          // the Nth write to standard output fails so
};

// A console over such streams. Everything that reaches them is logged in
// order: the bytes of each write to standard output, and marks for the rest
// ("<read>", "<close>", "<error>" and the bytes written there).
class FakeConsole final : public ConsolePlatform, public Streams {
 public:
  explicit FakeConsole(Log& log, const Streams& streams = {}) : Streams(streams), log_(log) {}

  HANDLE GetStdHandle(DWORD which) override {
    if (which == STD_INPUT_HANDLE) return input;
    if (which == STD_ERROR_HANDLE) return Error;
    return outputs[std::min(opens_++, outputs.size() - 1)];
  }
  DWORD GetFileType(HANDLE handle) override {
    return handle == Output ? output_type : FILE_TYPE_UNKNOWN;
  }
  BOOL CloseHandle(HANDLE) override {
    log_.push_back("<close>");
    return 1;
  }
  BOOL WriteFile(HANDLE handle, const void* bytes, DWORD count, DWORD* written) override {
    const std::string text(static_cast<const char*>(bytes), count);
    log_.push_back(handle == Error ? "<error>" + text : text);
    const auto failure = write_errors.find(handle == Error ? 0 : ++writes_);
    last_error_ = failure != write_errors.end() ? failure->second : 0;
    if (last_error_ == 0) *written = count;
    return last_error_ == 0;
  }
  BOOL ReadFile(HANDLE, void* buffer, DWORD size, DWORD* count) override {
    log_.push_back("<read>");
    *count = 0;
    if (reads_ == reads.size()) return (last_error_ = read_error) == 0;
    const std::string& chunk = reads[reads_++];
    *count = std::min<DWORD>(size, static_cast<DWORD>(chunk.size()));
    std::memcpy(buffer, chunk.data(), *count);
    return 1;
  }
  DWORD GetLastError() override { return last_error_; }
  UINT NarrowCodePage() override { return 20127; }
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
  Log& log_;
  std::size_t opens_ = 0;
  std::size_t reads_ = 0;
  int writes_ = 0;
  DWORD last_error_ = 0;
};

// The Linux device service over a tree, with what only a fake can give: an
// index whose interface is missing, a probe that reports another size or
// none, a failure of another kind. It logs the release of the set and of
// each device ("<destroy>", "<closed>").
class Devices final : public DeviceApi {
 public:
  Devices(const std::string& root, Log& log) : real_(OpenDeviceApiAt(root)), log_(log) {}

  std::set<DWORD> missing;
  std::map<DWORD, DWORD> probes;  // at an index, the size the probe reports (0: none)
  std::exception_ptr failure;     // when set, the attribute query throws it

  void HidD_GetHidGuid(GUID* guid) override { real_->HidD_GetHidGuid(guid); }
  HDEVINFO SetupDiGetClassDevsA(const GUID* guid, const char* enumerator, HWND parent,
                                DWORD flags) override {
    return real_->SetupDiGetClassDevsA(guid, enumerator, parent, flags);
  }
  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* info, const GUID* guid,
                                   DWORD index, SP_DEVICE_INTERFACE_DATA* data) override {
    index_ = index;
    return missing.count(index) == 0 &&
           real_->SetupDiEnumDeviceInterfaces(set, info, guid, index, data);
  }
  BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                        SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                                        DWORD* required, SP_DEVINFO_DATA* info) override {
    const auto probe = probes.find(index_);
    if (detail != nullptr || probe == probes.end()) {
      return real_->SetupDiGetDeviceInterfaceDetailA(set, data, detail, size, required, info);
    }
    if (probe->second != 0) *required = probe->second;
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
    if (failure) std::rethrow_exception(failure);
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
  Log& log_;
  DWORD index_ = 0;
};

// The machine of a case file, built in a folder of its own; a long folder
// name gives device paths longer than the detail record holds.
class Tree {
 public:
  explicit Tree(const std::string& case_name, std::size_t name_length = 0) {
    char folder[] = "/tmp/hidlist-tree-XXXXXX";
    top_ = mkdtemp(folder);
    root_ = top_ + "/" + std::string(name_length, 'r') + "/";
    Shell("mkdir -p '" + root_ +
          "' && " HIDLIST_SOURCE_DIR "/tests/tree.sh " HIDLIST_SOURCE_DIR "/tests/cases/" +
          case_name + " '" + root_ + "'");
  }
  ~Tree() { Shell("rm -rf '" + top_ + "'"); }
  const std::string& Root() const { return root_; }

 private:
  static void Shell(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0); }
  std::string top_;
  std::string root_;
};

// A whole run, as the program makes it: its exit status.
int RunOver(Devices& devices, FakeConsole& platform) {
  ConsoleText console(platform);
  return RunGuarded(console, platform, [&] { RunListing(devices, console); });
}

// The log in one text, its entries parted by '|'.
std::string Joined(const Log& log) {
  std::string text;
  for (const std::string& entry : log) text += (text.empty() ? "" : "|") + entry;
  return text;
}

// How many descriptors this process holds.
std::size_t Descriptors() {
  const auto entries = std::filesystem::directory_iterator("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

const std::string Prompt = "Press ENTER to return.........\r\n";
// The run of pattern.case on a console up to the wait, write by write.
const std::string Usb =
    "VID: 1209\r\n|A|b|\r\n|PID: 0001\r\n|\r\n|VersionNumber:0100\r\n|<closed>|";
const std::string Pad =
    "VID: 0810\r\n|\r\n|PID: 0101\r\n|P|a|d|\r\n|VersionNumber:0000\r\n|<closed>|";
const std::string OnAConsole = Usb + Pad + "<destroy>|" + Prompt;
// The same to a file or a pipe: a block of 128 bytes; the listing is 129.
const std::string ToAFile = "<closed>|<closed>|<destroy>|" +
                            ("VID: 1209\r\nAb\r\nPID: 0001\r\n\r\nVersionNumber:0100\r\n"
                             "VID: 0810\r\n\r\nPID: 0101\r\nPad\r\nVersionNumber:0000\r\n" +
                             Prompt)
                                .substr(0, 128);

// A text of fake_console.txt with its escapes and names filled in.
std::string Expand(const std::string& text) {
  const std::map<std::string, std::string> names = {
      {"console", OnAConsole}, {"file", ToAFile}, {"pad", Pad}, {"prompt", Prompt}};
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') {
      out += text[++i] == 'r' ? '\r' : '\n';
    } else if (text[i] == '{') {
      const std::size_t end = text.find('}', i);
      const std::string name = text.substr(i + 1, end - i - 1);
      if (name.starts_with("io ")) {
        out += "<error>Exception EInOutError in module hidlist at 00001234.\r\n" + name.substr(3) +
               "\r\n|<error>\r\n";
      } else if (name.starts_with("x*")) {
        out += std::string(std::stoul(name.substr(2)), 'x');
      } else {
        out += names.at(name);
      }
      i = end;
    } else {
      out += text[i];
    }
  }
  return out;
}

// One run of fake_console.txt.
struct FakeRun {
  std::string name;
  std::string tree = "0";
  std::set<DWORD> missing;
  std::map<DWORD, DWORD> probes;
  int folder_error = 0;
  int folder_noise = 0;
  std::exception_ptr failure;
  Streams streams;
  std::string log;
  int status = 0;
};

// How each key of fake_console.txt sets a run, from the rest of its line.
using Setting = void (*)(FakeRun&, const std::string&);
const std::map<std::string, Setting> Settings = {
    {"tree", [](FakeRun& r, const std::string& v) { r.tree = v; }},
    {"missing", [](FakeRun& r, const std::string& v) { r.missing.insert(std::stoul(v)); }},
    {"probe",
     [](FakeRun& r, const std::string& v) {
       r.probes[std::stoul(v)] = std::stoul(v.substr(v.find(' ')));
     }},
    {"folder_error", [](FakeRun& r, const std::string& v) { r.folder_error = std::stoi(v); }},
    {"folder_noise", [](FakeRun& r, const std::string& v) { r.folder_noise = std::stoi(v); }},
    {"throw",
     [](FakeRun& r, const std::string& v) {
       r.failure = v == "bad_alloc"
                       ? std::make_exception_ptr(std::bad_alloc())
                       : std::make_exception_ptr(std::runtime_error(Expand(v.substr(14))));
     }},
    {"type",
     [](FakeRun& r, const std::string& v) {
       r.streams.output_type = v == "char"   ? FILE_TYPE_CHAR
                               : v == "pipe" ? FILE_TYPE_PIPE
                                             : FILE_TYPE_DISK;
     }},
    {"outputs",
     [](FakeRun& r, const std::string& v) {
       std::istringstream words(v);
       r.streams.outputs.clear();
       for (std::string word; words >> word;)
         r.streams.outputs.push_back(word == "unknown" ? OfUnknownType : Output);
     }},
    {"write",
     [](FakeRun& r, const std::string& v) {
       r.streams.write_errors[std::stoi(v)] = std::stoul(v.substr(v.find(' ')));
     }},
    {"input", [](FakeRun& r, const std::string&) { r.streams.input = INVALID_HANDLE_VALUE; }},
    {"reads", [](FakeRun& r, const std::string&) { r.streams.reads.clear(); }},
    {"read_error", [](FakeRun& r, const std::string& v) { r.streams.read_error = std::stoul(v); }},
    {"log", [](FakeRun& r, const std::string& v) { r.log = Expand(v); }},
    {"status", [](FakeRun& r, const std::string& v) { r.status = std::stoi(v); }},
};

std::vector<FakeRun> ReadRuns() {
  std::ifstream file(HIDLIST_SOURCE_DIR "/tests/cases/fake_console.txt");
  std::vector<FakeRun> runs;
  for (std::string line; std::getline(file, line);) {
    const std::size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "run") {
      runs.emplace_back().name = rest;
    } else if (Settings.contains(key)) {
      Settings.at(key)(runs.back(), rest);
    } else if (!key.empty() && !key.starts_with('#')) {
      ADD_FAILURE() << "fake_console.txt: " << line;
    }
  }
  return runs;
}

TEST(Listing, RunsOverAFakeConsole) {
  const std::vector<FakeRun> runs = ReadRuns();
  ASSERT_FALSE(runs.empty()) << "no runs in fake_console.txt";
  for (const FakeRun& run : runs) {
    SCOPED_TRACE(run.name);
    std::optional<Tree> tree;
    if (run.tree != "none") tree.emplace("pattern.case", std::stoul(run.tree));
    Log log;
    Devices devices(tree ? tree->Root() : "/nonexistent/", log);
    devices.missing = run.missing;
    devices.probes = run.probes;
    devices.failure = run.failure;
    FakeConsole platform(log, run.streams);
    const std::size_t descriptors = Descriptors();
    folder_read_error = run.folder_error;
    folder_read_noise = run.folder_noise;
    EXPECT_EQ(RunOver(devices, platform), run.status);
    folder_read_error = folder_read_noise = 0;
    EXPECT_EQ(Descriptors(), descriptors) << "a descriptor was left open";
    EXPECT_EQ(Joined(log), run.log);
  }
}

TEST(Channel, ALineEndsAtLfAtCrLfOrAtTheEndOfInputAndCtrlZIsTheEnd) {
  const struct {
    std::vector<std::string> reads;
    std::vector<int> reads_after_each_line;  // of four ReadLine calls
  } cases[] = {
      {{"abc\r\n", "x\n"}, {1, 2, 3, 3}},
      {{"ab\rcd\n"}, {1, 2, 2, 2}},           // a lone CR does not end a line
      {{"ab\r", "\n", "x\n"}, {2, 3, 4, 4}},  // nor does it when its LF comes later
      {{"ab\r", "x\n"}, {2, 3, 3, 3}},
      {{"ab\r"}, {2, 2, 2, 2}},
      {{"\n\n", "x"}, {1, 1, 3, 3}},
      {{"a\x1A"
        "b\n",
        "c\n"},
       {1, 1, 1, 1}},
      {{}, {1, 1, 1, 1}},
  };
  for (const auto& test : cases) {
    Log log;
    FakeConsole platform(log);
    platform.reads = test.reads;
    ConsoleText console(platform);
    std::vector<int> counts;
    for (int line = 0; line < 4; ++line) {
      console.ReadLine();
      counts.push_back(static_cast<int>(log.size()));
    }
    EXPECT_EQ(counts, test.reads_after_each_line) << ::testing::PrintToString(test.reads);
  }
}

TEST(Channel, HexDigits) {
  EXPECT_EQ(HexDigits(0x12345, 4), "12345");
  EXPECT_EQ(HexDigits(7, 33), "7");
  EXPECT_EQ(HexDigits(7, 32), std::string(31, '0') + "7");
}

}  // namespace
}  // namespace hidlist
