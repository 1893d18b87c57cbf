#include "monitor/usb_monitor.h"

#include <cstring>

#include "boards/board_id.h"
#include "monitor/device_tree.h"
#include "monitor/fixed_text.h"
#include "monitor/id_parse.h"
#include "platform/scoped_handle.h"

namespace vorlin {

namespace {

constexpr std::size_t longest_device_path = 200;
constexpr std::size_t longest_serial_text = 63;

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The serial text follows the product id in an interface path such as
// "\\?\usb#vid_16c0&pid_0483#12345670#{a5dcbf10-...}". A device without a serial number has an
// instance id there instead ("6&1a2b&0&3"), which the hex-only rule turns away.
void serial_text_from_path(const char* after_pid, char (&serial_text)[64]) {
  serial_text[0] = '\0';
  if (*after_pid != '#') return;
  const char* candidate = after_pid + 1;
  std::size_t length = 0;
  for (; candidate[length] != '\0' && candidate[length] != '#'; ++length) {
    if (!is_hex_digit(candidate[length])) return;
  }
  copy_text(serial_text, candidate, length < longest_serial_text ? length : longest_serial_text);
}

bool first_three_are_com(const char* text) {
  return std::strncmp(text, "COM", 3) == 0;
}

}  // namespace

void usb_monitor::scan_usb_devices() {
  for (usb_device* r = devices_.head(); r; r = r->next.get()) r->seen = 0;
  change_count_ = 0;
  device_pass();
  // Removals reach the port table before any addition, so a board that comes back at the same
  // port under a new identity is first removed and then added again.
  remove_unseen();
  if (nothing_new()) return;
  scan_hid_interfaces();
  // After the HID pass, so that a COM port found in the same scan replaces a HID path.
  scan_ports_class();
  report();
}

void usb_monitor::device_pass() {
  scoped_device_set set(
      api_, api_.get_class_devs(usb_device_interface_class, digcf_present | digcf_deviceinterface));
  if (!set) return;
  for (std::uint32_t index = 0;; ++index) {
    device_interface_data iface{};
    iface.size_bytes = device_interface_data_size_field;
    if (!api_.enum_device_interfaces(set.get(), usb_device_interface_class, index, iface)) break;
    device_info_data info{};
    info.size_bytes = device_info_data_size_field;
    if (!detail_.read_interface_detail(api_, set.get(), iface, info)) continue;

    std::uint32_t vid = 0;
    if (!find_hex_field(detail_.path(), "vid_", vid, 4)) continue;
    if (vid != family_vendor_id && vid != bootrom_vendor_id) continue;
    if (std::strlen(detail_.path()) > longest_device_path) continue;
    char device_path[longest_device_path + 1];
    copy_text(device_path, detail_.path());

    char location_information[200];
    if (api_.get_device_registry_property(set.get(), info, spdrp_location_information,
                                          location_information, sizeof location_information)) {
      // A value that fills all 200 bytes without its zero is cut to 199 characters.
      location_information[sizeof location_information - 1] = '\0';
      // The text may stand in for the location path, which never holds a space.
      for (char* c = location_information; *c; ++c) {
        if (*c == ' ') *c = '_';
      }
    } else {
      copy_text(location_information, "USB_Device");
    }

    char location[location_size] = {};
    if (usb_location_path(api_, cfgmgr_, info.dev_inst, location) == 0) {
      copy_text(location, location_information);
    }

    usb_device* match = devices_.head();
    while (match && !usb_device_matches(*match, info.dev_inst, device_path, location,
                                        location_information)) {
      match = match->next.get();
    }
    if (match) {
      update_usb_device(*match);
    } else {
      found_usb_device(set.get(), info, device_path, vid, location, location_information);
    }
  }
}

void usb_monitor::found_usb_device(device_set set, const device_info_data& info,
                                   const char* device_path, std::uint32_t vid, const char* location,
                                   const char* location_information) {
  char hardware_id[2048] = {};
  if (!api_.get_device_registry_property(set, info, spdrp_hardwareid, hardware_id,
                                         sizeof hardware_id)) {
    return;
  }
  // Only the first string counts; a list that fills the buffer without a zero is cut.
  hardware_id[sizeof hardware_id - 1] = '\0';

  std::uint32_t pid = 0;
  const char* after_pid = nullptr;
  if (!find_hex_field(device_path, "pid_", pid, 4, &after_pid)) return;
  char serial_text[64];
  serial_text_from_path(after_pid, serial_text);

  // The hardware id only confirms the path's ids and supplies the release number.
  std::uint32_t id_vid = 0, id_pid = 0, release = 0;
  if (!find_hex_field(hardware_id, "vid_", id_vid, 4) ||
      !find_hex_field(hardware_id, "pid_", id_pid, 4) || id_vid != vid || id_pid != pid) {
    return;
  }
  if (!find_hex_field(hardware_id, "rev_", release, 4)) return;

  std::unique_ptr<usb_device> created = usb_device_list::create();
  if (!created) return;
  usb_device& record = *created;
  copy_text(record.device_path, device_path);
  copy_text(record.serial_text, serial_text);
  record.pid = pid;
  record.bcd_device = release;
  record.vid = vid;
  record.serial_number = serial_number_from_string(record.serial_text, vid, pid);
  record.model_id = model_id_from_release(vid, pid, release);
  record.devinst = info.dev_inst;
  record.class_guid = info.class_guid;
  copy_text(record.location, location);
  copy_text(record.location_information, location_information);
  devices_.add(std::move(created));
  record.seen = 1;

  record.devinst_count = 0;
  collect_devinst_list(api_, cfgmgr_, record, record.devinst);
  search_port(record, true);
  record.pending = 1;
  ++change_count_;
}

void usb_monitor::update_usb_device(usb_device& record) {
  record.seen = 1;
  usb_device& fresh = *scratch_;
  fresh.devinst_count = 0;
  collect_devinst_list(api_, cfgmgr_, fresh, record.devinst);
  const auto count = static_cast<std::size_t>(fresh.devinst_count);
  const bool changed =
      fresh.devinst_count != record.devinst_count ||
      std::memcmp(fresh.devinst_list, record.devinst_list, count * sizeof(devinst_t)) != 0 ||
      std::memcmp(fresh.classguid_list, record.classguid_list, count * sizeof(guid)) != 0;
  if (!changed) return;
  record.devinst_count = fresh.devinst_count;
  std::memcpy(record.devinst_list, fresh.devinst_list, count * sizeof(devinst_t));
  std::memcpy(record.classguid_list, fresh.classguid_list, count * sizeof(guid));
  if (!usb_device_has_port(record)) search_port(record, false);
  record.pending = 1;
  ++change_count_;
}

// The first search for a port among the device's own nodes. A new boot-ROM device looks among
// its HID interfaces like the boot loader; a known one is left to the HID pass.
void usb_monitor::search_port(usb_device& record, bool boot_rom_uses_hid) {
  const int interface_number = hid_serial_interface(record.vid, record.pid);
  if (is_family_bootloader(record.vid, record.pid) ||
      (boot_rom_uses_hid && is_bootrom_pair(record.vid, record.pid))) {
    hiddev_from_devinst_list(api_, record, 0);
  } else if (interface_number >= 0) {
    hiddev_from_devinst_list(api_, record, interface_number);
  } else if (cfgmgr_.open_devnode_key) {
    comport_from_devinst_list(api_, cfgmgr_, record);
  }
}

void usb_monitor::remove_unseen() {
  usb_device* previous = nullptr;
  for (usb_device* record = devices_.head(); record;) {
    if (record->seen) {
      previous = record;
      record = record->next.get();
    } else {
      sink_.port_table_remove(record->location);
      record = devices_.remove(previous, *record);
    }
  }
}

bool usb_monitor::nothing_new() {
  for (const usb_device* r = devices_.head(); r; r = r->next.get()) {
    if (r->pending) ++change_count_;
    if (!usb_device_has_port(*r)) ++change_count_;
  }
  return change_count_ == 0;
}

void usb_monitor::scan_hid_interfaces() {
  const guid hid_class = api_.hid_guid();
  scoped_device_set set(api_,
                        api_.get_class_devs(hid_class, digcf_present | digcf_deviceinterface));
  if (!set) return;
  for (std::uint32_t index = 0;; ++index) {
    device_interface_data iface{};
    iface.size_bytes = device_interface_data_size_field;
    if (!api_.enum_device_interfaces(set.get(), hid_class, index, iface)) break;
    device_info_data info{};
    info.size_bytes = device_info_data_size_field;
    if (!detail_.read_interface_detail(api_, set.get(), iface, info)) continue;
    usb_device* record = devices_.usb_device_from_devinst(info.dev_inst);
    if (!record) continue;

    // Need test, on the record's own ids: a device without a port, or a boot loader whose model
    // is still unknown. Anything else is not opened, which keeps scans cheap.
    const bool record_is_boot_loader = is_family_bootloader(record->vid, record->pid);
    const bool needed =
        record_is_boot_loader ? record->model_id == 0 : !usb_device_has_port(*record);
    if (!needed) continue;

    scoped_file file(api_, api_.open_file(detail_.path(), hid_open_access, hid_open_share,
                                          hid_open_disposition, hid_open_flags));
    if (!file) continue;
    hid_attributes attributes{};
    attributes.size_bytes = hid_attributes_size_field;
    if (!api_.hid_get_attributes(file.get(), attributes)) continue;
    // Candidate test, on the ids the HID device itself reports.
    const std::uint32_t v = attributes.vendor_id;
    const std::uint32_t p = attributes.product_id;
    const bool serial_board = hid_serial_interface(v, p) >= 0;
    if (!serial_board && !is_family_bootloader(v, p) && !is_bootrom_pair(v, p)) continue;

    hid_caps caps{};
    {
      scoped_preparsed_data data(api_, api_.hid_get_preparsed_data(file.get()));
      if (!data) continue;
      if (!api_.hid_get_caps(data.get(), caps)) continue;
    }
    file.reset();

    if (serial_board && caps.usage_page == hid_serial_usage_page &&
        caps.usage == hid_serial_usage) {
      // the board's serial-emulation interface
    } else if (is_family_bootloader(v, p)) {
      if (caps.usage_page != bootloader_usage_page) continue;
      record->model_id = caps.usage;  // the boot loader tells its board's model as its usage
    } else if (!is_bootrom_pair(v, p)) {
      continue;
    }
    record->usage = caps.usage;
    record->pending = 1;
    record->usage_page = caps.usage_page;
    copy_text(record->port_name, detail_.path());
  }
}

void usb_monitor::scan_ports_class() {
  scoped_device_set set(api_, api_.get_class_devs(ports_setup_class, digcf_present));
  if (!set) return;
  for (std::uint32_t index = 0;; ++index) {
    device_info_data info{};
    info.size_bytes = device_info_data_size_field;
    if (!api_.enum_device_info(set.get(), index, info)) break;
    usb_device* record = devices_.usb_device_from_devinst(info.dev_inst);
    if (!record || first_three_are_com(record->port_name)) continue;
    scoped_registry_key key(api_, api_.open_dev_reg_key(set.get(), info, dics_flag_global, 0,
                                                        direg_dev, key_query_value));
    if (!key) continue;
    char port_name[512];
    std::uint32_t size_bytes = sizeof port_name;
    if (api_.query_value(key.get(), "PortName", port_name, &size_bytes) != 0) continue;
    // Taken up to its zero within the bytes read: a name that fills all 512 bytes without one
    // is kept whole, as port_name has room for it.
    copy_text(record->port_name, port_name,
              size_bytes < sizeof port_name ? size_bytes : sizeof port_name);
    record->pending = 1;
  }
}

void usb_monitor::report() {
  for (usb_device* record = devices_.head(); record; record = record->next.get()) {
    if (!record->pending) continue;
    if (record->port_name[0] == '\0') copy_text(record->port_name, "[no_device]");
    sink_.port_table_update(*record);
    record->pending = 0;
  }
}

}  // namespace vorlin
