// Every byte the service sends to the host. The host reads standard output as a stream of JSON
// objects, one per event; each event is written whole under output_lock, so the events of the
// main thread and the monitor thread never mix.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>

#include "ports/port_table.h"

#if defined(__GNUC__)
#define VORLIN_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VORLIN_PRINTF_FORMAT(fmt, args)
#endif

namespace vorlin {

// The fixed replies to the host's commands.
inline constexpr char hello_reply[] =
    "{\n\"eventType\": \"hello\",\n\"protocolVersion\": 1,\n\"message\": \"OK\"\n}\n";
inline constexpr char start_reply[] = "{\n\"eventType\": \"start\",\n\"message\": \"OK\"\n}\n";
inline constexpr char stop_reply[] = "{\n\"eventType\": \"stop\",\n\"message\": \"OK\"\n}\n";
inline constexpr char start_sync_reply[] =
    "{\n\"eventType\": \"start_sync\",\n\"message\": \"OK\"\n}\n";
inline constexpr char quit_reply[] = "{\n\"eventType\": \"quit\",\n\"message\": \"OK\"\n}\n";

// The label's part taken from the port name: without the "\\?\" prefix of a HID interface path,
// cut to 21 characters (into `buffer` when it must be cut).
const char* short_port_label(const char* port_name, char (&buffer)[64]);
// The name of the board's USB type, by product id and release; "Unknown" for any other id.
const char* usb_type_name(std::uint32_t pid, std::uint32_t release);
// The board model's name; the bare family word for an unknown model id, 0 included.
const char* model_name(std::uint32_t model_id);

class event_writer {
 public:
  explicit event_writer(std::FILE* out) : out_(out) {}
  event_writer(const event_writer&) = delete;
  event_writer& operator=(const event_writer&) = delete;

  void lock_output() { output_lock_.lock(); }
  // Releases output_lock first, then flushes: the flush relies on the stream's own locking.
  void unlock_output();

  // Only for callers that hold output_lock: no lock, no flush.
  void write_raw(const char* format, ...) VORLIN_PRINTF_FORMAT(2, 3);
  // Writes a text as the inside of a JSON string. Port names, locations and COM names come from
  // the device services and may hold any byte; a quote, a backslash or a control character would
  // otherwise break the host's decoder, which drops every port on the first decode error.
  void write_json_text(const char* text);

  // One whole event: lock_output, write_raw, unlock_output.
  void write_event(const char* format, ...) VORLIN_PRINTF_FORMAT(2, 3);

  // The caller holds output_lock.
  void write_port_object(const port_entry& entry);
  void write_add_event_locked(const port_entry& entry);

  void write_add_event(const port_entry& entry);
  void write_remove_event(const port_entry& entry);
  void write_list_event(const port_snapshot& snapshot);
  // One "add" event per present entry, in snapshot order. The caller holds output_lock across the
  // whole burst, so that no pushed event can come between the initial ones.
  void write_add_events(const port_snapshot& snapshot);

 private:
  std::mutex output_lock_;
  std::FILE* out_;
};

}  // namespace vorlin
