// The state the service's two threads share: the port table, standard output, the protocol state
// and the initial-scan gate. One object per service, so a test can run as many as it likes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>

#include "ports/port_table.h"
#include "protocol/event_writer.h"

namespace vorlin {

// The protocol state. Only SYNC_STREAMING (port updates push events) and SYNC_QUIT (the command
// loop ends) change behaviour.
enum sync_state_value : int {
  SYNC_NONE = 0,
  SYNC_IDLE = 1,
  SYNC_POLLING = 2,
  SYNC_STREAMING = 3,
  SYNC_QUIT = 4,
};

// A one-shot latch: closed at start, opened once, never closed again.
class one_shot_gate {
 public:
  void open() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      open_ = true;
    }
    opened_.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> hold(lock_);
    opened_.wait(hold, [this] { return open_; });
  }
  bool is_open() {
    std::lock_guard<std::mutex> hold(lock_);
    return open_;
  }

 private:
  std::mutex lock_;
  std::condition_variable opened_;
  bool open_ = false;
};

struct service_state {
  explicit service_state(std::FILE* out) : output(out) {}

  port_table table;
  event_writer output;
  // Written by the main thread only; read by the monitor thread after each port update.
  std::atomic<int> sync_state{SYNC_NONE};
  // Opened by the monitor thread after its first scan; the first "LIST" or "START_SYNC" waits on
  // it so that its answer already holds the boards connected at start.
  one_shot_gate initial_scan_gate;
  // The handle of the program's own image (Windows: for the monitor's hidden window).
  void* module_instance = nullptr;

  // Test hook: runs on the main thread during "START_SYNC", after the snapshot was taken and
  // streaming switched on, before the initial "add" events of that snapshot are written
  // (output_lock is held).
  std::function<void(const port_snapshot&)> after_sync_snapshot;
};

}  // namespace vorlin
