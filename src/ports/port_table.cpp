#include "ports/port_table.h"

#include <cstring>
#include <new>

#include "platform/system_clock.h"

namespace vorlin {

void copy_bounded(char* destination, const char* source, std::size_t size) {
  if (size == 0) return;
  const std::size_t length = std::strlen(source);
  const std::size_t count = length + 1 < size ? length : size - 1;
  std::memcpy(destination, source, count);
  destination[count] = '\0';
}

wall_time wall_time_from_filetime(std::int64_t filetime) {
  constexpr std::int64_t intervals_1601_to_1970 = 116444736000000000;
  constexpr std::int64_t intervals_per_second = 10000000;
  const std::int64_t since_1970 = filetime - intervals_1601_to_1970;
  wall_time time;
  time.seconds = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(static_cast<std::uint64_t>(since_1970 / intervals_per_second)));
  time.nanoseconds = static_cast<std::int32_t>((since_1970 % intervals_per_second) * 100);
  return time;
}

void wall_clock_now(wall_time& time) {
  time = wall_time_from_filetime(system_filetime_now());
}

port_snapshot port_table::port_table_snapshot() {
  std::lock_guard<std::mutex> hold(table_lock_);
  return snapshot_locked();
}

port_snapshot port_table::snapshot_locked() const {
  port_snapshot copies;
  try {
    std::size_t count = 0;
    for (const port_entry* e = port_list_; e != nullptr; e = e->next) ++count;
    copies.reserve(count);
  } catch (const std::bad_alloc&) {
    // Copy what fits one by one below; the snapshot is then a leading part of the table.
  }
  for (const port_entry* e = port_list_; e != nullptr; e = e->next) {
    try {
      copies.push_back(*e);
    } catch (const std::bad_alloc&) {
      break;
    }
  }
  for (std::size_t i = 0; i < copies.size(); ++i) {
    copies[i].prev = i == 0 ? nullptr : &copies[i - 1];
    copies[i].next = i + 1 == copies.size() ? nullptr : &copies[i + 1];
  }
  return copies;
}

port_entry* port_table::find_locked(const char* address) const {
  for (port_entry* e = port_list_; e != nullptr; e = e->next) {
    if (std::strcmp(e->address, address) == 0) return e;
  }
  return nullptr;
}

port_entry* port_table::append_locked(const char* address) {
  std::unique_ptr<port_entry> entry;
  try {
    entry = std::make_unique<port_entry>();
    entries_.reserve(entries_.size() + 1);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  copy_bounded(entry->address, address, sizeof entry->address);
  entry->prev = tail_;
  if (tail_ != nullptr) {
    tail_->next = entry.get();
  } else {
    port_list_ = entry.get();
  }
  tail_ = entry.get();
  entries_.push_back(std::move(entry));
  return tail_;
}

}  // namespace vorlin
