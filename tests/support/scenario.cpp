#include "scenario.h"

#include <array>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "host_view.h"
#include "monitor/usb_monitor.h"
#include "platform/world/device_world.h"
#include "ports/port_updates.h"
#include "protocol/command_loop.h"
#include "streams.h"

namespace vorlin::testing {
namespace {

using world::api_op;
using world::board_spec;
using world::hid_function;
using world::hid_spec;

// Reads the input one byte at a time; past the end every byte is 0, so any input is a whole
// scenario.
class byte_reader {
 public:
  byte_reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool at_end() const { return position_ >= size_; }
  unsigned next() { return position_ < size_ ? data_[position_++] : 0u; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// The desk's USB ports: two on the root hub, two behind a hub at address 3.
constexpr std::size_t slot_count = 4;
const std::vector<std::uint32_t> slot_ports[slot_count] = {{1}, {2}, {3, 1}, {3, 2}};
const char* const slot_addresses[slot_count] = {"usb:0/1", "usb:0/2", "usb:0/3/1", "usb:0/3/2"};

// What a board of each kind is; the variant picks its serial text, COM name, whether its port
// comes late, and for the boot loader and boot ROM (whose port is found only by opening their HID
// interface) whether that interface is held by another program or reports its usage only later.
//
// A board whose serial interface is found by its interface number is never given a locked
// interface or a usage other than the serial one: when the device pass's first search for its
// port fails (a transient fault), later scans look for the port only in the HID pass, which
// needs to open the interface and see the serial usage. Such a board then keeps "[no_device]"
// for as long as the interface is held, while a monitor started afresh would find the port.
struct variant_bits {
  explicit variant_bits(unsigned v)
      : serial(v & 1u),
        hid_locked(v & 2u),
        port_late(v & 4u),
        com_index((v >> 3) & 3u),
        spaced_location(v & 32u),
        wrong_usage(v & 64u) {}
  bool serial, hid_locked, port_late;
  unsigned com_index;
  bool spaced_location, wrong_usage;
};

constexpr unsigned kind_count = 11;

board_spec make_spec(unsigned kind, unsigned variant, std::size_t slot) {
  const variant_bits v(variant);
  board_spec spec;
  spec.usb_port = slot_ports[slot];
  spec.location_information = "Port_#000" + std::to_string(slot + 1) + ".Hub_#0001";
  if (v.spaced_location) spec.location_information = "Port 1 of hub " + std::to_string(slot);
  const std::string com = "COM" + std::to_string(3 + v.com_index + 4 * slot);
  switch (kind % kind_count) {
    case 0:  // a serial board: its device node is the COM port
      spec.pid = 0x483;
      spec.release = 0x279;
      spec.serial = v.serial ? "12345670" : "";
      spec.com_port = com;
      break;
    case 1:  // serial and MIDI: the COM port is interface 0 of a composite device
      spec.pid = 0x489;
      spec.release = 0x280;
      spec.serial = v.serial ? "4433221" : "";
      spec.com_port = com;
      spec.com_port_interface = 0;
      spec.hid.push_back(hid_function(2, 0xFF00, 1));
      break;
    case 2:  // raw HID: its serial emulation is HID interface 1
      spec.pid = 0x486;
      spec.release = 0x277;
      spec.serial = v.serial ? "98765430" : "";
      spec.hid.push_back(hid_function(0, 0xFFAB, 0x200));
      spec.hid.push_back(hid_function(1, 0xFFC9, 4));
      break;
    case 3:  // keyboard, with the serial emulation as interface 1
      spec.pid = 0x4D0;
      spec.release = 0x280;
      spec.hid.push_back(hid_function(1, 0xFFC9, 4));
      break;
    case 4:  // the boot loader: the model is its HID usage, the serial text is hexadecimal
      spec.pid = 0x478;
      spec.release = 0x105;
      spec.serial = v.serial ? "0012D687" : "";
      spec.hid.push_back(hid_function(-1, v.wrong_usage ? 0xFF00 : 0xFF9C, 0x24));
      spec.hid.back().openable = !v.hid_locked;
      break;
    case 5:  // the boot ROM: any HID usage is its port
      spec.vid = 0x1FC9;
      spec.pid = 0x135;
      spec.release = 0x100;
      spec.hid.push_back(hid_function(-1, 0xFF00, 1));
      spec.hid.back().openable = !v.hid_locked;
      break;
    case 6:  // an id the port table never offers
      spec.pid = 0x477;
      spec.com_port = com;
      break;
    case 7:  // the same product id offered or not, by its release number
      spec.pid = 0x476;
      spec.release = v.serial ? 0x9999 : 0x279;
      spec.com_port = com;
      break;
    case 8:  // the boot-ROM vendor with another product: watched, never has a port
      spec.vid = 0x1FC9;
      spec.pid = 0x100;
      break;
    case 9:  // another vendor: never watched
      spec.vid = 0x2341;
      spec.pid = 0x43;
      spec.com_port = com;
      break;
    default:  // a serial board without serial number or location information
      spec.pid = 0x483;
      spec.location_information.reset();
      spec.com_port = com;
      break;
  }
  return spec;
}

bool offered_to_host(const board_spec& spec) {
  if (spec.vid != 0x16C0 && spec.vid != 0x1FC9) return false;
  if (spec.vid != 0x16C0) return true;
  return spec.pid != 0x477 && !(spec.pid == 0x476 && spec.release == 0x9999);
}

struct slot_state {
  std::optional<world::board> plugged;
  board_spec spec;
  // A COM port that the board has but the world does not show yet.
  std::optional<std::string> withheld_com;
};

using port_map = std::map<std::string, std::string>;

port_map present_ports(port_table& table) {
  port_map ports;
  for (const port_entry& e : table.port_table_snapshot()) {
    if (e.present != 0) ports[e.address] = e.port_name;
  }
  return ports;
}

std::string describe(const port_map& ports) {
  std::string text = "{";
  for (const auto& [address, name] : ports) text += " " + address + "=" + name;
  return text + " }";
}

const std::set<std::string> service_event_kinds = {"hello",      "start", "stop", "quit",
                                                   "start_sync", "list",  "add",  "remove"};

class desk {
 public:
  desk() : updates_(state_), monitor_(world_, updates_) {
    monitor_.load_cfgmgr_functions();
    state_.initial_scan_gate.open();
  }

  service_state& state() { return state_; }
  world::device_world& world() { return world_; }

  void plug(std::size_t slot, unsigned kind, unsigned variant) {
    slot_state& s = slots_[slot];
    if (s.plugged) world_.unplug(*s.plugged);
    s.spec = make_spec(kind, variant, slot);
    s.withheld_com.reset();
    board_spec shown = s.spec;
    if (variant_bits(variant).port_late && shown.com_port) {
      s.withheld_com = shown.com_port;
      shown.com_port.reset();
    }
    s.plugged = world_.plug_board(shown);
  }

  void unplug(std::size_t slot) {
    slot_state& s = slots_[slot];
    if (s.plugged) world_.unplug(*s.plugged);
    s.plugged.reset();
    s.withheld_com.reset();
  }

  // The board's serial function shows up after the board itself, as when its driver is
  // installed late.
  void port_appears(std::size_t slot) {
    slot_state& s = slots_[slot];
    if (!s.plugged || !s.withheld_com) return;
    devinst_t node = s.plugged->device;
    if (s.spec.com_port_interface >= 0) {
      node = world_.add_node(node, std::string(world::class_text::ports), std::nullopt);
    } else {
      world_.set_class_text(node, std::string(world::class_text::ports));
    }
    world_.set_registry_value(node, "PortName", world::reg_sz(*s.withheld_com));
    s.withheld_com.reset();
  }

  // Another program lets go of the board's HID interfaces, and a board in the middle of
  // starting up takes the usage its firmware reports when it runs.
  void hid_settles(std::size_t slot) {
    slot_state& s = slots_[slot];
    if (!s.plugged) return;
    for (std::size_t i = 0; i < s.spec.hid.size() && i < s.plugged->hid_paths.size(); ++i) {
      hid_spec& h = s.spec.hid[i];
      if (h.usage_page == 0xFF00 && s.spec.pid == 0x478) h.usage_page = 0xFF9C;
      if (h.usage_page == 0xFFC9) h.usage = 4;
      h.openable = true;
      world::hid_device_info info;
      info.vendor_id = s.spec.vid;
      info.product_id = s.spec.pid;
      info.version_number = s.spec.release;
      info.usage_page = h.usage_page;
      info.usage = h.usage;
      world_.set_hid_device(s.plugged->hid_paths[i], info);
    }
  }

  void fault(unsigned op, unsigned mode, unsigned call) {
    const auto which = static_cast<api_op>(op % world::api_op_count);
    if (which == api_op::load_cfgmgr_functions) return;  // asked once, before the first scan
    // A release that fails leaves its handle open in the world's books whatever the caller does.
    if (which == api_op::destroy_device_info_list || which == api_op::close_key ||
        which == api_op::close_handle || which == api_op::hid_free_preparsed_data) {
      release_faulted_ = true;
    }
    if (mode % 3 == 0) {
      world_.fail_always(which);
    } else if (mode % 3 == 1) {
      world_.fail_once(which);
    } else {
      world_.fail_on_call(which, 1 + call % 16);
    }
    faulty_ = true;
  }

  void clear_faults() {
    world_.clear_faults();
    faulty_ = false;
  }

  // One scan, and the host reads what it wrote.
  std::string scan() {
    monitor_.scan_usb_devices();
    ++scans_;
    if (std::string failure = read_host_events(); !failure.empty()) return failure;
    const world::handle_counts open = world_.open_handles();
    if ((open.total() != 0 && !release_faulted_) || world_.bad_releases() != 0 ||
        world_.missing_function_calls() != 0) {
      return "scan " + std::to_string(scans_) + ": " + std::to_string(open.total()) +
             " handles left open, " + std::to_string(world_.bad_releases()) + " bad releases";
    }
    return faulty_ ? std::string() : check_against_world();
  }

  // The host sends one line through the real command loop.
  std::string command(const char* line) {
    std::string text = line;
    bool given = false;
    std::FILE* in = open_chunk_stream([&](std::string& chunk) {
      if (given) return false;
      given = true;
      chunk = text;
      return true;
    });
    command_loop(state_, in, [] { return false; });
    std::fclose(in);
    return read_host_events();
  }

  bool streaming() { return state_.sync_state.load() == SYNC_STREAMING; }

  std::string read_host_events() {
    std::string error;
    const auto events = decode_event_stream(output_.take(), &error);
    if (!error.empty()) return "the output is not a JSON stream: " + error;
    for (const host_event& event : events) {
      if (service_event_kinds.count(event.type) == 0) return "unknown event " + event.type;
      if (event.type == "start_sync") host_ = host_view();
      host_.apply(event);
    }
    return "";
  }

  // The table's present ports must be what a monitor that starts now finds in the world, at the
  // locations of the boards the world presents; a streaming host must see exactly them.
  std::string check_against_world() {
    const port_map table = present_ports(state_.table);
    std::set<std::string> expected_addresses;
    for (std::size_t i = 0; i < slot_count; ++i) {
      if (slots_[i].plugged && offered_to_host(slots_[i].spec)) {
        expected_addresses.insert(slot_addresses[i]);
      }
    }
    std::set<std::string> addresses;
    for (const auto& entry : table) addresses.insert(entry.first);
    const std::string where = "after scan " + std::to_string(scans_) + ": ";
    if (addresses != expected_addresses) return where + "table " + describe(table);

    port_map fresh;
    {
      output_capture ignored;
      service_state fresh_state(ignored.file());
      port_updates fresh_updates(fresh_state);
      usb_monitor fresh_monitor(world_, fresh_updates);
      fresh_monitor.load_cfgmgr_functions();
      fresh_monitor.scan_usb_devices();
      fresh = present_ports(fresh_state.table);
    }
    if (fresh != table) return where + "table " + describe(table) + ", fresh " + describe(fresh);

    if (streaming()) {
      output_capture listed;
      listed.take();
      event_writer writer(listed.file());
      writer.write_list_event(state_.table.port_table_snapshot());
      std::string error;
      const auto list = decode_event_stream(listed.take(), &error);
      std::map<std::string, std::string> table_view, host;
      for (const auto& port : list.at(0).body["ports"].items) {
        table_view[port["address"].text] = canonical_text(port);
      }
      for (const auto& [address, port] : host_.ports()) host[address] = canonical_text(port);
      if (host != table_view) return where + "the host's view differs from the table";
    }
    return "";
  }

 private:
  output_capture output_;
  service_state state_{output_.file()};
  world::device_world world_;
  port_updates updates_;
  usb_monitor monitor_;
  std::array<slot_state, slot_count> slots_;
  host_view host_;
  bool faulty_ = false;
  bool release_faulted_ = false;
  int scans_ = 0;
};

const char* const host_commands[] = {"STOP\n", "START_SYNC\n", "LIST\n", "START\n",
                                     "HELLO 1 \"host\"\n"};

}  // namespace

std::string run_scenario(const std::uint8_t* data, std::size_t size) {
  byte_reader input(data, size);
  desk d;
  std::string failure = d.command("START_SYNC\n");
  while (failure.empty() && !input.at_end()) {
    const unsigned op = input.next();
    const std::size_t slot = (op >> 4) % slot_count;
    switch (op % 12) {
      case 0:
      case 1:
      case 2: {
        // Plugging into a taken port re-enumerates it: the old identity goes and a new one
        // comes at the same location before the monitor looks.
        const unsigned kind = input.next();
        d.plug(slot, kind, input.next());
        break;
      }
      case 3:
        d.unplug(slot);
        break;
      case 4:
        d.port_appears(slot);
        break;
      case 5:
        d.hid_settles(slot);
        break;
      case 6: {
        const unsigned which = input.next();
        const unsigned mode = input.next();
        d.fault(which, mode, input.next());
        break;
      }
      case 7:
        d.clear_faults();
        break;
      case 8:
        failure = d.command(host_commands[(op >> 4) % 5]);
        break;
      default:
        failure = d.scan();
        break;
    }
  }
  if (failure.empty()) {
    d.clear_faults();
    failure = d.scan();
  }
  return failure;
}

std::string run_command_stream(const std::uint8_t* data, std::size_t size) {
  desk d;
  std::size_t position = 0;
  std::string failure;
  std::string all_output;
  // Before each line the world changes, from the line's own bytes, and the monitor scans.
  std::FILE* in = open_chunk_stream([&](std::string& chunk) {
    if (position >= size || !failure.empty()) return false;
    std::size_t end = position;
    while (end < size && data[end] != '\n') ++end;
    if (end < size) ++end;
    chunk.assign(reinterpret_cast<const char*>(data) + position, end - position);
    position = end;
    const auto first = static_cast<unsigned char>(chunk[0]);
    const std::size_t slot = first % slot_count;
    switch ((first / slot_count + chunk.size()) % 4) {
      case 0:
        d.plug(slot, first / 3, first / 7);
        break;
      case 1:
        d.unplug(slot);
        break;
      case 2:
        d.port_appears(slot);
        break;
      default:
        break;
    }
    failure = d.scan();
    return true;
  });
  command_loop(d.state(), in, [] { return false; });
  std::fclose(in);
  if (failure.empty()) failure = d.read_host_events();
  return failure;
}

}  // namespace vorlin::testing
