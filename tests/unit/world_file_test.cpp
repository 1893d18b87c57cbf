#include "platform/world/world_file.h"

#include <gtest/gtest.h>

#include <string>

namespace vorlin::world {
namespace {

const char* const example = R"(# Two boards on one hub
board serial
  usb 16C0:0483 rev 0279 serial 12345670
  port 14/1/3
  location-info Port_#0003.Hub_#0001
  com COM7
end
board rawhid            # a HID-only board
  usb 16c0:0x486 rev 280
  port 14/1/4
  location-info none
  hid 01 FFC9:0004
  hid 00 FFAB:0200 reports 16C0:0487 locked
  absent
end
board boot
  usb 16C0:0478 rev 0279 serial 001A2B3C
  port 14/1/3
  hid - FF9C:0024
  absent
end
cfgmgr missing-key
fault open_file call 3
at 1 plug rawhid
at 2.5 replace serial boot
loop 6
)";

TEST(WorldFile, ParsesBoardsTimelineAndSettings) {
  world_description d;
  std::string error;
  ASSERT_TRUE(parse_world_file(example, d, error)) << error;
  ASSERT_EQ(d.boards.size(), 3u);
  const board_spec& serial = d.boards[0].spec;
  EXPECT_EQ(serial.vid, 0x16C0);
  EXPECT_EQ(serial.pid, 0x483);
  EXPECT_EQ(serial.release, 0x279);
  EXPECT_EQ(serial.serial, "12345670");
  EXPECT_EQ(serial.usb_port, (std::vector<std::uint32_t>{0x14, 1, 3}));
  EXPECT_EQ(serial.location_information, std::optional<std::string>("Port_#0003.Hub_#0001"));
  EXPECT_EQ(serial.com_port, std::optional<std::string>("COM7"));
  EXPECT_TRUE(d.boards[0].present_at_start);

  const world_board& rawhid = d.boards[1];
  EXPECT_FALSE(rawhid.present_at_start);
  EXPECT_EQ(rawhid.spec.pid, 0x486);
  EXPECT_EQ(rawhid.spec.location_information, std::nullopt);
  ASSERT_EQ(rawhid.spec.hid.size(), 2u);
  EXPECT_EQ(rawhid.spec.hid[0].interface_number, 1);
  EXPECT_EQ(rawhid.spec.hid[0].usage_page, 0xFFC9);
  EXPECT_EQ(rawhid.spec.hid[0].usage, 4);
  EXPECT_FALSE(rawhid.spec.hid[1].openable);
  EXPECT_EQ(rawhid.spec.hid[1].reported_pid, std::optional<std::uint16_t>(0x487));
  EXPECT_EQ(d.boards[2].spec.hid[0].interface_number, -1);

  EXPECT_TRUE(d.cfgmgr.devnode_registry_property);
  EXPECT_FALSE(d.cfgmgr.open_devnode_key);
  ASSERT_EQ(d.faults.size(), 1u);
  EXPECT_EQ(d.faults[0].op, api_op::open_file);
  EXPECT_EQ(d.faults[0].call, 3u);
  ASSERT_EQ(d.timeline.size(), 2u);
  EXPECT_EQ(d.timeline[1].action, world_step::kind::replace);
  EXPECT_EQ(d.timeline[1].new_board, "boot");
  EXPECT_EQ(d.loop_seconds, std::optional<double>(6));
}

TEST(WorldFile, ErrorsNameTheLine) {
  struct {
    const char* text;
    const char* error;
  } const cases[] = {
      {"board a\n  usb 16C0\nend\n", "line 2: expected: usb VID:PID"},
      {"board a\nend\n", "line 2: board 'a' has no 'usb' line"},
      {"board a\n  usb 16C0:0483\n", "line 2: board 'a' has no 'end'"},
      {"\n\nfrobnicate\n", "line 3: unknown statement 'frobnicate'"},
      {"at 1 plug ghost\n", "line 1: unknown board 'ghost'"},
      {"board a\n usb 1:2\nend\nat 2 plug a\nat 1 unplug a\n", "line 5: timeline steps must"},
      {"board a\n usb 1:2\n port 1/zz\nend\n", "line 3: bad address 'zz'"},
      {"board a\n usb 10000:2\nend\n", "line 2: expected: usb"},
      {"fault nothing always\n", "line 1: unknown operation 'nothing'"},
      {"fault open_file call 0\n", "line 1: expected: fault"},
      {"loop -1\n", "line 1: expected: loop"},
      {"at nan plug a\n", "line 1: expected: at"},
      {"board a\n usb 1:2\nend\nboard a\n", "line 4: board 'a' is described twice"},
  };
  for (const auto& c : cases) {
    world_description d;
    std::string error;
    EXPECT_FALSE(parse_world_file(c.text, d, error)) << c.text;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << "got: " << error;
  }
}

TEST(WorldPlayer, ReplayAndReconcileKeepUnchangedBoardsNodes) {
  world_description d;
  std::string error;
  ASSERT_TRUE(parse_world_file(example, d, error)) << error;
  device_world world;
  world_player player(world, d);
  player.start();
  EXPECT_TRUE(player.is_plugged("serial"));
  EXPECT_FALSE(player.is_plugged("rawhid"));
  EXPECT_EQ(world.load_cfgmgr_functions().open_devnode_key, false);

  player.apply(d.timeline[0]);
  player.apply(d.timeline[1]);
  EXPECT_TRUE(player.is_plugged("rawhid"));
  EXPECT_FALSE(player.is_plugged("serial"));
  EXPECT_TRUE(player.is_plugged("boot"));
  const std::vector<devinst_t> before = world.children(world.system_node());

  // A newer description in which only "rawhid" is gone.
  world_description next = d;
  next.boards[1].present_at_start = false;
  next.boards[2].present_at_start = true;
  next.boards[0].present_at_start = false;
  player.reconcile(next);
  EXPECT_FALSE(player.is_plugged("rawhid"));
  EXPECT_TRUE(player.is_plugged("boot"));
  EXPECT_EQ(world.children(world.system_node()), before);
}

}  // namespace
}  // namespace vorlin::world
