#include "device_api/sysfs_parse.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hidlist {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs ToPairs(const std::vector<UeventEntry>& entries) {
  Pairs pairs;
  for (const UeventEntry& entry : entries) pairs.emplace_back(entry.Key, entry.Value);
  return pairs;
}

TEST(ParseUevent, SplitsLinesAtTheFirstEquals) {
  struct Case {
    std::string_view Text;
    Pairs Entries;
  };
  const Case cases[] = {
      {"", {}},
      {"\n\n", {}},
      {"DRIVER=hid-generic\nHID_ID=0003:0000046D:0000C52B\n",
       {{"DRIVER", "hid-generic"}, {"HID_ID", "0003:0000046D:0000C52B"}}},
      {"MAJOR=241\nMINOR=0\nDEVNAME=hidraw0",
       {{"MAJOR", "241"}, {"MINOR", "0"}, {"DEVNAME", "hidraw0"}}},
      {"HID_NAME=Vendor=Acme Pad=2\n", {{"HID_NAME", "Vendor=Acme Pad=2"}}},
      {"HID_UNIQ=\nHID_NAME==\n", {{"HID_UNIQ", ""}, {"HID_NAME", "="}}},
      {"no equals here\nA=1\n\nalso none\nB=2\n", {{"A", "1"}, {"B", "2"}}},
      {"=orphan\n", {{"", "orphan"}}},
      {"A=1\r\n", {{"A", "1\r"}}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(test.Text)));
    EXPECT_EQ(ToPairs(ParseUevent(test.Text)), test.Entries);
  }
}

TEST(FindUeventValue, FindsTheFirstLineWithExactlyThatKey) {
  const std::string_view text = "HID_IDX=1\nHID_ID=first\nHID_ID=second\nHID_NAME=\n";
  EXPECT_EQ(FindUeventValue(text, "HID_ID"), "first");
  EXPECT_EQ(FindUeventValue(text, "HID_NAME"), "");
  EXPECT_EQ(FindUeventValue(text, "HID"), std::nullopt);
  EXPECT_EQ(FindUeventValue(text, "DEVNAME"), std::nullopt);
  EXPECT_EQ(FindUeventValue("", "HID_ID"), std::nullopt);
}

TEST(ParseHidId, AcceptsThreeHexFieldsAndKeepsLow16BitsOfTheIds) {
  struct Case {
    std::string_view Text;
    std::optional<HidId> Id;
  };
  const Case cases[] = {
      {"0003:0000046D:0000C52B", HidId{0x0003, 0x046D, 0xC52B}},
      {"0005:0000046d:0000b01a", HidId{0x0005, 0x046D, 0xB01A}},
      {"18:4F3:3140", HidId{0x0018, 0x04F3, 0x3140}},
      {"0003:0001046D:FFFFC52B", HidId{0x0003, 0x046D, 0xC52B}},
      {"0000FFFF:00000000:00000000", HidId{0xFFFF, 0, 0}},
      {"00010003:0000046D:0000C52B", std::nullopt},  // bus beyond 16 bits
      {"", std::nullopt},
      {"0003:0000046D", std::nullopt},
      {"0003::0000C52B", std::nullopt},
      {":0000046D:0000C52B", std::nullopt},
      {"0003:0000046D:", std::nullopt},
      {"0003:0000046D:0000C52B:0", std::nullopt},
      {"0003:00000046D:0000C52B", std::nullopt},  // nine digits
      {"0003:0000046G:0000C52B", std::nullopt},
      {" 0003:0000046D:0000C52B", std::nullopt},
      {"0003:0000046D:0000C52B\n", std::nullopt},
      {"+3:0000046D:0000C52B", std::nullopt},
      {"0x3:0000046D:0000C52B", std::nullopt},
      {"-003:0000046D:0000C52B", std::nullopt},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(test.Text)));
    const std::optional<HidId> id = ParseHidId(test.Text);
    ASSERT_EQ(id.has_value(), test.Id.has_value());
    if (!id) continue;
    EXPECT_EQ(id->Bus, test.Id->Bus);
    EXPECT_EQ(id->Vendor, test.Id->Vendor);
    EXPECT_EQ(id->Product, test.Id->Product);
  }
}

TEST(ParseHexAttribute, ReadsSixteenBitHexWithOneOptionalNewline) {
  struct Case {
    std::string_view Text;
    std::optional<std::uint16_t> Value;
  };
  const Case cases[] = {
      {"0111\n", 0x0111},         {"0111", 0x0111},          {"1211\n", 0x1211},
      {"ffff\n", 0xFFFF},         {"FfFf", 0xFFFF},          {"0\n", 0},
      {"00000111\n", 0x0111},     {"10000\n", std::nullopt}, {"fffff", std::nullopt},
      {"", std::nullopt},         {"\n", std::nullopt},      {"0111\n\n", std::nullopt},
      {" 0111\n", std::nullopt},  {"0111 \n", std::nullopt}, {"0x11\n", std::nullopt},
      {"-1\n", std::nullopt},     {"+1\n", std::nullopt},    {"12g\n", std::nullopt},
      {"0111\r\n", std::nullopt},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(test.Text)));
    EXPECT_EQ(ParseHexAttribute(test.Text), test.Value);
  }
}

TEST(ParseHidrawNumber, TakesOnlyHidrawAndDigitsThatFit32Bits) {
  struct Case {
    std::string_view Name;
    std::optional<std::uint32_t> Number;
  };
  const Case cases[] = {
      {"hidraw0", 0u},
      {"hidraw10", 10u},
      {"hidraw01", 1u},
      {"hidraw4294967295", 4294967295u},
      {"hidraw4294967296", std::nullopt},
      {"hidraw", std::nullopt},
      {"hidraw-1", std::nullopt},
      {"hidraw+1", std::nullopt},
      {"hidraw1a", std::nullopt},
      {"hidraw 1", std::nullopt},
      {"Hidraw1", std::nullopt},
      {"xhidraw1", std::nullopt},
      {"hid", std::nullopt},
      {".", std::nullopt},
      {"..", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(test.Name)));
    EXPECT_EQ(ParseHidrawNumber(test.Name), test.Number);
  }
  EXPECT_EQ(ParseNumberedName("input23", "input"), 23u);
  EXPECT_EQ(ParseNumberedName("input", "input"), std::nullopt);
  EXPECT_EQ(ParseNumberedName("hidraw3", "input"), std::nullopt);
}

TEST(TrimOneNewline, DropsExactlyOneTrailingNewline) {
  EXPECT_EQ(TrimOneNewline("Logitech\n"), "Logitech");
  EXPECT_EQ(TrimOneNewline("Logitech"), "Logitech");
  EXPECT_EQ(TrimOneNewline("Logitech\n\n"), "Logitech\n");
  EXPECT_EQ(TrimOneNewline("Logitech\r\n"), "Logitech\r");
  EXPECT_EQ(TrimOneNewline("\n"), "");
  EXPECT_EQ(TrimOneNewline(""), "");
  EXPECT_EQ(TrimOneNewline("a\nb"), "a\nb");
}

}  // namespace
}  // namespace hidlist
