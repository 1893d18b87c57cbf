#include "boards/board_id.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vorlin {
namespace {

struct ids_case {
  std::uint32_t vid, pid;
  bool family;
  int hid_interface;
};

TEST(BoardIdentification, FamilyFilterAndHidSerialInterface) {
  const ids_case cases[] = {
      {0x16C0, 0x473, false, -1}, {0x16C0, 0x474, true, -1},  {0x16C0, 0x4D9, true, 1},
      {0x16C0, 0x4DA, false, -1}, {0x1FC9, 0x135, true, -1},  {0x1FC9, 0x136, false, -1},
      {0x1FC9, 0x483, false, -1}, {0x16C0, 0x4D1, true, 0},   {0x16C0, 0x4D4, true, 2},
      {0x16C0, 0x483, true, -1},  {0x16C0, 0x478, true, -1},  {0x1FC9, 0x486, false, -1},
      {0x16C0, 0x482, true, 2},   {0x16C0, 0x485, true, 1},   {0x16C0, 0x476, true, -1},
      {0x16C0, 0x4D5, true, -1},  {0x16C1, 0x482, false, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.vid << "/" << c.pid);
    EXPECT_EQ(is_family_device(c.vid, c.pid), c.family);
    EXPECT_EQ(hid_serial_interface(c.vid, c.pid), c.hid_interface);
  }
}

TEST(BoardIdentification, ModelIdFromRelease) {
  struct {
    std::uint32_t vid, pid, release, model;
  } const cases[] = {
      {0x16C0, 0x483, 0x275, 33}, {0x16C0, 0x483, 0x175, 0},  {0x16C0, 0x483, 0x675, 0},
      {0x16C0, 0x483, 0x573, 32}, {0x16C0, 0x4DF, 0x279, 36}, {0x16C0, 0x4E0, 0x279, 0},
      {0x16C0, 0x478, 0x274, 29}, {0x1FC9, 0x483, 0x275, 0},  {0x1FC9, 0x135, 0x279, 0},
      {0x16C0, 0x473, 0x279, 0},  {0x16C0, 0x474, 0x281, 38}, {0x16C0, 0x483, 0x27A, 0},
      {0x16C0, 0x485, 0x211, 0},  {0x16C0, 0x483, 0x380, 37},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.pid << " rev " << c.release);
    EXPECT_EQ(model_id_from_release(c.vid, c.pid, c.release), c.model);
  }
}

TEST(BoardIdentification, SerialNumberOfOrdinaryDevices) {
  struct {
    const char* text;
    std::uint32_t serial;
  } const cases[] = {
      {"12345670", 1234567},
      {"12345678", 12345678},
      {"1234567", 0},
      {"99999990", 9999999},
      {"99999991", 99999991},
      {"100000000", 100000000},
      {"10000000", 1000000},
      {"123450", 12345},
      {"12345", 0},
      {"4294967295", 0},
      {"99999999999", 0},
      {"0", 0},
      {"", 0},
      {"A123", 0},
      {"123A", 0},
      {"1234560B", 123456},
      {"4294967290", 4294967290u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(serial_number_from_string(c.text, 0x16C0, 0x483), c.serial);
  }
  EXPECT_EQ(serial_number_from_string(nullptr, 0x16C0, 0x483), 0u);
}

TEST(BoardIdentification, SerialNumberOfBootLoaderIsHexAndBootRomIsDecimal) {
  struct {
    const char* text;
    std::uint32_t bootloader, bootrom;
  } const cases[] = {
      {"1A2B", 0x1A2B, 0},
      {"FFFFFFFF", 0xFFFFFFFF, 0},
      {"123456789", 0xFFFFFFFF, 123456789},
      {"0", 0, 0},
      {"ffz", 0xFF, 0},
      {"", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(serial_number_from_string(c.text, 0x16C0, 0x478), c.bootloader);
    EXPECT_EQ(serial_number_from_string(c.text, 0x1FC9, 0x135), c.bootrom);
  }
}

}  // namespace
}  // namespace vorlin
