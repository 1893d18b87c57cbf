#include "monitor/usb_device_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace vorlin {
namespace {

usb_device* add_record(usb_device_list& list, devinst_t devinst, std::vector<devinst_t> nodes) {
  auto record = usb_device_list::create();
  record->devinst = devinst;
  for (devinst_t node : nodes) record->devinst_list[record->devinst_count++] = node;
  usb_device* raw = record.get();
  list.add(std::move(record));
  return raw;
}

std::vector<devinst_t> order(const usb_device_list& list) {
  std::vector<devinst_t> devinsts;
  for (const usb_device* r = list.head(); r; r = r->next.get()) devinsts.push_back(r->devinst);
  return devinsts;
}

TEST(UsbDeviceList, NewRecordsAreZeroAndGoToTheHead) {
  usb_device_list list;
  const auto fresh = usb_device_list::create();
  ASSERT_TRUE(fresh);
  EXPECT_STREQ(fresh->port_name, "");
  EXPECT_EQ(fresh->devinst_count, 0);
  EXPECT_EQ(fresh->pending, 0);
  add_record(list, 1, {});
  add_record(list, 2, {});
  EXPECT_EQ(order(list), (std::vector<devinst_t>{2, 1}));
}

TEST(UsbDeviceList, FromDevinstFindsTheNewestHolderWithinTheCount) {
  usb_device_list list;
  EXPECT_EQ(list.usb_device_from_devinst(5), nullptr);
  std::vector<devinst_t> full;
  for (devinst_t n = 100; n < 180; ++n) full.push_back(n);
  usb_device* older = add_record(list, 100, full);
  usb_device* newer = add_record(list, 7, {7, 8, 150});
  usb_device* empty = add_record(list, 9, {});
  empty->devinst_list[0] = 42;  // beyond its count of 0: not read

  EXPECT_EQ(list.usb_device_from_devinst(179), older);  // index 79
  EXPECT_EQ(list.usb_device_from_devinst(150), newer);  // held by both: the newer one
  EXPECT_EQ(list.usb_device_from_devinst(42), nullptr);
  EXPECT_EQ(list.usb_device_from_devinst(180), nullptr);
}

TEST(UsbDeviceList, RemovalKeepsTheListLinked) {
  usb_device_list list;
  for (devinst_t d = 1; d <= 5; ++d) add_record(list, d, {});
  // Remove the head, then two adjacent records in one walk, then the last.
  usb_device* previous = nullptr;
  for (usb_device* r = list.head(); r;) {
    if (r->devinst == 5 || r->devinst == 3 || r->devinst == 2) {
      r = list.remove(previous, *r);
    } else {
      previous = r;
      r = r->next.get();
    }
  }
  EXPECT_EQ(order(list), (std::vector<devinst_t>{4, 1}));
  list.remove(list.head(), *list.head()->next);
  EXPECT_EQ(order(list), (std::vector<devinst_t>{4}));
  EXPECT_EQ(list.head()->next, nullptr);
}

TEST(UsbDeviceRecord, HasPortOnlyForARealPortName) {
  const struct {
    const char* port_name;
    bool has_port;
  } cases[] = {
      {"", false},
      {"[no_device]", false},
      {"COM3", true},
      {"\\\\?\\hid#vid_16c0&pid_0482&mi_02#7&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
       true},
      {"[no_device]x", true},
  };
  for (const auto& c : cases) {
    usb_device record{};
    std::strcpy(record.port_name, c.port_name);
    EXPECT_EQ(usb_device_has_port(record), c.has_port) << c.port_name;
  }
}

TEST(UsbDeviceRecord, MatchesNeedsAllFourPartsExactly) {
  usb_device record{};
  record.devinst = 12;
  std::strcpy(record.device_path, "\\\\?\\usb#vid_16c0&pid_0483#123#{a5}");
  std::strcpy(record.location, "usb:0/1");
  std::strcpy(record.location_information, "Port_#0001.Hub_#0001");
  const char* path = record.device_path;
  const char* loc = record.location;
  const char* info = record.location_information;
  EXPECT_TRUE(usb_device_matches(record, 12, path, loc, info));
  EXPECT_FALSE(usb_device_matches(record, 13, path, loc, info));
  EXPECT_FALSE(usb_device_matches(record, 12, "\\\\?\\USB#VID_16C0&PID_0483#123#{A5}", loc, info));
  EXPECT_FALSE(usb_device_matches(record, 12, path, "usb:0/2", info));
  EXPECT_FALSE(usb_device_matches(record, 12, path, loc, "Port_#0001.Hub_#0002"));
}

}  // namespace
}  // namespace vorlin
