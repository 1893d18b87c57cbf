// The monitor's event source for a simulated world: a tick every 667 ms as on Windows, and the
// world file's timeline played in real time, each step announced as a device change. World
// changes are made on the monitor thread between scans, so the world needs no lock.
#pragma once

#include <chrono>

#include "monitor/event_source.h"
#include "platform/world/world_file.h"

namespace vorlin {

class timeline_event_source final : public monitor_event_source {
 public:
  explicit timeline_event_source(world::world_player& player) : player_(player) {}

  bool open(scan_request scan) override;
  void start_timer() override;
  void run(const scan_request& scan) override;

 private:
  using clock = std::chrono::steady_clock;

  // When the next timeline step is due; false when the timeline has no further step.
  bool next_step_time(clock::time_point& when) const;

  world::world_player& player_;
  clock::time_point start_{};
  bool ticking_ = false;
  clock::time_point next_tick_{};
  std::size_t next_step_ = 0;
  unsigned cycle_ = 0;  // how often a looping timeline has started again
};

}  // namespace vorlin
