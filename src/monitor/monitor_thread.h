// The monitor thread's body: load the optional operations, scan, open the initial-scan gate, set
// up the event source, scan again, start the tick, then scan on every event.
#pragma once

#include <functional>

#include "monitor/event_source.h"
#include "monitor/usb_monitor.h"

namespace vorlin {

// Returns only when the event source cannot be set up (the gate is open by then, so the host's
// first listing holds what the first scan found) or when the source's run() returns.
// `open_initial_scan_gate` is called exactly once, after the first scan.
void monitor_thread(usb_monitor& monitor, monitor_event_source& events,
                    const std::function<void()>& open_initial_scan_gate);

}  // namespace vorlin
