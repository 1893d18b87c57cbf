#include "monitor/device_tree.h"

#include <cstdio>
#include <cstring>

#include "boards/board_id.h"
#include "monitor/fixed_text.h"
#include "monitor/id_parse.h"
#include "platform/scoped_handle.h"

namespace vorlin {

namespace {

// Reads a node's setup-class text into `text` (one unit more than the size given to the service,
// kept zero, so a value that fills the buffer without its terminator still ends) and parses it.
template <std::size_t Units>
bool read_node_class(device_api& api, devinst_t devinst, char16_t (&text)[Units], guid& out) {
  text[Units - 1] = 0;
  std::uint32_t size_bytes = (Units - 1) * sizeof(char16_t);
  if (api.get_devnode_registry_property(devinst, cm_drp_classguid, text, &size_bytes) != 0) {
    return false;
  }
  return string2guid(text, out);
}

// Writes with snprintf within the room left; the text is cut at the buffer's end. Returns the new
// length.
int append_address(char (&location)[location_size], int length, const char* format,
                   std::uint32_t address) {
  const int room = location_size - length;
  const int written = std::snprintf(location + length, static_cast<std::size_t>(room), format,
                                    static_cast<unsigned long>(address));
  if (written < 0) return length;
  return written < room ? length + written : location_size - 1;
}

}  // namespace

int usb_location_path(device_api& api, const cfgmgr_functions& cfgmgr, devinst_t devinst,
                      char (&location)[location_size]) {
  if (!cfgmgr.devnode_registry_property) return 0;
  char16_t class_text[65];  // 128 bytes for the service, plus a zero of our own
  guid node_class{};
  if (!read_node_class(api, devinst, class_text, node_class)) return 0;
  std::uint32_t address = 0;
  std::uint32_t size_bytes = sizeof address;
  if (api.get_devnode_registry_property(devinst, cm_drp_address, &address, &size_bytes) != 0) {
    return 0;
  }
  if (node_class == system_setup_class || node_class == computer_setup_class) {
    return append_address(location, 0, "usb:%lX", address);
  }
  devinst_t parent = 0;
  if (api.get_parent(parent, devinst) != 0) return 0;
  // Nothing is written until the top node is reached, so a failure above leaves the buffer as is.
  const int length = usb_location_path(api, cfgmgr, parent, location);
  if (length == 0) return 0;
  return append_address(location, length, "/%lX", address);
}

void collect_devinst_list(device_api& api, const cfgmgr_functions& cfgmgr, usb_device& record,
                          devinst_t devinst) {
  if (record.devinst_count >= max_devinst_count) return;
  const std::int32_t index = record.devinst_count;
  record.devinst_list[index] = devinst;
  guid node_class{};
  if (cfgmgr.devnode_registry_property) {
    char16_t class_text[513];  // 1024 bytes for the service, plus a zero of our own
    read_node_class(api, devinst, class_text, node_class);
  }
  record.classguid_list[index] = node_class;
  ++record.devinst_count;

  devinst_t child = 0;
  if (api.get_child(child, devinst) != 0) return;
  // Once the lists are full no further node is recorded, so the walk stops there.
  while (record.devinst_count < max_devinst_count) {
    collect_devinst_list(api, cfgmgr, record, child);
    if (api.get_sibling(child, child) != 0) break;
  }
}

void comport_from_devinst_list(device_api& api, const cfgmgr_functions& cfgmgr,
                               usb_device& record) {
  if (!cfgmgr.open_devnode_key) return;
  for (std::int32_t i = 0; i < record.devinst_count && i < max_devinst_count; ++i) {
    if (record.classguid_list[i] != ports_setup_class) continue;
    registry_key raw_key = invalid_registry_key;
    if (api.open_devnode_key(record.devinst_list[i], key_query_value, 0,
                             regdisposition_openexisting, raw_key, cm_registry_hardware) != 0) {
      continue;
    }
    scoped_registry_key key(api, raw_key);
    char port_name[128];
    std::uint32_t size_bytes = sizeof port_name;
    if (api.query_value(key.get(), "PortName", port_name, &size_bytes) != 0) continue;
    // The value need not end with a zero: take it up to its zero, within what was read.
    copy_text(record.port_name, port_name,
              size_bytes < sizeof port_name ? size_bytes : sizeof port_name);
    record.pending = 1;
    return;
  }
}

void hiddev_from_devinst_list(device_api& api, usb_device& record, int interface_number) {
  const guid hid_class = api.hid_guid();
  scoped_device_set set(api, api.get_class_devs(hid_class, digcf_present | digcf_deviceinterface));
  if (!set) return;
  for (std::uint32_t index = 0;; ++index) {
    device_interface_data iface{};
    iface.size_bytes = device_interface_data_size_field;
    if (!api.enum_device_interfaces(set.get(), hid_class, index, iface)) break;

    char detail[2048];
    std::uint32_t required = 0;
    api.get_device_interface_detail(set.get(), iface, nullptr, 0, &required, nullptr);
    if (required > sizeof detail) continue;
    std::memset(detail, 0, sizeof detail);
    const std::uint32_t size_field = interface_detail_size_field;
    std::memcpy(detail, &size_field, sizeof size_field);
    device_info_data info{};
    info.size_bytes = device_info_data_size_field;
    if (!api.get_device_interface_detail(set.get(), iface, detail, sizeof detail, nullptr, &info)) {
      continue;
    }
    const char* path = detail + interface_detail_path_offset;
    // A path that fills the record without its zero is not a path.
    if (std::memchr(path, '\0', sizeof detail - interface_detail_path_offset) == nullptr) {
      continue;
    }

    bool ours = false;
    for (std::int32_t i = 0; i < record.devinst_count && i < max_devinst_count; ++i) {
      if (record.devinst_list[i] == info.dev_inst) ours = true;
    }
    if (!ours) continue;
    std::uint32_t number = 0;
    if (!find_hex_field(path, "&mi_", number, 2)) continue;
    // Every match is taken, so with two matching interfaces the later one wins.
    if (static_cast<int>(number) == interface_number) {
      copy_text(record.port_name, path);
      record.usage_page = hid_serial_usage_page;
      record.usage = hid_serial_usage;
      record.pending = 1;
    }
  }
}

}  // namespace vorlin
