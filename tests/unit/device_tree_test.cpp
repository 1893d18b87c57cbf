// Device-tree queries on small worlds: location paths, node lists, and the two port lookups.
#include "monitor/device_tree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/world/device_world.h"

namespace vorlin {
namespace {

using world::api_op;
using world::device_world;
namespace class_text = world::class_text;

constexpr cfgmgr_functions all_functions{true, true};

struct chain_node {
  std::optional<std::string> class_text;
  std::optional<std::uint32_t> address;
};

// Hangs the chain (top first) below the tree root and returns its last node.
devinst_t build_chain(device_world& w, const std::vector<chain_node>& chain) {
  devinst_t node = w.root();
  for (const chain_node& c : chain) node = w.add_node(node, c.class_text, c.address);
  return node;
}

struct path_case {
  const char* name;
  std::vector<chain_node> chain;
  const char* expected;  // null: no path
};

TEST(LocationPath, BuildsFromTheNearestSystemOrComputerNode) {
  const std::string sys = class_text::system;
  const std::string usb = class_text::usb;
  const path_case cases[] = {
      {"device below System node", {{sys, 0u}, {usb, 3u}}, "usb:0/3"},
      {"hubs in between, hex upper case",
       {{sys, 0u}, {usb, 0x14u}, {usb, 1u}, {usb, 26u}},
       "usb:0/14/1/1A"},
      {"nearest top node wins", {{sys, 7u}, {class_text::computer, 5u}, {usb, 0u}}, "usb:5/0"},
      {"device is itself a top node", {{sys, 0u}, {sys, 0xABCu}}, "usb:ABC"},
      {"largest address", {{sys, 0xFFFFFFFFu}, {usb, 0u}}, "usb:FFFFFFFF/0"},
      {"lower-case class text",
       {{"{4d36e97d-e325-11ce-bfc1-08002be10318}", 2u}, {usb, 1u}},
       "usb:2/1"},
      {"hub without address", {{sys, 0u}, {usb, std::nullopt}, {usb, 3u}}, nullptr},
      {"device without class", {{sys, 0u}, {std::nullopt, 3u}}, nullptr},
      {"hub class not a GUID", {{sys, 0u}, {"{not a guid}", 1u}, {usb, 3u}}, nullptr},
      {"top node without address", {{sys, std::nullopt}, {usb, 3u}}, nullptr},
      {"root reached without a top node", {{usb, 0u}, {usb, 3u}}, nullptr},
  };
  for (const path_case& c : cases) {
    device_world w;
    const devinst_t device = build_chain(w, c.chain);
    char location[location_size];
    std::memset(location, '#', sizeof location);
    const int length = usb_location_path(w, all_functions, device, location);
    if (c.expected) {
      EXPECT_STREQ(location, c.expected) << c.name;
      EXPECT_EQ(length, static_cast<int>(std::strlen(c.expected))) << c.name;
    } else {
      EXPECT_EQ(length, 0) << c.name;
      EXPECT_EQ(location[0], '#') << c.name << ": a failed path leaves the buffer alone";
    }
  }
}

TEST(LocationPath, LongPathIsCutAt239Characters) {
  device_world w;
  std::vector<chain_node> chain = {{std::string(class_text::system), 0u}};
  std::string full = "usb:0";
  for (int i = 0; i < 30; ++i) {
    chain.push_back({std::string(class_text::usb), 0xABCDEF12u});
    full += "/ABCDEF12";
  }
  const devinst_t device = build_chain(w, chain);
  char location[location_size];
  EXPECT_EQ(usb_location_path(w, all_functions, device, location), 239);
  EXPECT_EQ(std::string(location), full.substr(0, 239));
}

TEST(LocationPath, FailsWithoutThePropertyOperationOrWhenALinkFails) {
  device_world w;
  const devinst_t device = build_chain(w, {{std::string(class_text::system), 0u},
                                           {std::string(class_text::usb), 1u},
                                           {std::string(class_text::usb), 3u}});
  char location[location_size] = "untouched";
  EXPECT_EQ(usb_location_path(w, {false, true}, device, location), 0);
  EXPECT_EQ(w.calls(api_op::get_devnode_registry_property), 0u);

  const api_op links[] = {api_op::get_parent, api_op::get_devnode_registry_property};
  for (api_op op : links) {
    for (std::uint32_t call = 1; call <= 2; ++call) {
      w.fail_on_call(op, call);
      EXPECT_EQ(usb_location_path(w, all_functions, device, location), 0)
          << world::api_op_name(op) << " call " << call;
      EXPECT_STREQ(location, "untouched");
      w.clear_faults();
    }
  }
  EXPECT_EQ(usb_location_path(w, all_functions, device, location), 9);
  EXPECT_STREQ(location, "usb:0/1/3");
}

// Adds `count` nodes below `parent` in pre-order, nesting some deeply so that pre-order differs
// from breadth-first order; returns them in pre-order.
void add_subtree(device_world& w, devinst_t parent, int& count, int depth,
                 std::vector<devinst_t>& preorder) {
  for (int i = 0; i < 3 && count > 0; ++i) {
    --count;
    const devinst_t node = w.add_node(parent, std::string(class_text::hid), std::nullopt);
    preorder.push_back(node);
    if (depth < 4) add_subtree(w, node, count, depth + 1, preorder);
  }
}

TEST(CollectDevinstList, RecordsTheFirst80NodesInPreOrder) {
  device_world w;
  const devinst_t device = w.add_node(w.system_node(), std::string(class_text::usb), 1u);
  std::vector<devinst_t> expected = {device};
  int remaining = 99;
  while (remaining > 0) add_subtree(w, device, remaining, 0, expected);
  ASSERT_EQ(expected.size(), 100u);

  usb_device record{};
  collect_devinst_list(w, all_functions, record, device);
  ASSERT_EQ(record.devinst_count, 80);
  EXPECT_EQ(std::vector<devinst_t>(record.devinst_list, record.devinst_list + 80),
            std::vector<devinst_t>(expected.begin(), expected.begin() + 80));
  EXPECT_EQ(record.classguid_list[0],
            (guid{0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}}));

  // A full list takes nothing more.
  collect_devinst_list(w, all_functions, record, w.system_node());
  EXPECT_EQ(record.devinst_count, 80);
  EXPECT_EQ(record.devinst_list[79], expected[79]);
}

TEST(CollectDevinstList, UnreadableClassesAreZeroAndNodesStillListed) {
  device_world w;
  const devinst_t device = w.add_node(w.system_node(), std::string(class_text::usb), 1u);
  const devinst_t no_class = w.add_node(device, std::nullopt, std::nullopt);
  const devinst_t bad_class = w.add_node(device, std::string("COM3"), std::nullopt);
  const devinst_t ports = w.add_node(device, std::string(class_text::ports), std::nullopt);

  usb_device record{};
  collect_devinst_list(w, all_functions, record, device);
  ASSERT_EQ(record.devinst_count, 4);
  EXPECT_EQ(record.devinst_list[1], no_class);
  EXPECT_EQ(record.devinst_list[2], bad_class);
  EXPECT_EQ(record.classguid_list[1], guid{});
  EXPECT_EQ(record.classguid_list[2], guid{});
  EXPECT_EQ(record.classguid_list[3], ports_setup_class);

  // Without the property operation the nodes are still walked, every class zero.
  usb_device without{};
  collect_devinst_list(w, {false, true}, without, device);
  EXPECT_EQ(without.devinst_count, 4);
  EXPECT_EQ(without.classguid_list[3], guid{});

  usb_device leaf{};
  collect_devinst_list(w, all_functions, leaf, ports);
  EXPECT_EQ(leaf.devinst_count, 1);
}

class ComPortLookup : public ::testing::Test {
 protected:
  ComPortLookup() {
    device = w.add_node(w.system_node(), std::string(class_text::usb), 1u);
    first = w.add_node(device, std::string(class_text::ports), std::nullopt);
    second = w.add_node(device, std::string(class_text::ports), std::nullopt);
    w.set_registry_value(second, "PortName", world::reg_sz("COM9"));
  }
  usb_device& collected() {
    collect_devinst_list(w, all_functions, record, device);
    return record;
  }
  void TearDown() override {
    EXPECT_EQ(w.open_handles().keys, 0u);
    EXPECT_EQ(w.bad_releases(), 0u);
  }

  device_world w;
  devinst_t device = 0, first = 0, second = 0;
  usb_device record{};
};

TEST_F(ComPortLookup, FirstPortsNodeWithAPortNameWins) {
  w.set_hardware_key(first, true);  // a key without "PortName"
  comport_from_devinst_list(w, all_functions, collected());
  EXPECT_STREQ(record.port_name, "COM9");
  EXPECT_EQ(record.pending, 1);

  w.set_registry_value(first, "PortName", world::reg_sz("COM3"));
  usb_device again{};
  collect_devinst_list(w, all_functions, again, device);
  comport_from_devinst_list(w, all_functions, again);
  EXPECT_STREQ(again.port_name, "COM3");
}

TEST_F(ComPortLookup, NothingFoundLeavesTheRecordAlone) {
  w.set_registry_value(second, "PortName", std::string(129, 'C'));  // does not fit 128 bytes
  std::strcpy(collected().port_name, "[no_device]");
  comport_from_devinst_list(w, all_functions, record);
  EXPECT_STREQ(record.port_name, "[no_device]");
  EXPECT_EQ(record.pending, 0);

  w.set_registry_value(second, "PortName", world::reg_sz("COM9"));
  w.reset_calls();
  comport_from_devinst_list(w, {true, false}, record);
  EXPECT_STREQ(record.port_name, "[no_device]") << "no key operation, no lookup";
  EXPECT_EQ(w.calls(api_op::open_devnode_key), 0u);
}

TEST_F(ComPortLookup, PortNameFillingTheBufferWithoutZeroIsTerminated) {
  const std::string name = "COM" + std::string(125, '7');
  w.set_registry_value(second, "PortName", name);  // exactly 128 bytes, no terminator
  comport_from_devinst_list(w, all_functions, collected());
  EXPECT_EQ(std::string(record.port_name), name);
}

TEST_F(ComPortLookup, FailedKeyOrValueMovesOnToTheNextNode) {
  w.set_registry_value(first, "PortName", world::reg_sz("COM3"));
  for (api_op op : {api_op::open_devnode_key, api_op::query_value}) {
    usb_device r{};
    collect_devinst_list(w, all_functions, r, device);
    w.fail_once(op);
    comport_from_devinst_list(w, all_functions, r);
    EXPECT_STREQ(r.port_name, "COM9") << world::api_op_name(op);
  }
}

TEST(HidInterfaceLookup, MatchesTheInterfaceNumberAmongTheDevicesOwnInterfaces) {
  device_world w;
  world::board_spec spec;
  spec.pid = 0x482;
  spec.hid = {world::hid_function(0, 0xFFAB, 0x200), world::hid_function(2, 0xFFC9, 4),
              world::hid_function(2, 0xFFC9, 4), world::hid_function(10, 1, 6),
              world::hid_function(-1, 1, 2)};
  const world::board b = w.plug_board(spec);
  // Another board's interface 2 never counts for this one.
  world::board_spec other = spec;
  other.usb_port = {2};
  w.plug_board(other);

  usb_device record{};
  collect_devinst_list(w, all_functions, record, b.device);
  hiddev_from_devinst_list(w, record, 2);
  EXPECT_EQ(std::string(record.port_name), b.hid_paths[2]) << "the later of two matches";
  EXPECT_EQ(record.usage_page, 0xFFC9u);
  EXPECT_EQ(record.usage, 4u);
  EXPECT_EQ(record.pending, 1);

  usb_device upper{};
  collect_devinst_list(w, all_functions, upper, b.device);
  hiddev_from_devinst_list(w, upper, 10);
  EXPECT_EQ(std::string(upper.port_name), b.hid_paths[3]);  // "&mi_0a" is 10

  usb_device none{};
  collect_devinst_list(w, all_functions, none, b.device);
  hiddev_from_devinst_list(w, none, 5);
  hiddev_from_devinst_list(w, none, -1);  // a path without "&mi_" matches no number
  EXPECT_STREQ(none.port_name, "");
  EXPECT_EQ(none.pending, 0);
  EXPECT_EQ(w.open_handles().total(), 0u);
}

TEST(HidInterfaceLookup, SkipsInterfacesWhoseDetailIsTooLongOrFails) {
  device_world w;
  const devinst_t device = w.add_node(w.system_node(), std::string(class_text::usb), 1u);
  const devinst_t owner = w.add_node(device, std::string(class_text::hid), std::nullopt);
  const std::string too_long = "\\\\?\\hid#vid_16c0&pid_0482&mi_02#" + std::string(2040, 'x');
  const std::string fits = "\\\\?\\hid#vid_16c0&pid_0482&mi_02#7&1&0&0000";
  w.add_hid_interface(too_long, owner, {});
  w.add_hid_interface(fits, owner, {});

  usb_device record{};
  collect_devinst_list(w, all_functions, record, device);
  hiddev_from_devinst_list(w, record, 2);
  EXPECT_EQ(std::string(record.port_name), fits);

  usb_device failed{};
  collect_devinst_list(w, all_functions, failed, device);
  w.fail_always(api_op::get_device_interface_detail);
  hiddev_from_devinst_list(w, failed, 2);
  EXPECT_STREQ(failed.port_name, "");
  w.clear_faults();
  w.fail_once(api_op::get_class_devs);
  hiddev_from_devinst_list(w, failed, 2);
  EXPECT_STREQ(failed.port_name, "");
  EXPECT_EQ(w.open_handles().total(), 0u);
}

}  // namespace
}  // namespace vorlin
