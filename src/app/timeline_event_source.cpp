#include "timeline_event_source.h"

#include <thread>

namespace vorlin {

bool timeline_event_source::open(scan_request) {
  start_ = clock::now();
  return true;
}

void timeline_event_source::start_timer() {
  ticking_ = true;
  next_tick_ = clock::now() + std::chrono::milliseconds(monitor_tick_ms);
}

bool timeline_event_source::next_step_time(clock::time_point& when) const {
  const auto& description = player_.description();
  const auto& steps = description.timeline;
  if (steps.empty() || (next_step_ >= steps.size() && !description.loop_seconds)) return false;
  const double loop = description.loop_seconds.value_or(0);
  const std::size_t index = next_step_ < steps.size() ? next_step_ : 0;
  const unsigned cycle = next_step_ < steps.size() ? cycle_ : cycle_ + 1;
  const double at = cycle * loop + steps[index].at_seconds;
  when = start_ + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(at));
  return true;
}

void timeline_event_source::run(const scan_request& scan) {
  for (;;) {
    clock::time_point step_due;
    const bool has_step = next_step_time(step_due);
    if (!has_step && !ticking_) {
      std::this_thread::sleep_for(std::chrono::hours(1));
      continue;
    }
    clock::time_point wake = has_step ? step_due : next_tick_;
    if (ticking_ && next_tick_ < wake) wake = next_tick_;
    std::this_thread::sleep_until(wake);

    const auto now = clock::now();
    bool changed = false;
    while (next_step_time(step_due) && step_due <= now) {
      const auto& steps = player_.description().timeline;
      if (next_step_ >= steps.size()) {
        next_step_ = 0;
        ++cycle_;
      }
      player_.apply(steps[next_step_++]);
      changed = true;
    }
    if (changed) scan();
    if (ticking_ && next_tick_ <= now) {
      scan();
      next_tick_ += std::chrono::milliseconds(monitor_tick_ms);
      // A tick that fell behind (a slow scan, a suspended machine) is not made up for.
      if (next_tick_ <= now) next_tick_ = now + std::chrono::milliseconds(monitor_tick_ms);
    }
  }
}

}  // namespace vorlin
