// The device world behind the fake system libraries of the Windows tests. The world file named
// by VORLIN_FAKE_WORLD (a path Wine can open) is read on first use and read again whenever it
// changes, so a test can plug and unplug boards by rewriting the file and then announcing the
// change. Only these fakes read that variable; the service reads none.
#pragma once

#include <windows.h>

#include <mutex>

#include "platform/world/device_world.h"

namespace vorlin::fake {

// Holds the world for one call of an exported function: reloads the file if it changed, and keeps
// other threads out until the call ends.
class world_access {
 public:
  world_access();
  world::device_world& operator*() { return *world_; }
  world::device_world* operator->() { return world_; }

 private:
  std::lock_guard<std::mutex> hold_;
  world::device_world* world_;
};

// A real registry key standing for a node's hardware key, holding the world's "PortName" value
// (the service reads it with the system's own registry functions). null when the world has no
// key for the node.
HKEY real_hardware_key(world::device_world& world, registry_key world_key, devinst_t node);

}  // namespace vorlin::fake
