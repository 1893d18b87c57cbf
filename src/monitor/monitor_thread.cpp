#include "monitor/monitor_thread.h"

namespace vorlin {

void monitor_thread(usb_monitor& monitor, monitor_event_source& events,
                    const std::function<void()>& open_initial_scan_gate) {
  monitor.load_cfgmgr_functions();
  monitor.scan_usb_devices();
  // Before anything about the event source is tried, so the host's first listing never waits
  // on it.
  open_initial_scan_gate();

  // A request that arrives while a scan runs on this thread (a platform call inside the scan
  // that dispatches a sent message) is run after it instead of inside it, so scans never
  // overlap and the device list is never changed under a running scan.
  bool scanning = false;
  bool requested = false;
  const scan_request scan = [&monitor, &scanning, &requested] {
    requested = true;
    if (scanning) return;
    scanning = true;
    while (requested) {
      requested = false;
      monitor.scan_usb_devices();
    }
    scanning = false;
  };

  if (!events.open(scan)) return;
  monitor.scan_usb_devices();
  events.start_timer();
  events.run(scan);
}

}  // namespace vorlin
