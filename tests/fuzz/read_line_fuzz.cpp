// ConsoleText::ReadLine fed arbitrary bytes in arbitrary chunks by the fake
// console, against the line rules stated on their own: a line ends at an LF
// (so CR LF ends it too, and a lone CR does not); Ctrl+Z ends the input where
// it stands and is never consumed; so do an empty read and a broken pipe;
// any other failed read is the pending error, once. The reader reads only
// as far as the byte that decides each line, always asks for 128 bytes, and
// never reads again once the input has ended.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "console/console_text.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/fake_console.h"

namespace hidlist {
namespace {

constexpr unsigned char LineFeed = 10;
constexpr unsigned char EndOfFileMark = 26;

enum class Ending { EndOfInput, BrokenPipe, Failure };

struct Model {
  std::string Stream;                 // every chunk, joined
  std::vector<std::size_t> ReadEnds;  // where the stream stands after each read that gives bytes
  Ending End = Ending::EndOfInput;

  // The reads needed to have seen the stream's first `bytes` bytes.
  int ReadsCovering(std::size_t bytes) const {
    int reads = 0;
    while (bytes > 0 && ReadEnds[reads] < bytes) ++reads;
    return bytes == 0 ? 0 : reads + 1;
  }
};

void FuzzOne(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto end = static_cast<Ending>(input.ConsumeIntegralInRange(0, 2));
  DWORD failure = input.ConsumeIntegral<DWORD>();
  if (failure == ERROR_SUCCESS || failure == ERROR_BROKEN_PIPE) failure = ERROR_GEN_FAILURE;
  const int lines = input.ConsumeIntegralInRange(1, 12);

  testing::FakeConsole console;
  Model model;
  model.End = end;
  while (input.remaining_bytes() > 0) {
    const auto length = input.ConsumeIntegralInRange<std::size_t>(1, 400);
    std::string chunk = input.ConsumeBytesAsString(length);
    if (chunk.empty()) break;
    // The fake hands a chunk over in reads of at most 128 bytes.
    for (std::size_t at = 0; at < chunk.size(); at += ConsoleText::BufferSize) {
      const std::size_t piece = std::min(ConsoleText::BufferSize, chunk.size() - at);
      model.ReadEnds.push_back(model.Stream.size() + at + piece);
    }
    model.Stream += chunk;
    console.InputChunks.push_back(std::move(chunk));
  }
  const int dataReads = static_cast<int>(model.ReadEnds.size());
  if (end == Ending::BrokenPipe) console.ReadErrorAtEnd = ERROR_BROKEN_PIPE;
  if (end == Ending::Failure) console.ReadErrorAtEnd = failure;

  ConsoleText reader(console);
  std::size_t position = 0;
  bool ended = false;
  int expectedReads = 0;
  for (int line = 0; line < lines; ++line) {
    bool expectFailure = false;
    if (!ended) {
      std::size_t at = position;
      while (at < model.Stream.size() && static_cast<unsigned char>(model.Stream[at]) != LineFeed &&
             static_cast<unsigned char>(model.Stream[at]) != EndOfFileMark) {
        ++at;
      }
      if (at == model.Stream.size()) {
        // The whole rest is the line; the read after the last one ends it.
        expectedReads = dataReads + 1;
        position = at;
        if (end == Ending::Failure) {
          expectFailure = true;
        } else {
          ended = true;
        }
      } else {
        expectedReads = std::max(expectedReads, model.ReadsCovering(at + 1));
        if (static_cast<unsigned char>(model.Stream[at]) == EndOfFileMark) {
          ended = true;
          position = at;
        } else {
          position = at + 1;
        }
      }
    }

    reader.ReadLine();
    HIDLIST_FUZZ_CHECK(console.ReadCalls == expectedReads);
    try {
      reader.CheckIo();
      HIDLIST_FUZZ_CHECK(!expectFailure);
    } catch (const IoFailure& raised) {
      HIDLIST_FUZZ_CHECK(expectFailure);
      HIDLIST_FUZZ_CHECK(raised.Code() == static_cast<std::int32_t>(failure));
      // The run ends here, as the listing's does.
      break;
    }
  }
  for (DWORD asked : console.ReadSizes) HIDLIST_FUZZ_CHECK(asked == ConsoleText::BufferSize);
  HIDLIST_FUZZ_CHECK(console.Output.Writes.empty());
  // Input is opened once and never typed or closed.
  int opens = 0;
  for (const std::string& call : console.Calls) {
    if (call == "GetStdHandle(-10)") {
      ++opens;
    } else {
      HIDLIST_FUZZ_CHECK(call == "ReadFile(in,128)");
    }
  }
  HIDLIST_FUZZ_CHECK(opens == 1);
}

}  // namespace
}  // namespace hidlist

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hidlist::FuzzOne(data, size);
  return 0;
}
