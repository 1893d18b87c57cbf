// What wakes the monitor thread: announcements that devices changed, and a tick every 667 ms.
// Every event is one whole scan, and scans never overlap because they all run on the monitor
// thread.
//
// On Windows a hidden window of the monitor thread receives WM_DEVICECHANGE and WM_TIMER: open()
// registers the class and creates the window (its window procedure scans on device-change
// messages sent to it, so open() is handed the scan), start_timer() sets the timer, and run()
// waits for and takes posted messages forever. Tests use a source whose events they deliver one
// at a time and whose run() they can stop.
#pragma once

#include <functional>

namespace vorlin {

// Runs one whole scan on the calling thread.
using scan_request = std::function<void()>;

// The length of a timer tick.
inline constexpr unsigned monitor_tick_ms = 667;

class monitor_event_source {
 public:
  virtual ~monitor_event_source() = default;

  // Sets up delivery. Events that arrive outside run() (messages sent straight to the window
  // procedure) call `scan` on the monitor thread. false when the source cannot be set up; the
  // monitor thread then ends.
  virtual bool open(scan_request scan) = 0;

  // Starts the periodic tick. Its failure goes unnoticed: changes are then seen only when
  // announced.
  virtual void start_timer() = 0;

  // Waits for events and calls `scan` once for each, on the calling thread. The Windows source
  // never returns; a test source returns once stopped.
  virtual void run(const scan_request& scan) = 0;
};

}  // namespace vorlin
