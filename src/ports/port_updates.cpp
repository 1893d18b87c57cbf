#include "ports/port_updates.h"

#include "boards/board_id.h"
#include "monitor/usb_device.h"

namespace vorlin {
namespace {

// Family ids that are never offered to the host as a port: product 0x477 whatever its release,
// and product 0x476 with the release number 0x9999.
bool skipped_device(const usb_device& device) {
  if (device.vid != family_vendor_id) return false;
  return device.pid == 0x477 || (device.pid == 0x476 && device.bcd_device == 0x9999);
}

void keep_non_zero(std::uint32_t& field, std::uint32_t value) {
  if (value != 0) field = value;
}

}  // namespace

void port_updates::port_table_update(const usb_device& device) {
  if (skipped_device(device)) return;
  port_entry* entry = nullptr;
  {
    port_table& table = state_.table;
    table.lock_table();
    entry = table.find_locked(device.location);
    if (entry == nullptr) entry = table.append_locked(device.location);
    if (entry == nullptr) {
      // Out of memory: the device is not recorded; a later update tries again.
      table.unlock_table();
      return;
    }
    entry->present = 1;
    wall_clock_now(entry->changed_at);
    copy_bounded(entry->port_name, device.port_name, sizeof entry->port_name);
    // A board that comes back reporting 0 (unknown) keeps what its earlier life told us.
    keep_non_zero(entry->model_id, device.model_id);
    keep_non_zero(entry->vid, device.vid);
    keep_non_zero(entry->pid, device.pid);
    keep_non_zero(entry->bcd_device, device.bcd_device);
    keep_non_zero(entry->serial_number,
                  serial_number_from_string(device.serial_text, device.vid, device.pid));
    table.unlock_table();
  }
  // The live entry is safe to read without table_lock: entries are never freed, their address
  // never changes, and only this thread changes them.
  if (state_.sync_state.load() == SYNC_STREAMING) state_.output.write_add_event(*entry);
}

void port_updates::port_table_remove(const char* address) {
  port_table& table = state_.table;
  table.lock_table();
  port_entry* entry = table.find_locked(address);
  if (entry != nullptr) {
    entry->present = 0;
    wall_clock_now(entry->changed_at);
  }
  table.unlock_table();
  if (entry != nullptr && state_.sync_state.load() == SYNC_STREAMING) {
    state_.output.write_remove_event(*entry);
  }
}

}  // namespace vorlin
