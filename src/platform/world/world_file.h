// The world file: a small text format that describes a device world (the boards, which of them
// are plugged in at start, what the system lacks or gets wrong) and a timeline of changes. The
// simulator plays it; the fake system libraries of the Windows tests answer from it. The format
// is described in docs/world-file.md.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/world/device_world.h"

namespace vorlin::world {

struct world_board {
  std::string name;
  board_spec spec;
  bool present_at_start = true;
};

struct world_step {
  enum class kind { plug, unplug, replace };
  double at_seconds = 0;
  kind action = kind::plug;
  std::string board;      // the board plugged or unplugged; for replace, the one that goes
  std::string new_board;  // replace: the one that comes at once in its place
};

struct world_fault {
  api_op op = api_op::get_class_devs;
  enum class mode { always, once, on_call } kind = mode::always;
  std::uint32_t call = 1;  // on_call: the n-th call from the start
};

struct world_description {
  std::vector<world_board> boards;
  std::vector<world_step> timeline;    // in time order
  std::optional<double> loop_seconds;  // the timeline starts again after this long
  cfgmgr_functions cfgmgr{true, true};
  std::vector<world_fault> faults;

  const world_board* find(const std::string& name) const;
};

// Parses a world file. On error returns false with `error` set to "line N: what is wrong".
bool parse_world_file(const std::string& text, world_description& out, std::string& error);

// Reads and parses a file; the error names the file.
bool load_world_file(const std::string& path, world_description& out, std::string& error);

// Drives a device_world from a description: plugs the boards present at start, then applies
// timeline steps or a newer description of the same world.
class world_player {
 public:
  world_player(device_world& world, world_description description);

  // Applies the optional-function settings and faults, and plugs the boards present at start.
  void start();
  void apply(const world_step& step);
  // Brings the world to `next`: boards no longer present (or described differently) are
  // unplugged, boards newly present are plugged; unchanged boards keep their nodes.
  void reconcile(const world_description& next);

  const world_description& description() const { return description_; }
  bool is_plugged(const std::string& name) const { return plugged_.count(name) != 0; }
  // The boards plugged in now, by name.
  const std::map<std::string, board>& plugged() const { return plugged_; }

 private:
  void plug(const std::string& name);
  void unplug(const std::string& name);

  device_world& world_;
  world_description description_;
  std::map<std::string, board> plugged_;
};

}  // namespace vorlin::world
