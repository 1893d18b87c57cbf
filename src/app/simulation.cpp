#include "simulation.h"

#include <cstdio>
#include <system_error>
#include <thread>

#include "monitor/monitor_thread.h"
#include "monitor/usb_monitor.h"
#include "ports/port_updates.h"
#include "protocol/command_loop.h"
#include "timeline_event_source.h"

namespace vorlin {
namespace {

// Everything the two threads share; it lives until the process ends, since the monitor thread
// is never joined.
struct simulation {
  explicit simulation(const world::world_description& description)
      : player(world, description), updates(state), monitor(world, updates), events(player) {}

  service_state state{stdout};
  world::device_world world;
  world::world_player player;
  port_updates updates;
  usb_monitor monitor;
  timeline_event_source events;
};

}  // namespace

int run_simulation(const world::world_description& description) {
  static simulation sim_storage(description);
  static simulation* const sim = &sim_storage;
  sim->player.start();
  return command_loop(sim->state, stdin, [] {
    try {
      std::thread([] {
        monitor_thread(sim->monitor, sim->events, [] { sim->state.initial_scan_gate.open(); });
      }).detach();
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  });
}

}  // namespace vorlin
