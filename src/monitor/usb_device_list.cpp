#include "monitor/usb_device_list.h"

#include <cstring>
#include <new>

namespace vorlin {

bool usb_device_has_port(const usb_device& record) {
  return record.port_name[0] != '\0' && std::strcmp(record.port_name, "[no_device]") != 0;
}

bool usb_device_matches(const usb_device& record, devinst_t devinst, const char* device_path,
                        const char* location, const char* location_information) {
  return record.devinst == devinst && std::strcmp(record.device_path, device_path) == 0 &&
         std::strcmp(record.location, location) == 0 &&
         std::strcmp(record.location_information, location_information) == 0;
}

usb_device* usb_device_list::usb_device_from_devinst(devinst_t devinst) const {
  for (usb_device* record = head_.get(); record; record = record->next.get()) {
    for (std::int32_t i = 0; i < record->devinst_count && i < max_devinst_count; ++i) {
      if (record->devinst_list[i] == devinst) return record;
    }
  }
  return nullptr;
}

std::unique_ptr<usb_device> usb_device_list::create() {
  try {
    // Value-initialisation zeroes every field: texts empty, numbers 0, flags 0.
    return std::make_unique<usb_device>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void usb_device_list::add(std::unique_ptr<usb_device> record) {
  record->next = std::move(head_);
  head_ = std::move(record);
}

usb_device* usb_device_list::remove(usb_device* previous, usb_device& record) {
  std::unique_ptr<usb_device>& link = previous ? previous->next : head_;
  if (link.get() != &record) return record.next.get();  // not the predecessor: change nothing
  std::unique_ptr<usb_device> gone = std::move(link);
  link = std::move(gone->next);
  return link.get();
}

void usb_device_list::clear() {
  // Unlink one record at a time so a long list is not freed by deep recursion.
  while (head_) head_ = std::move(head_->next);
}

}  // namespace vorlin
