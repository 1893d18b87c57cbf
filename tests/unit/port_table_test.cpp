#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "ports/port_updates.h"
#include "service_fixture.h"

namespace vorlin {
namespace {

using testing::make_device;
using testing::service_fixture;

TEST(PortTable, CopyBoundedCutsAndAlwaysTerminates) {
  struct {
    std::size_t length, kept;
  } const cases[] = {{1023, 1023}, {1024, 1023}, {2000, 1023}, {0, 0}, {5, 5}};
  for (const auto& c : cases) {
    char field[1024];
    std::memset(field, '#', sizeof field);
    const std::string text(c.length, 'a');
    copy_bounded(field, text.c_str(), sizeof field);
    EXPECT_EQ(std::string(field), std::string(c.kept, 'a'));
  }
}

TEST(PortTable, WallTimeFromFiletime) {
  const std::int64_t epoch_1970 = 116444736000000000;
  const wall_time just_after = wall_time_from_filetime(epoch_1970 + 1);
  EXPECT_EQ(just_after.seconds, 0);
  EXPECT_EQ(just_after.nanoseconds, 100);
  const wall_time later = wall_time_from_filetime(epoch_1970 + 17000000000000123);
  EXPECT_EQ(later.seconds, 1700000000);
  EXPECT_EQ(later.nanoseconds, 12300);
  wall_time now{};
  wall_clock_now(now);
  EXPECT_GT(now.seconds, 1700000000);
}

TEST(PortTable, SnapshotOfEmptyTableIsEmpty) {
  service_fixture f;
  EXPECT_TRUE(f.state.table.port_table_snapshot().empty());
}

class PortUpdates : public ::testing::Test {
 protected:
  service_fixture f;
  port_updates updates{f.state};

  port_snapshot snapshot() { return f.state.table.port_table_snapshot(); }
};

TEST_F(PortUpdates, NewLocationsAppendInOrderAndSnapshotKeepsEveryField) {
  updates.port_table_update(make_device("usb:0/2", "COM4", 0x16C0, 0x483, 0x279, 36, "12345670"));
  updates.port_table_update(make_device("usb:0/1", "[no_device]", 0x16C0, 0x486, 0, 0, ""));
  updates.port_table_remove("usb:0/2");
  const port_snapshot copies = snapshot();
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_STREQ(copies[0].address, "usb:0/2");
  EXPECT_STREQ(copies[0].port_name, "COM4");
  EXPECT_EQ(copies[0].present, 0);
  EXPECT_EQ(copies[0].model_id, 36u);
  EXPECT_EQ(copies[0].vid, 0x16C0u);
  EXPECT_EQ(copies[0].pid, 0x483u);
  EXPECT_EQ(copies[0].bcd_device, 0x279u);
  EXPECT_EQ(copies[0].serial_number, 1234567u);
  EXPECT_STREQ(copies[1].address, "usb:0/1");
  EXPECT_EQ(copies[1].present, 1);
  EXPECT_EQ(copies[1].model_id, 0u);
  EXPECT_EQ(copies[1].serial_number, 0u);
  EXPECT_EQ(copies[0].next, &copies[1]);
  EXPECT_EQ(copies[1].prev, &copies[0]);
  EXPECT_EQ(copies[1].next, nullptr);
}

TEST_F(PortUpdates, LaterUpdatesKeepNonZeroValuesAndAlwaysReplaceThePortName) {
  updates.port_table_update(make_device("usb:0/2", "COM4", 0x16C0, 0x483, 0x279, 36, "12345670"));
  updates.port_table_remove("usb:0/2");
  updates.port_table_update(make_device("usb:0/2", "[no_device]", 0, 0, 0, 0, "12345"));
  port_snapshot copies = snapshot();
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_STREQ(copies[0].port_name, "[no_device]");
  EXPECT_EQ(copies[0].present, 1);
  EXPECT_EQ(copies[0].model_id, 36u);
  EXPECT_EQ(copies[0].pid, 0x483u);
  EXPECT_EQ(copies[0].bcd_device, 0x279u);
  EXPECT_EQ(copies[0].serial_number, 1234567u);

  // A new model id replaces the old one; the serial number is decoded with the device's own ids.
  updates.port_table_update(make_device("usb:0/2", "\\\\?\\hid#x", 0x16C0, 0x478, 0, 30, "1A2B"));
  copies = snapshot();
  EXPECT_EQ(copies[0].model_id, 30u);
  EXPECT_EQ(copies[0].serial_number, 0x1A2Bu);
  EXPECT_EQ(copies[0].pid, 0x478u);
  EXPECT_EQ(copies[0].bcd_device, 0x279u);
}

TEST_F(PortUpdates, SkipRuleLeavesTheTableAsItWas) {
  updates.port_table_update(make_device("usb:0/5", "COM5", 0x16C0, 0x483, 0x279, 36));
  updates.port_table_remove("usb:0/5");
  struct {
    std::uint32_t vid, pid, release;
    bool recorded;
  } const cases[] = {
      {0x16C0, 0x477, 0x279, false}, {0x16C0, 0x477, 0, false},    {0x16C0, 0x476, 0x9999, false},
      {0x16C0, 0x476, 0x9998, true}, {0x1FC9, 0x477, 0x279, true},
  };
  for (const auto& c : cases) {
    updates.port_table_update(make_device("usb:0/5", "COM9", c.vid, c.pid, c.release));
    const port_snapshot copies = snapshot();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].present, c.recorded ? 1 : 0) << std::hex << c.pid << " " << c.release;
    EXPECT_STREQ(copies[0].port_name, c.recorded ? "COM9" : "COM5");
    updates.port_table_remove("usb:0/5");
  }
}

TEST_F(PortUpdates, LocationsDifferingInCaseAreTwoEntries) {
  updates.port_table_update(make_device("USB_Device_a", "COM1", 0x16C0, 0x483, 0));
  updates.port_table_update(make_device("USB_Device_A", "COM2", 0x16C0, 0x483, 0));
  EXPECT_EQ(snapshot().size(), 2u);
}

TEST_F(PortUpdates, EventsArePushedOnlyWhileStreaming) {
  const auto device = make_device("usb:0/7", "COM7", 0x16C0, 0x483, 0);
  for (int state : {SYNC_NONE, SYNC_IDLE, SYNC_POLLING, SYNC_QUIT}) {
    f.state.sync_state = state;
    updates.port_table_update(device);
    updates.port_table_remove("usb:0/7");
  }
  EXPECT_EQ(f.out.text(), "");

  f.state.sync_state = SYNC_STREAMING;
  updates.port_table_update(device);
  updates.port_table_update(device);  // an already present port is told again
  updates.port_table_remove("usb:0/7");
  updates.port_table_remove("usb:0/7");  // and so is a second removal
  updates.port_table_remove("usb:0/never");
  const std::string text = f.out.text();
  const std::string add_head = "{\n\"eventType\": \"add\",\n\"port\": {\n\"address\": \"usb:0/7\"";
  const std::string remove =
      "{\n\"eventType\": \"remove\",\n\"port\": {\n\"address\": \"usb:0/7\",\n"
      "\"protocol\": \"vorlin\"\n}\n}\n";
  ASSERT_EQ(text.rfind(add_head, 0), 0u) << text;
  const std::size_t second_add = text.find(add_head, 1);
  ASSERT_NE(second_add, std::string::npos);
  const std::size_t first_remove = text.find(remove);
  EXPECT_GT(first_remove, second_add);
  EXPECT_EQ(text.substr(first_remove), remove + remove);
}

// The monitor thread updates while the main thread lists: every snapshot is a consistent table
// and every event is whole. Run under ThreadSanitizer in CI.
TEST_F(PortUpdates, MonitorUpdatesWhileMainThreadTakesSnapshots) {
  f.state.sync_state = SYNC_STREAMING;
  constexpr int rounds = 2000;
  std::thread monitor([this] {
    for (int i = 0; i < rounds; ++i) {
      const std::string location = "usb:0/" + std::to_string(i % 7);
      updates.port_table_update(make_device(location.c_str(), "COM3", 0x16C0, 0x483, 0x279, 36));
      if (i % 3 == 0) updates.port_table_remove(location.c_str());
    }
  });
  std::size_t largest = 0;
  for (int i = 0; i < rounds / 4; ++i) {
    const port_snapshot copies = snapshot();
    largest = std::max(largest, copies.size());
    f.state.output.write_list_event(copies);
  }
  monitor.join();
  EXPECT_LE(largest, 7u);
  EXPECT_EQ(snapshot().size(), 7u);
}

}  // namespace
}  // namespace vorlin
