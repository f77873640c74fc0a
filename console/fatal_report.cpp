#include "console/fatal_report.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <exception>
#include <typeinfo>

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>

#include <cstdlib>
#endif

namespace hidlist {

namespace {

std::string DemangledName(const std::type_info& type) {
#if __has_include(<cxxabi.h>)
  int status = 0;
  char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  if (status == 0 && name != nullptr) {
    std::string text = name;
    std::free(name);
    return text;
  }
  std::free(name);
#endif
  return type.name();
}

FatalFailure Describe(const IoFailure& failure) {
  return {IoFailure::ClassName, failure.Message(), failure.Position()};
}

void WriteAll(ConsolePlatform& platform, HANDLE handle, const char* bytes, std::size_t count) {
  if (count == 0) return;
  DWORD written = 0;
  platform.WriteFile(handle, bytes, static_cast<DWORD>(count), &written);
}

}  // namespace

std::string FormatFatalReport(const std::string& class_name, const std::string& module,
                              std::uint32_t offset, const std::string& message) {
  const char* full_stop = !message.empty() && message.back() != '.' ? "." : "";
  char report[ReportBufferSize];
  const int length = std::snprintf(
      report, sizeof report, "Exception %s in module %s at %08" PRIX32 ".\r\n%s%s\r\n",
      class_name.c_str(), module.c_str(), offset, message.c_str(), full_stop);
  if (length < 0) return {};
  return std::string(report, std::strlen(report));
}

int ReportFatal(FatalFailure failure, ConsoleText& console, ConsolePlatform& platform) {
  std::string report;
  for (;;) {
    const ModuleLocation module = platform.LocateModule(failure.Position);
    report = FormatFatalReport(failure.ClassName, module.Name,
                               static_cast<std::uint32_t>(module.Offset), failure.Message);
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

  // Failures of the report's own writes cannot be reported anywhere.
  HANDLE error = platform.GetStdHandle(STD_ERROR_HANDLE);
  if (error != INVALID_HANDLE_VALUE && error != nullptr) {
    WriteAll(platform, error, report.data(), std::strlen(report.c_str()));
    WriteAll(platform, error, "\r\n", 2);
  }
  console.FinishOutput();
  return 1;
}

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
    failure = {DemangledName(typeid(other)), other.what(), nullptr};
  } catch (...) {
    if (platform.IsDebuggerPresent()) throw;
    failure = {"Exception", "Unknown exception", nullptr};
  }
  return ReportFatal(std::move(failure), console, platform);
}

}  // namespace hidlist
