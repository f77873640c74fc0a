#include "console/fatal_report.h"

#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <typeinfo>

namespace hidlist {

namespace {

// A failure that left the run.
struct FatalFailure {
  std::string class_name;
  std::string message;
  const void* position = nullptr;  // where it arose; null when unknown
};

// The readable name of a type from the name the Itanium C++ ABI gives it, as
// GCC and Clang do, for the standard library's exceptions, the only others
// that can leave the run: St9bad_alloc is std::bad_alloc. Any other form is
// kept as it is.
std::string TypeName(const char* mangled) {
  std::string_view rest = mangled;
  if (!rest.starts_with("St")) return mangled;
  rest.remove_prefix(2);
  // The length, in decimal, then a name of exactly that length.
  const std::size_t digits = rest.find_first_not_of("0123456789");
  if (digits == std::string_view::npos ||
      std::to_string(rest.size() - digits) != rest.substr(0, digits)) {
    return mangled;
  }
  return "std::" + std::string(rest.substr(digits));
}

FatalFailure Describe(const IoFailure& failure) {
  return {IoFailure::ClassName, failure.Message(), failure.Position()};
}

void WriteAll(ConsolePlatform& platform, HANDLE handle, const char* bytes, std::size_t count) {
  DWORD written = 0;
  platform.WriteFile(handle, bytes, static_cast<DWORD>(count), &written);
}

// The report buffer holds 1023 characters and the NUL; longer reports are cut.
constexpr std::size_t ReportBufferSize = 1024;

std::string FormatFatalReport(const std::string& class_name, const std::string& module,
                              std::uint32_t offset, const std::string& message) {
  const char* full_stop = !message.empty() && message.back() != '.' ? "." : "";
  std::string report = "Exception " + class_name + " in module " + module + " at " +
                       HexDigits(offset, 8) + ".\r\n" + message + full_stop + "\r\n";
  // What a report buffer of ReportBufferSize bytes holds, its NUL included.
  if (report.size() >= ReportBufferSize) report.resize(ReportBufferSize - 1);
  return report;
}

// Writes out standard output's buffer, then the report and CR LF to standard
// error, and returns the exit status, 1.
int ReportFatal(FatalFailure failure, ConsoleText& console, ConsolePlatform& platform) {
  std::string report;
  for (;;) {
    const ModuleLocation module = platform.LocateModule(failure.position);
    report = FormatFatalReport(failure.class_name, module.name,
                               static_cast<std::uint32_t>(module.offset), failure.message);
    // Everything printed before the failure goes before the report. A failed
    // write-out empties the buffer, so the second pass has nothing to write.
    try {
      console.FlushOutput();
      console.CheckIo();
      break;
    } catch (const IoFailure& write_out_failure) {
      failure = Describe(write_out_failure);
    }
  }
  platform.CharToOemA(report.data());

  // Failures of the report's own writes cannot be reported anywhere; a
  // standard error that cannot be had fails them too.
  HANDLE error = platform.GetStdHandle(STD_ERROR_HANDLE);
  WriteAll(platform, error, report.data(), std::strlen(report.c_str()));
  WriteAll(platform, error, "\r\n", 2);
  return 1;
}

}  // namespace

int RunGuarded(ConsoleText& console, ConsolePlatform& platform, const std::function<void()>& run) {
  FatalFailure failure;
  try {
    run();
    // The last block is written out inside the handler, so that a failure
    // to write it is reported like any other rather than lost at exit.
    console.FlushOutput();
    console.CheckIo();
    return 0;
  } catch (const IoFailure& io_failure) {
    if (platform.IsDebuggerPresent()) throw;
    failure = Describe(io_failure);
  } catch (const std::exception& other) {
    if (platform.IsDebuggerPresent()) throw;
    failure = {TypeName(typeid(other).name()), other.what(), nullptr};
  } catch (...) {
    if (platform.IsDebuggerPresent()) throw;
    failure = {"Exception", "Unknown exception", nullptr};
  }
  return ReportFatal(std::move(failure), console, platform);
}

}  // namespace hidlist
