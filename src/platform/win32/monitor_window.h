// The monitor's hidden window: the event source that wakes the monitor thread for a scan when
// devices come or go, and on every tick of its timer.
#pragma once

#include <functional>

#include "monitor/event_source.h"

namespace vorlin {

// Window class and title, as other programs (and the tests) find the window.
inline constexpr const char* monitor_window_class_name = "Vorlin Port Discovery";
inline constexpr const char* monitor_window_title = "dummy window";
// Period of the timer that covers changes arriving without a device-change message.
inline constexpr unsigned monitor_timer_period_ms = monitor_tick_ms;

// Lives on the monitor thread: open, start_timer and run must all be called there, because the
// window, its timer and its messages belong to the thread that creates the window.
class monitor_window final : public monitor_event_source {
 public:
  // `module_instance` is the program's module handle (an HINSTANCE), owner of the window.
  explicit monitor_window(void* module_instance);
  monitor_window(const monitor_window&) = delete;
  monitor_window& operator=(const monitor_window&) = delete;
  ~monitor_window() override;

  // Registers the window class and creates the window, which is never shown. false when either
  // fails; the caller then has no event source. `scan_on_sent_change` runs for every
  // device-change message sent to the window (the system broadcasts them that way).
  bool open(scan_request scan_on_sent_change) override;

  // The periodic tick; its failure goes unnoticed and scans then follow device-change messages
  // alone.
  void start_timer() override;

  // The message loop: `scan` runs once for every device-change message posted to the window and
  // every timer tick. Never returns.
  [[noreturn]] void run(const scan_request& scan) override;

  // The window procedure's entry into this object.
  void on_sent_device_change();

 private:
  void* module_instance_;
  void* window_ = nullptr;
  std::function<void()> scan_on_sent_change_;
};

}  // namespace vorlin
