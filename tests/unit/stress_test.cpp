// The service's two threads at full tilt: the main thread answers a stream of host commands
// through the real command loop while the monitor thread scans a world that changes before every
// scan. Run under ThreadSanitizer by the tsan preset.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host_view.h"
#include "monitor/monitor_thread.h"
#include "monitor/usb_device.h"
#include "monitor/usb_monitor.h"
#include "platform/world/device_world.h"
#include "ports/port_updates.h"
#include "protocol/command_loop.h"
#include "streams.h"

namespace vorlin {
namespace {

using testing::host_event;

// At least this many port updates and removals reach the table before the host settles.
constexpr std::size_t target_changes = 100000;

struct change {
  bool add;
  std::string address;
  std::string port_name;
};

// Records every change the scan hands to the table, in order, before passing it on. Only the
// monitor thread calls it; the log is read once that thread has ended.
class recording_sink final : public port_sink {
 public:
  explicit recording_sink(port_sink& inner) : inner_(inner) {}
  void port_table_update(const usb_device& device) override {
    log.push_back({true, device.location, device.port_name});
    count.fetch_add(1);
    inner_.port_table_update(device);
  }
  void port_table_remove(const char* address) override {
    log.push_back({false, address, ""});
    count.fetch_add(1);
    inner_.port_table_remove(address);
  }

  std::vector<change> log;
  std::atomic<std::size_t> count{0};

 private:
  port_sink& inner_;
};

// Scans forever, changing the world before every scan: boards plugged, unplugged and restarted
// into the boot loader at the same port. The world is touched only here, on the monitor thread.
class churning_source final : public monitor_event_source {
 public:
  bool open(scan_request) override { return true; }
  void start_timer() override {}
  void run(const scan_request& scan) override {
    while (!stop_.load()) {
      // Neither thread runs far ahead of the other, so that they meet all the way through.
      if (scans_.load() > commands.load() + 64) {
        std::this_thread::yield();
        continue;
      }
      churn();
      scan();
      scans_.fetch_add(1);
    }
  }

  void stop() { stop_.store(true); }
  std::size_t scans() const { return scans_.load(); }
  world::device_world world;
  std::atomic<std::size_t> commands{0};

 private:
  static constexpr std::size_t slots = 6;

  void churn() {
    for (int i = 0; i < 3; ++i) {
      const std::size_t slot = random_() % slots;
      if (plugged_[slot] && random_() % 2 == 0) {
        world.unplug(*plugged_[slot]);
        plugged_[slot].reset();
        continue;
      }
      if (plugged_[slot]) world.unplug(*plugged_[slot]);
      plugged_[slot] = world.plug_board(spec(slot, static_cast<unsigned>(random_() % 3)));
    }
  }

  static world::board_spec spec(std::size_t slot, unsigned kind) {
    world::board_spec s;
    const std::uint32_t position = static_cast<std::uint32_t>(slot) + 1;
    s.usb_port =
        slot < 3 ? std::vector<std::uint32_t>{position} : std::vector<std::uint32_t>{9, position};
    if (kind == 0) {
      s.com_port = "COM" + std::to_string(10 + slot);
      s.serial = "1000000" + std::to_string(slot) + "0";
    } else if (kind == 1) {
      s.pid = 0x486;
      s.hid.push_back(world::hid_function(1, 0xFFC9, 4));
    } else {
      s.pid = 0x478;
      s.hid.push_back(world::hid_function(-1, 0xFF9C, 0x24));
    }
    return s;
  }

  std::mt19937 random_{12345};
  std::array<std::optional<world::board>, slots> plugged_;
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> scans_{0};
};

// Splits the output into whole top-level JSON objects as they arrive; whatever follows the last
// whole object waits for more bytes.
class object_splitter {
 public:
  void feed(const std::string& bytes, std::vector<std::string>& objects) {
    for (const char c : bytes) {
      current_.push_back(c);
      if (in_string_) {
        if (escaped_) {
          escaped_ = false;
        } else if (c == '\\') {
          escaped_ = true;
        } else if (c == '"') {
          in_string_ = false;
        }
      } else if (c == '"') {
        in_string_ = true;
      } else if (c == '{') {
        ++depth_;
      } else if (c == '}' && --depth_ == 0) {
        objects.push_back(std::move(current_));
        current_.clear();
      }
    }
  }
  bool idle() const {
    return depth_ == 0 && current_.find_first_not_of(" \n") == std::string::npos;
  }

 private:
  std::string current_;
  int depth_ = 0;
  bool in_string_ = false;
  bool escaped_ = false;
};

// One "add" or "remove" as the host read it.
struct port_event {
  bool add;
  std::string address;
  std::string label;
};

TEST(Stress, CommandsAtFullSpeedWhileTheWorldChangesOnEveryScan) {
  testing::output_capture output;
  service_state state(output.file());
  port_updates updates(state);
  recording_sink recorder(updates);
  churning_source source;
  usb_monitor monitor(source.world, recorder);

  // The present ports of each "START_SYNC" snapshot (address and label), in order: the burst of
  // "add" events that follows each start_sync reply.
  using burst = std::vector<std::pair<std::string, std::string>>;
  std::vector<burst> bursts;
  state.after_sync_snapshot = [&bursts](const port_snapshot& snapshot) {
    burst ports;
    char buffer[64];
    for (const port_entry& e : snapshot) {
      if (e.present == 0) continue;
      ports.emplace_back(e.address, std::string(short_port_label(e.port_name, buffer)) + " " +
                                        usb_type_name(e.pid, e.bcd_device));
    }
    bursts.push_back(std::move(ports));
  };

  std::thread monitor_runner;
  std::atomic<bool> gate_opened{false};
  const monitor_starter start_monitor = [&] {
    monitor_runner = std::thread([&] {
      monitor_thread(monitor, source, [&] {
        state.initial_scan_gate.open();
        gate_opened.store(true);
      });
    });
    return true;
  };

  // The host: everything it read, decoded strictly one event at a time.
  object_splitter splitter;
  std::vector<host_event> events;
  std::string decode_error;
  const auto read_output = [&] {
    std::vector<std::string> objects;
    splitter.feed(output.take(), objects);
    for (const std::string& text : objects) {
      std::string error;
      auto decoded = testing::decode_event_stream(text, &error);
      if (!error.empty() || decoded.size() != 1) {
        if (decode_error.empty()) decode_error = error + " in: " + text.substr(0, 400);
        continue;
      }
      host_event& event = decoded.front();
      // A list's ports are checked by the decoder; keeping them would only cost memory.
      if (event.type == "list") event.body = testing::json_value{};
      events.push_back(std::move(event));
    }
  };

  // The commands, in random order, as fast as the loop takes them. They pause only while they
  // are far ahead of the monitor, so that both threads run side by side to the end.
  const char* const mixed[] = {"LIST\n", "START_SYNC\n", "STOP\n", "START\n", "HELLO 1 \"ide\"\n"};
  const char* const streaming[] = {"LIST\n", "START_SYNC\n"};
  std::mt19937 random(777);
  std::size_t settling = 0;
  std::FILE* in = testing::open_chunk_stream([&](std::string& chunk) {
    read_output();
    while (source.commands.load() > 2 * source.scans() + 64 &&
           recorder.count.load() < target_changes) {
      std::this_thread::yield();
    }
    source.commands.fetch_add(1);
    if (recorder.count.load() < target_changes) {
      chunk = mixed[random() % 5];
      return true;
    }
    // The host ends streaming, with the monitor still changing the table under it.
    if (settling == 0) {
      chunk = "START_SYNC\n";
    } else if (settling < 200) {
      chunk = streaming[random() % 2];
    } else {
      return false;
    }
    ++settling;
    return true;
  });
  EXPECT_EQ(command_loop(state, in, start_monitor), 0);
  std::fclose(in);
  source.stop();
  monitor_runner.join();
  read_output();

  ASSERT_EQ(decode_error, "") << "a torn or interleaved event";
  ASSERT_TRUE(splitter.idle()) << "the output ends inside an event";
  ASSERT_GE(recorder.log.size(), target_changes);

  // Where each burst lies. It follows its start_sync reply at once, or after the one event the
  // monitor thread may still have been writing for the stream that "START_SYNC" restarts: that
  // change came before the snapshot, so the burst that follows it still tells the truth.
  const auto burst_at = [&events](std::size_t from, const burst& ports) {
    if (from + ports.size() > events.size()) return false;
    for (std::size_t j = 0; j < ports.size(); ++j) {
      const host_event& e = events[from + j];
      if (e.type != "add" || e.body["port"]["address"].text != ports[j].first ||
          e.body["port"]["label"].text != ports[j].second) {
        return false;
      }
    }
    return true;
  };
  std::vector<bool> in_burst(events.size(), false);
  std::size_t burst_index = 0;
  std::size_t after_last_sync = 0;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const host_event& event = events[i];
    ASSERT_TRUE(event.type == "hello" || event.type == "start" || event.type == "stop" ||
                event.type == "start_sync" || event.type == "list" || event.type == "add" ||
                event.type == "remove")
        << event.type;
    if (event.type != "start_sync") continue;
    ASSERT_LT(burst_index, bursts.size());
    const burst& ports = bursts[burst_index++];
    std::size_t from = i + 1;
    if (!burst_at(from, ports)) {
      ++from;
      ASSERT_TRUE(burst_at(from, ports))
          << "the burst after start_sync " << burst_index << " is not its snapshot";
    }
    for (std::size_t j = 0; j < ports.size(); ++j) in_burst[from + j] = true;
    after_last_sync = i;
  }
  EXPECT_EQ(burst_index, bursts.size());

  // Every other "add" and "remove" is pushed, and pushed events are the table's changes in the
  // order they were made: a subsequence of the log (the skip rule and removals of unknown
  // locations write nothing).
  std::size_t cursor = 0;
  std::size_t pushed = 0;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const host_event& event = events[i];
    if (in_burst[i] || (event.type != "add" && event.type != "remove")) continue;
    ++pushed;
    const bool add = event.type == "add";
    const std::string address = event.body["port"]["address"].text;
    const std::string label = event.body["port"]["label"].text;
    for (;; ++cursor) {
      ASSERT_LT(cursor, recorder.log.size())
          << "event " << i << " (" << event.type << " " << address
          << ") is not in the order of the table changes";
      const change& c = recorder.log[cursor];
      if (c.add != add || c.address != address) continue;
      char buffer[64];
      if (add && label.rfind(short_port_label(c.port_name.c_str(), buffer), 0) != 0) continue;
      break;
    }
    ++cursor;
  }
  EXPECT_GT(pushed, target_changes / 10) << "too few events were pushed to test their order";
  ASSERT_GT(after_last_sync, 0u);

  // The host that replayed everything after the last start_sync holds the table's present ports.
  std::map<std::string, std::string> table_labels;
  char buffer[64];
  for (const port_entry& e : state.table.port_table_snapshot()) {
    if (e.present == 0) continue;
    table_labels[e.address] = std::string(short_port_label(e.port_name, buffer)) + " " +
                              usb_type_name(e.pid, e.bcd_device);
  }
  testing::host_view host;
  for (std::size_t i = after_last_sync; i < events.size(); ++i) {
    // The lists' ports were dropped on reading: the replay is of the pushed stream alone.
    if (events[i].type == "add" || events[i].type == "remove") host.apply(events[i]);
  }
  EXPECT_EQ(host.labels(), table_labels);
  EXPECT_EQ(source.world.open_handles().total(), 0u);
  std::printf("stress: %zu table changes in %zu scans, %zu pushed events, %zu events in all\n",
              recorder.log.size(), source.scans(), pushed, events.size());
}

}  // namespace
}  // namespace vorlin
