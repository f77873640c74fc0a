#include "console/console_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/fake_console.h"

namespace hidlist {
namespace {

using testing::FakeConsole;
using Writes = std::vector<std::string>;

void Line(ConsoleText& console, std::string_view text) {
  console.WriteText(text);
  console.WriteLine();
  console.CheckIo();
}

void Unit(ConsoleText& console, char16_t unit) {
  console.WriteWideUnit(unit);
  console.FlushIfDevice();
  console.CheckIo();
}

std::int32_t RaisedCode(ConsoleText& console) {
  try {
    console.CheckIo();
  } catch (const IoFailure& failure) {
    return failure.Code();
  }
  return 0;
}

TEST(ConsoleTextOutput, CharacterDeviceWritesEveryStatementAndEveryUnit) {
  FakeConsole platform;
  ConsoleText console(platform);
  // Nothing is opened or written before there is output.
  console.FlushIfDevice();
  console.FinishOutput();
  console.CheckIo();
  EXPECT_TRUE(platform.Calls.empty());

  console.WriteText("VID: ");
  console.WriteText(HexDigits(0x46D, 4));
  console.WriteLine();
  console.CheckIo();
  Unit(console, u'L');
  Unit(console, u'\u00E9');
  console.WriteLine();
  console.CheckIo();
  // A statement with no bytes (an empty string's line is only its line end).
  console.FlushIfDevice();
  console.CheckIo();
  EXPECT_EQ(platform.Output.Writes, (Writes{"VID: 046D\r\n", "L", "\xC3\xA9", "\r\n"}));
  // The handle is asked for and typed once, at the first write.
  EXPECT_EQ(platform.Calls[0], "GetStdHandle(-11)");
  EXPECT_EQ(platform.Calls[1], "GetFileType(out)");
  EXPECT_EQ(std::count(platform.Calls.begin(), platform.Calls.end(), "GetStdHandle(-11)"), 1);
}

TEST(ConsoleTextOutput, FileOrPipeIsWrittenIn128ByteBlocksAndAtTheEnd) {
  for (DWORD type : {FILE_TYPE_DISK, FILE_TYPE_PIPE}) {
    FakeConsole platform;
    platform.Output.FileType = type;
    ConsoleText console(platform);
    const std::string line(60, 'x');  // 62 bytes with CR LF
    Line(console, line);
    Line(console, line);
    EXPECT_TRUE(platform.Output.Writes.empty()) << "nothing before 128 bytes have collected";
    Line(console, line);  // 186 bytes in all
    ASSERT_EQ(platform.Output.Writes.size(), 1u);
    EXPECT_EQ(platform.Output.Writes[0].size(), 128u);
    Unit(console, u'a');
    console.FlushIfDevice();
    EXPECT_EQ(platform.Output.Writes.size(), 1u);
    console.FinishOutput();
    ASSERT_EQ(platform.Output.Writes.size(), 2u);
    EXPECT_EQ(platform.Output.Writes[1].size(), 186u + 1 - 128);
    EXPECT_EQ(platform.Output.Text(), line + "\r\n" + line + "\r\n" + line + "\r\na");
    // Finishing again has nothing left to write: no zero-length write.
    console.FinishOutput();
    EXPECT_EQ(platform.Output.Writes.size(), 2u);
  }
}

TEST(ConsoleTextOutput, TextLongerThanTheBufferIsWrittenInWholeBlocks) {
  FakeConsole platform;
  platform.Output.FileType = FILE_TYPE_DISK;
  ConsoleText console(platform);
  console.WriteText(std::string(300, 'y'));
  EXPECT_EQ(platform.Output.Writes, (Writes{std::string(128, 'y'), std::string(128, 'y')}));
  console.FinishOutput();
  EXPECT_EQ(platform.Output.Writes.back(), std::string(44, 'y'));
}

TEST(ConsoleTextOutput, OutputThatCannotBeOpenedRaises105AndIsTriedAgain) {
  FakeConsole platform;
  platform.Output.Handle = INVALID_HANDLE_VALUE;
  ConsoleText console(platform);
  console.WriteText("dropped");
  console.WriteLine();
  EXPECT_EQ(RaisedCode(console), 105);
  EXPECT_EQ(platform.Calls, (Writes{"GetStdHandle(-11)", "GetStdHandle(-11)"}));

  platform.Output.Handle = FakeConsole::OutputHandle;
  Line(console, "kept");
  EXPECT_EQ(platform.Output.Writes, (Writes{"kept\r\n"}));
}

TEST(ConsoleTextOutput, HandleOfUnknownTypeIsClosedOnceThoughTheOpenIsTriedAgain) {
  FakeConsole platform;
  platform.Output.FileType = FILE_TYPE_UNKNOWN;
  ConsoleText console(platform);
  console.WriteText("a");
  console.WriteLine();
  EXPECT_EQ(platform.Calls, (Writes{"GetStdHandle(-11)", "GetFileType(out)", "CloseHandle(out)",
                                    "GetStdHandle(-11)"}));
  try {
    console.CheckIo();
    FAIL() << "no failure raised";
  } catch (const IoFailure& failure) {
    EXPECT_EQ(failure.Code(), 105);
    EXPECT_EQ(failure.Message(), "I/O error 105");
    EXPECT_STREQ(IoFailure::ClassName, "EInOutError");
    EXPECT_NE(failure.Position(), nullptr);
  }
  // CheckIo clears what it raised.
  EXPECT_NO_THROW(console.CheckIo());
  console.WriteText("b");
  EXPECT_EQ(RaisedCode(console), 105);
  EXPECT_EQ(std::count(platform.Calls.begin(), platform.Calls.end(), "CloseHandle(out)"), 1);
  EXPECT_TRUE(platform.Output.Writes.empty());
}

TEST(ConsoleTextOutput, FailedWriteEmptiesTheBufferDropsTheRestAndRaisesItsCode) {
  FakeConsole platform;
  platform.Output.FileType = FILE_TYPE_PIPE;
  platform.Output.FailWriteAt = 0;
  platform.Output.WriteError = ERROR_NO_DATA;
  ConsoleText console(platform);
  console.WriteText(std::string(127, 'a') + "bc" + std::string(200, 'd'));
  // Only the first block was attempted; the rest of the call's text is gone.
  EXPECT_EQ(platform.Output.Writes.size(), 1u);
  EXPECT_EQ(console.PendingError(), 232);
  console.WriteLine();
  EXPECT_EQ(RaisedCode(console), 232);
  console.FinishOutput();
  EXPECT_EQ(platform.Output.Writes, (Writes{"", "\r\n"}));
}

TEST(ConsoleTextOutput, UnitsAreConvertedOneByOneInTheNarrowCodePage) {
  FakeConsole platform;
  platform.CodePage = 1252;
  platform.Convert = [](char16_t unit) {
    if (unit == u'x') return std::string();  // a failed conversion writes nothing
    return unit < 0x80 ? std::string(1, static_cast<char>(unit)) : std::string("?");
  };
  ConsoleText console(platform);
  for (char16_t unit : std::u16string(u"Ax\U0001F600")) Unit(console, unit);
  EXPECT_EQ(platform.Output.Writes, (Writes{"A", "?", "?"}));
  EXPECT_EQ(platform.ConversionCodePages, (std::vector<UINT>(4, 1252)));
  EXPECT_EQ(platform.ConversionAreas, (std::vector<int>(4, 4095)));
}

TEST(IoErrorMessages, TableAndNumberedFallback) {
  EXPECT_EQ(IoErrorMessage(2), "File not found");
  EXPECT_EQ(IoErrorMessage(3), "Invalid filename");
  EXPECT_EQ(IoErrorMessage(4), "Too many open files");
  EXPECT_EQ(IoErrorMessage(5), "File access denied");
  EXPECT_EQ(IoErrorMessage(100), "Read beyond end of file");
  EXPECT_EQ(IoErrorMessage(101), "Disk full");
  EXPECT_EQ(IoErrorMessage(106), "Invalid numeric input");
  EXPECT_EQ(IoErrorMessage(112), "I/O error 112");
  EXPECT_EQ(IoErrorMessage(232), "I/O error 232");
  EXPECT_EQ(IoErrorMessage(-1), "I/O error -1");
  EXPECT_EQ(IoFailure(5, nullptr).Message(), "File access denied");
}

TEST(HexDigitsTest, PadsToTheDigitCountAndNeverCuts) {
  EXPECT_EQ(HexDigits(0, 4), "0000");
  EXPECT_EQ(HexDigits(0xABC, 4), "0ABC");
  EXPECT_EQ(HexDigits(0, 0), "0");
  EXPECT_EQ(HexDigits(0x12345, 4), "12345");
  EXPECT_EQ(HexDigits(0xFFFFFFFFu, 2), "FFFFFFFF");
  EXPECT_EQ(HexDigits(0xab, 10), "00000000AB");
  EXPECT_EQ(HexDigits(1, 32), std::string(31, '0') + "1");
  EXPECT_EQ(HexDigits(1, 33), "1");
}

// --- Standard input ---

// What a ReadLine consumed shows in when the next one has to read again:
// each case gives the input in reads and the count of ReadFile calls after
// each of four ReadLine calls.
struct ReadCase {
  std::vector<std::string> chunks;
  std::vector<int> reads_after_each_line;
};

TEST(ConsoleTextInput, LineEndRules) {
  const ReadCase cases[] = {
      {{"abc\r\n", "x\n"}, {1, 2, 3, 3}},             // CR LF is one line end
      {{"abc\n", "x\n"}, {1, 2, 3, 3}},               // LF alone
      {{"ab\rcd\n", "x\n"}, {1, 2, 3, 3}},            // a lone CR does not end the line
      {{"a\r\rb\n", "x\n"}, {1, 2, 3, 3}},            // nor do two
      {{"ab\r", "\n", "x\n"}, {2, 3, 4, 4}},          // CR LF split across two reads
      {{"ab\r", "x\n", "y\n"}, {2, 3, 4, 4}},         // CR, then text in the next read
      {{"ab\r"}, {2, 2, 2, 2}},                       // CR at the end of input
      {{"abc"}, {2, 2, 2, 2}},                        // end of input without a line end
      {{}, {1, 1, 1, 1}},                             // no input at all
      {{"\n\n", "x"}, {1, 1, 3, 3}},                  // empty lines
      {{"first\r\nsecond\rx\nthird"}, {1, 1, 2, 2}},  // lines within one read
      {{std::string(300, 'z') + "\r", "\n", "x\n"}, {4, 5, 6, 6}},  // a line of several reads
      {{"ab\032cd\n"}, {1, 1, 1, 1}},  // Ctrl+Z ends the input and stays unread
      {{"a\r\032"}, {1, 1, 1, 1}},     // and ends a line after a CR
  };
  for (const ReadCase& test : cases) {
    FakeConsole platform;
    platform.InputChunks.assign(test.chunks.begin(), test.chunks.end());
    ConsoleText console(platform);
    std::vector<int> reads;
    for (int i = 0; i < 4; ++i) {
      console.ReadLine();
      console.CheckIo();
      reads.push_back(platform.ReadCalls);
    }
    EXPECT_EQ(reads, test.reads_after_each_line) << ::testing::PrintToString(test.chunks);
    EXPECT_EQ(platform.ReadSizes, std::vector<DWORD>(platform.ReadSizes.size(), 128));
    EXPECT_TRUE(platform.Output.Writes.empty());
  }
}

TEST(ConsoleTextInput, ReadFailures) {
  {  // A pipe whose writer has gone is the end of the input.
    FakeConsole platform;
    platform.InputChunks = {"no line end"};
    platform.ReadErrorAtEnd = ERROR_BROKEN_PIPE;
    ConsoleText console(platform);
    console.ReadLine();
    EXPECT_NO_THROW(console.CheckIo());
    console.ReadLine();
    EXPECT_EQ(platform.ReadCalls, 2);
  }
  {  // Any other failure raises its code.
    FakeConsole platform;
    platform.InputChunks = {"abc\r"};
    platform.ReadErrorAtEnd = ERROR_INVALID_FUNCTION;
    ConsoleText console(platform);
    console.ReadLine();
    EXPECT_EQ(RaisedCode(console), 1);
  }
  {  // No input stream at all.
    FakeConsole platform;
    platform.InputHandleGiven = INVALID_HANDLE_VALUE;
    ConsoleText console(platform);
    console.ReadLine();
    EXPECT_EQ(RaisedCode(console), 104);
    EXPECT_EQ(platform.Calls, (Writes{"GetStdHandle(-10)"}));
  }
  {  // A null input handle opens, untyped, and its read fails.
    FakeConsole platform;
    platform.InputHandleGiven = nullptr;
    ConsoleText console(platform);
    console.ReadLine();
    EXPECT_EQ(platform.Calls, (Writes{"GetStdHandle(-10)", "ReadFile(null,128)"}));
    EXPECT_EQ(RaisedCode(console), static_cast<std::int32_t>(ERROR_INVALID_HANDLE));
  }
}

}  // namespace
}  // namespace hidlist
