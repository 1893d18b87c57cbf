// Whole scans on device worlds, checked on what the port table hears.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "monitor/usb_monitor.h"
#include "platform/world/device_world.h"
#include "recording_sink.h"

namespace vorlin {
namespace {

using testing::recording_sink;
using testing::removed;
using testing::sink_call;
using testing::updated;
using world::api_op;
using world::board;
using world::board_spec;
using world::device_world;
using world::hid_function;

using calls = std::vector<sink_call>;

board_spec serial_board(std::vector<std::uint32_t> port, const char* com_port,
                        const char* serial = "12345670") {
  board_spec spec;
  spec.usb_port = std::move(port);
  if (com_port) spec.com_port = com_port;
  spec.serial = serial;
  spec.release = 0x0275;  // model 33
  spec.location_information = "Port_#" + std::to_string(spec.usb_port.back()) + ".Hub_#0001";
  return spec;
}

board_spec hid_board(std::vector<std::uint32_t> port) {
  board_spec spec = serial_board(std::move(port), nullptr, "7654320");
  spec.com_port.reset();
  spec.pid = 0x482;  // keyboard + serial emulation on interface 2
  spec.hid = {hid_function(0, 1, 6), hid_function(2, 0xFFC9, 4)};
  return spec;
}

board_spec boot_loader(std::vector<std::uint32_t> port, std::uint16_t usage_page = 0xFF9C) {
  board_spec spec = serial_board(std::move(port), nullptr, "1A2B");
  spec.com_port.reset();
  spec.pid = 0x478;
  spec.release = 0x0100;  // no model from the release: it comes from the HID usage
  spec.hid = {hid_function(-1, usage_page, 0x24)};
  return spec;
}

class Scan : public ::testing::Test {
 protected:
  Scan() { monitor.load_cfgmgr_functions(); }

  calls scan() {
    sink.calls.clear();
    monitor.scan_usb_devices();
    return sink.calls;
  }

  void TearDown() override {
    EXPECT_EQ(world.open_handles().total(), 0u) << "a scan leaked a handle";
    EXPECT_EQ(world.bad_releases(), 0u);
    EXPECT_EQ(world.missing_function_calls(), 0u);
  }

  device_world world;
  recording_sink sink;
  usb_monitor monitor{world, sink};
};

TEST_F(Scan, BoardPluggedThenIdleThenUnplugged) {
  const board b = world.plug_board(serial_board({0x14, 1, 3}, "COM3"));
  EXPECT_EQ(scan(), calls{updated("usb:0/14/1/3", "COM3", 33, "12345670")});
  EXPECT_EQ(scan(), calls{});
  world.unplug(b);
  EXPECT_EQ(scan(), calls{removed("usb:0/14/1/3")});
  EXPECT_EQ(monitor.devices(), nullptr);
}

TEST_F(Scan, BoardRestartingIntoTheBootLoaderIsRemovedThenAddedAtTheSamePort) {
  const board b = world.plug_board(serial_board({2, 5}, "COM3"));
  scan();
  world.unplug(b);
  const board loader = world.plug_board(boot_loader({2, 5}));
  EXPECT_EQ(scan(), (calls{removed("usb:0/2/5"),
                           updated("usb:0/2/5", loader.hid_paths[0], 0x24, "1A2B", 0xFF9C)}));

  // The model is known and there is a port: later scans open no HID device.
  world.reset_calls();
  EXPECT_EQ(scan(), calls{});
  EXPECT_EQ(world.calls(api_op::open_file), 0u);
}

TEST_F(Scan, TwoBoardsFoundInOneScanAreReportedNewestFirst) {
  world.plug_board(serial_board({1}, "COM3", "11111110"));
  world.plug_board(serial_board({2}, "COM4", "22222220"));
  EXPECT_EQ(scan(), (calls{updated("usb:0/2", "COM4", 33, "22222220"),
                           updated("usb:0/1", "COM3", 33, "11111110")}));
}

TEST_F(Scan, BoardWithoutPortIsReportedAgainOnceItsPortAppears) {
  const board b = world.plug_board(serial_board({1}, nullptr));
  EXPECT_EQ(scan(), calls{updated("usb:0/1", "[no_device]", 33, "12345670")});
  EXPECT_EQ(scan(), calls{}) << "reported once while nothing changes";

  // Its serial function appears as a new node: the node list changed.
  const devinst_t port =
      world.add_node(b.device, std::string(world::class_text::ports), std::nullopt);
  world.set_hardware_key(port, true);
  EXPECT_EQ(scan(), calls{updated("usb:0/1", "[no_device]", 33, "12345670")});
  // The node was there already; only its port name is new. The Ports pass, which keeps running
  // while the board has no port, finds it.
  world.set_registry_value(port, "PortName", world::reg_sz("COM5"));
  EXPECT_EQ(scan(), calls{updated("usb:0/1", "COM5", 33, "12345670")});
  EXPECT_EQ(scan(), calls{});
}

TEST_F(Scan, ChangedNodeListIsReportedAgainWithTheSamePort) {
  const board b = world.plug_board(serial_board({1}, "COM3"));
  scan();
  world.add_node(b.device, std::string(world::class_text::hid), std::nullopt);
  EXPECT_EQ(scan(), calls{updated("usb:0/1", "COM3", 33, "12345670")});
  EXPECT_EQ(scan(), calls{});
}

TEST_F(Scan, DevicePassWithoutItsSetRemovesAllAndFindsThemAnewNextTime) {
  world.plug_board(serial_board({1}, "COM3"));
  world.plug_board(hid_board({2}));
  scan();
  world.fail_once(api_op::get_class_devs);
  EXPECT_EQ(scan(), (calls{removed("usb:0/2"), removed("usb:0/1")}));
  EXPECT_EQ(scan().size(), 2u);
  EXPECT_EQ(sink.present.size(), 2u);
}

TEST(ScanWithoutConfigurationManager, FallsBackToLocationInformationAndThePortsPass) {
  device_world world;
  world.set_cfgmgr_functions({false, false});
  recording_sink sink;
  usb_monitor monitor(world, sink);
  monitor.load_cfgmgr_functions();
  board_spec spec = serial_board({1}, "COM3");
  spec.location_information = "Port #0001 Hub #0004";
  world.plug_board(spec);
  monitor.scan_usb_devices();
  EXPECT_EQ(sink.calls, calls{updated("Port_#0001_Hub_#0004", "COM3", 33, "12345670")});
  EXPECT_EQ(world.missing_function_calls(), 0u);
}

// ---- Which port a board gets ----

struct port_case {
  const char* name;
  // Builds the world and returns what the first scan must report.
  std::function<calls(device_world&)> build;
};

TEST(ScanPortChoice, EachKindOfBoardGetsItsPort) {
  const port_case cases[] = {
      {"HID serial interface at the table's number",
       [](device_world& w) {
         const board b = w.plug_board(hid_board({1}));
         return calls{updated("usb:0/1", b.hid_paths[1], 33, "7654320", 0xFFC9)};
       }},
      {"HID serial interface elsewhere: the HID pass opens all and takes the serial usage",
       [](device_world& w) {
         board_spec spec = hid_board({1});
         spec.pid = 0x4D0;  // table says interface 1
         spec.hid = {hid_function(0, 1, 2), hid_function(3, 0xFFC9, 4), hid_function(4, 1, 6)};
         const board b = w.plug_board(spec);
         return calls{updated("usb:0/1", b.hid_paths[1], 33, "7654320", 0xFFC9)};
       }},
      {"boot loader interface of another usage page is not taken",
       [](device_world& w) {
         w.plug_board(boot_loader({1}, 0xFF00));
         return calls{updated("usb:0/1", "[no_device]", 0, "1A2B")};
       }},
      {"boot-ROM pair takes its HID interface whatever the usage",
       [](device_world& w) {
         board_spec spec = boot_loader({1}, 0x0001);
         spec.vid = 0x1FC9;
         spec.pid = 0x135;
         const board b = w.plug_board(spec);
         return calls{updated("usb:0/1", b.hid_paths[0], 0, "1A2B", 0x0001)};
       }},
      {"a COM port found by the Ports pass replaces a HID path",
       [](device_world& w) {
         board_spec spec = hid_board({1});
         spec.com_port = "COM8";
         spec.com_port_interface = 1;
         w.plug_board(spec);
         return calls{updated("usb:0/1", "COM8", 33, "7654320", 0xFFC9)};
       }},
      {"HID device that cannot be opened",
       [](device_world& w) {
         board_spec spec = boot_loader({1});
         spec.hid[0].openable = false;
         w.plug_board(spec);
         return calls{updated("usb:0/1", "[no_device]", 0, "1A2B")};
       }},
      {"HID device reporting foreign ids is no candidate",
       [](device_world& w) {
         board_spec spec = boot_loader({1});
         spec.hid[0].reported_vid = 0x1234;
         w.plug_board(spec);
         return calls{updated("usb:0/1", "[no_device]", 0, "1A2B")};
       }},
      {"unknown product of the family vendor is still reported",
       [](device_world& w) {
         board_spec spec = serial_board({1}, "COM7");
         spec.pid = 0x500;
         w.plug_board(spec);
         return calls{updated("usb:0/1", "COM7", 0, "12345670")};
       }},
      {"other vendors are ignored",
       [](device_world& w) {
         board_spec spec = serial_board({1}, "COM7");
         spec.vid = 0x2341;
         w.plug_board(spec);
         return calls{};
       }},
      {"no serial number: the instance id gives no serial text",
       [](device_world& w) {
         w.plug_board(serial_board({1}, "COM3", ""));
         return calls{updated("usb:0/1", "COM3", 33, "")};
       }},
      {"serial text of 70 digits is cut to 63",
       [](device_world& w) {
         const std::string serial(70, 'A');
         w.plug_board(serial_board({1}, "COM3", serial.c_str()));
         return calls{updated("usb:0/1", "COM3", 33, serial.substr(0, 63))};
       }},
      {"interface path of exactly 200 characters is taken, 201 is not",
       [](device_world& w) {
         const std::string fits(135, '1');  // 26 + 135 + 39 characters
         const std::string too_long(136, '2');
         w.plug_board(serial_board({1}, "COM3", fits.c_str()));
         w.plug_board(serial_board({2}, "COM4", too_long.c_str()));
         return calls{updated("usb:0/1", "COM3", 33, fits.substr(0, 63))};
       }},
      {"hardware id whose product id differs from the path's makes no record",
       [](device_world& w) {
         const board b = w.plug_board(serial_board({1}, "COM3"));
         w.set_device_property(b.device, spdrp_hardwareid,
                               world::reg_multi_sz({"USB\\VID_16C0&PID_0484&REV_0275"}));
         return calls{};
       }},
      {"hardware id without a release makes no record; field names in any case",
       [](device_world& w) {
         const board b = w.plug_board(serial_board({1}, "COM3"));
         w.set_device_property(b.device, spdrp_hardwareid,
                               world::reg_multi_sz({"usb\\vid_16c0&pid_0483"}));
         const board c = w.plug_board(serial_board({2}, "COM4"));
         w.set_device_property(c.device, spdrp_hardwareid,
                               world::reg_multi_sz({"usb\\vid_16c0&pid_0483&rev_0275"}));
         return calls{updated("usb:0/2", "COM4", 33, "12345670")};
       }},
      {"location information filling 200 bytes without zero is cut to 199",
       [](device_world& w) {
         w.set_cfgmgr_functions({false, true});
         const board b = w.plug_board(serial_board({1}, "COM3"));
         const std::string info(200, 'L');
         w.set_device_property(b.device, spdrp_location_information, info);
         return calls{updated(info.substr(0, 199), "COM3", 33, "12345670")};
       }},
      {"no location information and no path: USB_Device",
       [](device_world& w) {
         w.set_cfgmgr_functions({false, true});
         board_spec spec = serial_board({1}, "COM3");
         spec.location_information.reset();
         w.plug_board(spec);
         return calls{updated("USB_Device", "COM3", 33, "12345670")};
       }},
  };
  for (const port_case& c : cases) {
    device_world w;
    recording_sink sink;
    usb_monitor monitor(w, sink);
    const calls expected = c.build(w);
    monitor.load_cfgmgr_functions();
    monitor.scan_usb_devices();
    EXPECT_EQ(sink.calls, expected) << c.name;
    EXPECT_EQ(w.open_handles().total(), 0u) << c.name;
  }
}

// ---- Failures ----

// A world of every kind of board; its full view is what the port table must hold once scans
// run without failures.
class ScanFailure : public Scan {
 protected:
  ScanFailure() {
    serial = world.plug_board(serial_board({1}, "COM3"));
    hid = world.plug_board(hid_board({2}));
    loader = world.plug_board(boot_loader({3}));
    expected_view = {
        {"usb:0/1", "COM3"}, {"usb:0/2", hid.hid_paths[1]}, {"usb:0/3", loader.hid_paths[0]}};
  }
  board serial, hid, loader;
  std::map<std::string, std::string> expected_view;
};

TEST(ScanFailures, AnySingleFailureIsRepairedByTheNextScan) {
  // Releases are left out: a failing release changes nothing a scan can see.
  const api_op ops[] = {
      api_op::get_class_devs,
      api_op::enum_device_interfaces,
      api_op::enum_device_info,
      api_op::get_device_interface_detail,
      api_op::get_device_registry_property,
      api_op::open_dev_reg_key,
      api_op::query_value,
      api_op::get_parent,
      api_op::get_child,
      api_op::get_sibling,
      api_op::get_devnode_registry_property,
      api_op::open_devnode_key,
      api_op::hid_guid,
      api_op::open_file,
      api_op::hid_get_attributes,
      api_op::hid_get_preparsed_data,
      api_op::hid_get_caps,
  };
  for (bool known : {false, true}) {
    for (api_op op : ops) {
      for (std::uint32_t call = 1; call <= 4; ++call) {
        device_world w;
        w.plug_board(serial_board({1}, "COM3"));
        const board h = w.plug_board(hid_board({2}));
        const board l = w.plug_board(boot_loader({3}));
        recording_sink s;
        usb_monitor m(w, s);
        m.load_cfgmgr_functions();
        if (known) m.scan_usb_devices();  // the failure hits boards already known
        w.fail_on_call(op, call);
        m.scan_usb_devices();
        w.clear_faults();
        m.scan_usb_devices();
        const std::map<std::string, std::string> view = {
            {"usb:0/1", "COM3"}, {"usb:0/2", h.hid_paths[1]}, {"usb:0/3", l.hid_paths[0]}};
        EXPECT_EQ(s.present, view)
            << world::api_op_name(op) << " call " << call << (known ? " after a first scan" : "");
        EXPECT_EQ(w.open_handles().total(), 0u) << world::api_op_name(op) << " call " << call;
      }
    }
  }
}

TEST_F(ScanFailure, EnumerationEndingEarlyRemovesTheBoardsAfterIt) {
  scan();
  world.fail_on_call(api_op::enum_device_interfaces, 2);
  EXPECT_EQ(scan(), (calls{removed("usb:0/3"), removed("usb:0/2")}));
  world.clear_faults();
  scan();
  EXPECT_EQ(sink.present, expected_view);
}

TEST_F(ScanFailure, UnreadableLocationInformationIsANewIdentityAtTheSameLocation) {
  scan();
  world.fail_on_call(api_op::get_device_registry_property, 1);  // the first board's
  const calls seen = scan();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], removed("usb:0/1"));
  EXPECT_EQ(seen[1], updated("usb:0/1", "COM3", 33, "12345670"));
  scan();
  EXPECT_EQ(sink.present, expected_view);
}

TEST_F(ScanFailure, BootLoaderThatCannotBeOpenedIsReportedWithoutPortThenWithIt) {
  world.fail_once(api_op::open_file);
  scan();
  EXPECT_EQ(sink.present["usb:0/3"], "[no_device]");
  EXPECT_EQ(scan(), calls{updated("usb:0/3", loader.hid_paths[0], 0x24, "1A2B", 0xFF9C)});
}

// ---- Cost of a scan ----

TEST_F(ScanFailure, IdleScanEnumeratesNoHidOrPortsDevicesAndOpensNothing) {
  scan();
  scan();
  world.reset_calls();
  EXPECT_EQ(scan(), calls{});
  EXPECT_EQ(world.calls(api_op::get_class_devs), 1u);
  EXPECT_EQ(world.calls(api_op::hid_guid), 0u);
  EXPECT_EQ(world.calls(api_op::enum_device_info), 0u);
  EXPECT_EQ(world.calls(api_op::open_file), 0u);
  EXPECT_EQ(world.calls(api_op::open_dev_reg_key), 0u);
  EXPECT_EQ(world.calls(api_op::get_device_registry_property), 3u) << "location information only";

  // A board that went is still removed in a scan in which nothing else happens.
  world.unplug(hid);
  world.reset_calls();
  EXPECT_EQ(scan(), calls{removed("usb:0/2")});
  EXPECT_EQ(world.calls(api_op::get_class_devs), 1u);
}

TEST_F(Scan, BoardWithoutPortKeepsTheHidAndPortsPassesRunning) {
  world.plug_board(serial_board({1}, nullptr));
  scan();
  for (int i = 0; i < 2; ++i) {
    world.reset_calls();
    EXPECT_EQ(scan(), calls{});
    EXPECT_EQ(world.calls(api_op::get_class_devs), 3u);
    EXPECT_EQ(world.calls(api_op::open_devnode_key), 0u) << "no port search in the device pass";
  }
}

TEST_F(Scan, InterfaceDetailBufferGrowsAndNeverShrinks) {
  const board short_path = world.plug_board(serial_board({1}, "COM3"));
  scan();
  EXPECT_EQ(monitor.interface_detail_capacity(), 4 + short_path.interface_path.size() + 1 + 1024);
  // Longer than the room left; the device pass then skips it for its length, after the read.
  const std::string long_serial(1500, '1');
  const board long_path = world.plug_board(serial_board({2}, "COM4", long_serial.c_str()));
  scan();
  const std::uint32_t grown = monitor.interface_detail_capacity();
  EXPECT_EQ(grown, 4 + long_path.interface_path.size() + 1 + 1024);
  world.unplug(long_path);
  scan();
  EXPECT_EQ(monitor.interface_detail_capacity(), grown);
}

}  // namespace
}  // namespace vorlin
