#include "monitor/id_parse.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vorlin {
namespace {

constexpr std::uint32_t untouched = 0xDEADBEEF;

struct hex_case {
  const char* text;
  int digits;
  bool ok;
  std::uint32_t value;
};

TEST(IdParse, ParseHexDigitsReadsExactlyTheGivenCount) {
  const hex_case cases[] = {
      {"ffc9", 4, true, 0xFFC9},         {"16C0A", 4, true, 0x16C0},   // the 5th is not read
      {"0x12", 4, false, untouched},     {"12", 4, false, untouched},  // ends at the zero
      {"FFFFFFFF", 8, true, 0xFFFFFFFF}, {"", 1, false, untouched},     {" 1", 1, false, untouched},
      {"-1", 1, false, untouched},       {"\xC1", 1, false, untouched}, {"aB", 2, true, 0xAB},
  };
  for (const hex_case& c : cases) {
    std::uint32_t value = untouched;
    EXPECT_EQ(parse_hex_digits(c.text, value, c.digits), c.ok) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(IdParse, HexRunLength) {
  EXPECT_EQ(hex_run_length(""), 0u);
  EXPECT_EQ(hex_run_length("-12"), 0u);
  EXPECT_EQ(hex_run_length("08002BE10318}"), 12u);
  EXPECT_EQ(hex_run_length("abcdefg"), 6u);
}

struct field_case {
  const char* text;
  const char* name;
  int digits;
  bool ok;
  std::uint32_t value;
  const char* rest;  // expected remainder of the text, null when not found
};

TEST(IdParse, FindHexFieldTakesTheFirstOccurrenceFollowedByDigits) {
  const char* hardware_id = "USB\\VID_16C0&PID_0483&REV_0280";
  const field_case cases[] = {
      {hardware_id, "vid_", 4, true, 0x16C0, "&PID_0483&REV_0280"},
      {hardware_id, "rev_", 4, true, 0x280, ""},
      {hardware_id, "&mi_", 2, false, untouched, nullptr},
      {"hid#vid_16c0&pid_0482&mi_0z&mi_02#7", "&mi_", 2, true, 2, "#7"},
      {"hid#vid_16c0&pid_0482&MI_0A#", "&mi_", 2, true, 10, "#"},
      {"usb#vid_16c0&pid_04", "pid_", 4, false, untouched, nullptr},  // digits cut by the end
      {"usb#vid_16c0&pid_", "pid_", 4, false, untouched, nullptr},
      {"vid_vid_1FC9", "VID_", 4, true, 0x1FC9, ""},
      {"", "vid_", 4, false, untouched, nullptr},
  };
  for (const field_case& c : cases) {
    std::uint32_t value = untouched;
    const char* rest = "not set";
    EXPECT_EQ(find_hex_field(c.text, c.name, value, c.digits, &rest), c.ok) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
    if (c.rest == nullptr) {
      EXPECT_EQ(rest, nullptr) << c.text;
    } else {
      ASSERT_NE(rest, nullptr) << c.text;
      EXPECT_STREQ(rest, c.rest) << c.text;
    }
  }
}

const guid ports = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

TEST(IdParse, String2GuidAcceptsTheRegistryFormAndItsLooseVariants) {
  const char16_t* accepted[] = {
      u"{4D36E978-E325-11CE-BFC1-08002BE10318}",
      u"{4d36e978-e325-11ce-bfc1-08002be10318}",
      u"4D36E978-E325-11CE-BFC1-08002BE10318",
      u"  { {4D36E978-E325-11CE-BFC1-08002BE10318}",
      u"4D36E978_E325_11CE_BFC1_08002BE10318",  // any non-hex separator
      u"{4D36E978-E325-11CE-BFC1-08002BE10318}trailing text",
      // High bytes are dropped when narrowing: U+0134 becomes "4".
      u"{\u0134D36E978-E325-11CE-BFC1-08002BE10318}",
  };
  for (const char16_t* text : accepted) {
    guid g{};
    EXPECT_TRUE(string2guid(text, g));
    EXPECT_EQ(g, ports);
  }
  // The operating system's byte layout, little-endian integer fields.
  guid g{};
  ASSERT_TRUE(string2guid(accepted[0], g));
  const unsigned char expected[16] = {0x78, 0xE9, 0x36, 0x4D, 0x25, 0xE3, 0xCE, 0x11,
                                      0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18};
  EXPECT_EQ(std::memcmp(&g, expected, sizeof expected), 0);
}

TEST(IdParse, String2GuidRejectsWithAllZeroGuid) {
  const char16_t* rejected[] = {
      u"{4D36E978-E325-11CE-BFC1-08002BE103181}",  // 13 digits in the last group
      u"{4D36E978-E325-11CE-BFC1-08002BE1031}",    // 11
      u"{4D36E97-E325-11CE-BFC1-08002BE10318}",
      u"{4D36E978-E325-11CE-BFC-08002BE10318}",
      u"{4D36E978-E325-11CE-BFC1-08002BE1031",  // ends before the 36th character
      u"",
      u"{{  }",
      u"{4D36E978-E325-11CE-BFC1-08002BE1031G}",
  };
  for (const char16_t* text : rejected) {
    guid g = ports;
    EXPECT_FALSE(string2guid(text, g));
    EXPECT_EQ(g, guid{});
  }
}

TEST(IdParse, String2GuidJudgesOnlyTheFirst511Units) {
  const std::u16string digits = u"4D36E978-E325-11CE-BFC1-08002BE10318";
  const std::u16string fits = std::u16string(475, u' ') + digits;    // ends exactly at unit 511
  const std::u16string beyond = std::u16string(476, u' ') + digits;  // last digit is unit 512
  guid g{};
  EXPECT_TRUE(string2guid(fits.c_str(), g));
  EXPECT_FALSE(string2guid(beyond.c_str(), g));
}

}  // namespace
}  // namespace vorlin
