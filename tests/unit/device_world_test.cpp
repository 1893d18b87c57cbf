// The device world must answer like the platform where the monitor depends on it: snapshots,
// size fields, buffer limits, handle ownership, and the faults tests inject.
#include "platform/world/device_world.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/scoped_handle.h"

namespace vorlin::world {
namespace {

// The interface paths of a set, read the way a caller of device_api does.
std::vector<std::string> interface_paths(device_api& api, device_set set, const guid& cls) {
  std::vector<std::string> paths;
  for (std::uint32_t index = 0;; ++index) {
    device_interface_data iface{};
    iface.size_bytes = device_interface_data_size_field;
    if (!api.enum_device_interfaces(set, cls, index, iface)) break;
    std::uint32_t required = 0;
    api.get_device_interface_detail(set, iface, nullptr, 0, &required, nullptr);
    std::vector<char> detail(required);
    const std::uint32_t size_field = interface_detail_size_field;
    std::memcpy(detail.data(), &size_field, sizeof size_field);
    device_info_data info{};
    info.size_bytes = device_info_data_size_field;
    if (api.get_device_interface_detail(set, iface, detail.data(), required, nullptr, &info)) {
      paths.emplace_back(detail.data() + interface_detail_path_offset);
    }
  }
  return paths;
}

TEST(DeviceWorld, SetsAreSnapshotsOfTheMomentTheyWereTaken) {
  device_world world;
  board_spec spec;
  spec.serial = "1234560";
  const board first = world.plug_board(spec);
  scoped_device_set set(world, world.get_class_devs(usb_device_interface_class, 0x12));
  ASSERT_TRUE(set);

  spec.serial = "7654320";
  spec.usb_port = {2};
  world.plug_board(spec);
  world.unplug(first);

  // The set still holds the unplugged board and not the new one; the gone device's properties
  // can no longer be read.
  EXPECT_EQ(interface_paths(world, set.get(), usb_device_interface_class),
            std::vector<std::string>{first.interface_path});
  device_info_data info{};
  info.size_bytes = device_info_data_size_field;
  ASSERT_TRUE(world.enum_device_info(set.get(), 0, info));
  char buffer[64];
  EXPECT_FALSE(world.get_device_registry_property(set.get(), info, spdrp_location_information,
                                                  buffer, sizeof buffer));
}

TEST(DeviceWorld, BoardBuilderLaysOutSingleAndCompositeDevices) {
  device_world world;
  board_spec serial;
  serial.usb_port = {0x14, 1, 3};
  serial.com_port = "COM7";
  const board s = world.plug_board(serial);
  EXPECT_EQ(s.port_node, s.device);  // a single-function serial board is itself the Ports node
  EXPECT_EQ(s.interface_path.rfind("\\\\?\\usb#vid_16c0&pid_0483#6&", 0), 0u);

  board_spec composite;
  composite.pid = 0x482;
  composite.serial = "12345670";
  composite.usb_port = {0x14, 1, 4};  // shares both hubs with the first board
  composite.hid = {hid_function(0, 0xFF9C, 1), hid_function(2, 0xFFC9, 4)};
  const board c = world.plug_board(composite);
  ASSERT_EQ(c.hid_paths.size(), 2u);
  EXPECT_NE(c.hid_paths[1].find("&mi_02#"), std::string::npos);
  EXPECT_EQ(c.interface_path,
            "\\\\?\\usb#vid_16c0&pid_0482#12345670#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");

  devinst_t hub = 0;
  ASSERT_EQ(world.get_parent(hub, s.device), 0u);
  devinst_t hub_of_c = 0;
  ASSERT_EQ(world.get_parent(hub_of_c, c.device), 0u);
  EXPECT_EQ(hub, hub_of_c);
  // Device node -> interface node -> HID node that owns the interface.
  devinst_t up = 0;
  ASSERT_EQ(world.get_parent(up, c.hid_nodes[1]), 0u);
  ASSERT_EQ(world.get_parent(up, up), 0u);
  EXPECT_EQ(up, c.device);

  scoped_device_set hid(world, world.get_class_devs(world.hid_guid(), 0x12));
  EXPECT_EQ(interface_paths(world, hid.get(), hid_interface_class), c.hid_paths);
}

TEST(DeviceWorld, DetailQueryReportsSizeAndChecksTheRecord) {
  device_world world;
  const board b = world.plug_board(board_spec{});
  scoped_device_set set(world, world.get_class_devs(usb_device_interface_class, 0x12));
  device_interface_data iface{};
  iface.size_bytes = device_interface_data_size_field;
  ASSERT_TRUE(world.enum_device_interfaces(set.get(), usb_device_interface_class, 0, iface));

  std::uint32_t required = 0;
  EXPECT_FALSE(world.get_device_interface_detail(set.get(), iface, nullptr, 0, &required, nullptr));
  EXPECT_EQ(required, 4 + b.interface_path.size() + 1);

  std::vector<char> detail(required, '\0');
  EXPECT_FALSE(world.get_device_interface_detail(set.get(), iface, detail.data(), required, nullptr,
                                                 nullptr))
      << "size field not set";
  const std::uint32_t size_field = interface_detail_size_field;
  std::memcpy(detail.data(), &size_field, sizeof size_field);
  EXPECT_FALSE(world.get_device_interface_detail(set.get(), iface, detail.data(), required - 1,
                                                 nullptr, nullptr))
      << "buffer one byte short";
  device_info_data info{};
  EXPECT_FALSE(
      world.get_device_interface_detail(set.get(), iface, detail.data(), required, nullptr, &info))
      << "device information size field not set";
  info.size_bytes = device_info_data_size_field;
  ASSERT_TRUE(
      world.get_device_interface_detail(set.get(), iface, detail.data(), required, nullptr, &info));
  EXPECT_EQ(std::string(detail.data() + 4), b.interface_path);
  EXPECT_EQ(info.dev_inst, b.device);
}

TEST(DeviceWorld, ValuesAreRawBytesAndMustFitTheBuffer) {
  device_world world;
  const devinst_t node = world.add_node(world.system_node(), std::string(class_text::ports), 5u);
  world.set_registry_value(node, "PortName", std::string("COM12"));  // no terminating zero
  registry_key key = invalid_registry_key;
  ASSERT_EQ(world.open_devnode_key(node, key_query_value, 0, regdisposition_openexisting, key,
                                   cm_registry_hardware),
            0u);
  scoped_registry_key owner(world, key);

  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  std::uint32_t size = sizeof buffer;
  ASSERT_EQ(world.query_value(key, "PortName", buffer, &size), 0);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::string(buffer, 6), "COM12x");
  size = 4;
  EXPECT_NE(world.query_value(key, "PortName", buffer, &size), 0);
  EXPECT_NE(world.query_value(key, "Other", buffer, &size), 0);

  // Class texts come back as UTF-16 with their zero; a buffer too small fails and tells the size.
  char16_t text[64];
  size = 10;
  EXPECT_NE(world.get_devnode_registry_property(node, cm_drp_classguid, text, &size), 0u);
  EXPECT_EQ(size, 78u);
  size = sizeof text;
  ASSERT_EQ(world.get_devnode_registry_property(node, cm_drp_classguid, text, &size), 0u);
  EXPECT_EQ(text[0], u'{');
  EXPECT_EQ(text[38], u'\0');
}

TEST(DeviceWorld, FaultsFailAlwaysOnceOrOnTheNthCallAndCallsAreCounted) {
  device_world world;
  devinst_t out = 0;
  const devinst_t child = world.system_node();

  world.fail_on_call(api_op::get_parent, 3);
  EXPECT_EQ(world.get_parent(out, child), 0u);
  EXPECT_EQ(world.get_parent(out, child), 0u);
  EXPECT_NE(world.get_parent(out, child), 0u);
  EXPECT_EQ(world.get_parent(out, child), 0u) << "an n-th call fault fires once";

  world.fail_once(api_op::get_parent);
  EXPECT_NE(world.get_parent(out, child), 0u);
  EXPECT_EQ(world.get_parent(out, child), 0u);

  world.fail_always(api_op::get_parent);
  EXPECT_NE(world.get_parent(out, child), 0u);
  EXPECT_NE(world.get_parent(out, child), 0u);
  world.clear_faults();
  EXPECT_EQ(world.get_parent(out, child), 0u);

  EXPECT_EQ(world.calls(api_op::get_parent), 9u);
  EXPECT_EQ(world.calls(api_op::get_child), 0u);
  world.fail_always(api_op::load_cfgmgr_functions);
  const cfgmgr_functions loaded = world.load_cfgmgr_functions();
  EXPECT_FALSE(loaded.devnode_registry_property || loaded.open_devnode_key);
}

TEST(DeviceWorld, TracksOpenHandlesAndBadReleases) {
  device_world world;
  board_spec spec;
  spec.pid = 0x478;
  spec.hid = {hid_function(-1, 0xFF9C, 0x24)};
  const board b = world.plug_board(spec);

  const device_set set = world.get_class_devs(world.hid_guid(), 0x12);
  const file_handle file = world.open_file(b.hid_paths[0].c_str(), hid_open_access, hid_open_share,
                                           hid_open_disposition, hid_open_flags);
  ASSERT_NE(file, invalid_file_handle);
  const preparsed_data data = world.hid_get_preparsed_data(file);
  hid_caps caps{};
  ASSERT_TRUE(world.hid_get_caps(data, caps));
  EXPECT_EQ(caps.usage_page, 0xFF9C);
  EXPECT_EQ(caps.usage, 0x24);
  EXPECT_EQ(world.open_handles().total(), 3u);

  world.hid_free_preparsed_data(data);
  world.close_handle(file);
  world.destroy_device_info_list(set);
  EXPECT_EQ(world.open_handles().total(), 0u);
  EXPECT_EQ(world.bad_releases(), 0u);
  world.close_handle(file);
  EXPECT_EQ(world.bad_releases(), 1u);

  world.set_hid_device(b.hid_paths[0], {0x16C0, 0x478, 0, 0xFF9C, 0x24, false});
  EXPECT_EQ(world.open_file(b.hid_paths[0].c_str(), 0, 0, 0, 0), invalid_file_handle);
}

TEST(DeviceWorld, MissingOptionalOperationsFailAndAreNoted) {
  device_world world;
  world.set_cfgmgr_functions({false, true});
  std::uint32_t address = 0;
  std::uint32_t size = sizeof address;
  EXPECT_NE(
      world.get_devnode_registry_property(world.system_node(), cm_drp_address, &address, &size),
      0u);
  EXPECT_EQ(world.missing_function_calls(), 1u);
}

TEST(DeviceWorld, OperationNamesRoundTrip) {
  for (std::size_t i = 0; i < api_op_count; ++i) {
    api_op op{};
    ASSERT_TRUE(api_op_from_name(api_op_name(static_cast<api_op>(i)), op));
    EXPECT_EQ(static_cast<std::size_t>(op), i);
  }
  api_op op{};
  EXPECT_FALSE(api_op_from_name("no_such_operation", op));
}

}  // namespace
}  // namespace vorlin::world
