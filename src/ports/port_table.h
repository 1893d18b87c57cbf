// The port table: every port the service has ever reported, one entry per USB location, with its
// present or removed state. The monitor thread changes it (port updates); the main thread reads
// it only through snapshots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace vorlin {

struct wall_time {
  std::int32_t seconds;      // since 1970-01-01 00:00:00 UTC, low 32 bits
  std::int32_t nanoseconds;  // within that second, a multiple of 100
};

struct port_entry {
  char address[1024];  // location path; the key of the table, never changed once set
  char port_name[1280];
  std::int32_t present;
  std::uint32_t model_id;
  std::uint32_t vid;
  std::uint32_t pid;
  std::uint32_t bcd_device;
  std::uint32_t serial_number;
  wall_time changed_at;
  port_entry* prev;
  port_entry* next;
};

// Copies a zero-terminated text into an array of `size` bytes, cutting it to size - 1 characters;
// the result is always terminated.
void copy_bounded(char* destination, const char* source, std::size_t size);

// The 100-nanosecond intervals since 1601-01-01 UTC, as the system clock gives them, turned into a
// wall_time.
wall_time wall_time_from_filetime(std::int64_t filetime);
void wall_clock_now(wall_time& time);

// A copy of the whole table, present and removed entries alike, in table order. The copies' prev
// and next link the copies among themselves.
using port_snapshot = std::vector<port_entry>;

class port_table {
 public:
  port_table() = default;
  port_table(const port_table&) = delete;
  port_table& operator=(const port_table&) = delete;

  void lock_table() { table_lock_.lock(); }
  void unlock_table() { table_lock_.unlock(); }

  // Takes table_lock for the copy. A snapshot cut short by an allocation failure holds a leading
  // part of the table.
  port_snapshot port_table_snapshot();

  // The following run with table_lock held by the caller.

  // The first entry whose address equals `address` byte for byte, or null.
  port_entry* find_locked(const char* address) const;
  // Appends a zeroed entry with `address` at the tail; null when it cannot be allocated.
  port_entry* append_locked(const char* address);
  // Copies the table while table_lock is held (see port_table_snapshot).
  port_snapshot snapshot_locked() const;

 private:
  std::mutex table_lock_;
  port_entry* port_list_ = nullptr;  // head; entries in the order they were created
  port_entry* tail_ = nullptr;
  // Owns every entry for the life of the table. Entries are never freed while it lives, so a
  // pointer to an entry, and its address, stay valid: the monitor writes events from live entries
  // after it released table_lock.
  std::vector<std::unique_ptr<port_entry>> entries_;
};

}  // namespace vorlin
