// The monitor thread's order of start-up and its one scan per event, driven by a manual event
// source: no test sleeps, each waits for the events it delivered to be handled.
#include "monitor/monitor_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "monitor/manual_event_source.h"
#include "platform/world/device_world.h"
#include "recording_sink.h"

namespace vorlin {
namespace {

using event = manual_event_source::event;
using world::api_op;

world::board_spec board_at(std::uint32_t port, const char* com_port) {
  world::board_spec spec;
  spec.usb_port = {port};
  spec.com_port = com_port;
  return spec;
}

class MonitorThread : public ::testing::Test {
 protected:
  void start() {
    thread = std::thread([this] {
      monitor_thread(monitor, events, [this] {
        ++gate_opened;
        on_gate_open();
      });
    });
  }
  void TearDown() override {
    events.stop();
    if (thread.joinable()) thread.join();
  }
  // Sets taken so far: a scan that finds nothing new takes the USB interface set only.
  std::uint32_t scans() const { return world.calls(api_op::get_class_devs); }

  world::device_world world;
  testing::recording_sink sink;
  usb_monitor monitor{world, sink};
  manual_event_source events;
  std::function<void()> on_gate_open = [] {};
  std::atomic<int> gate_opened{0};
  std::thread thread;
};

TEST_F(MonitorThread, FirstScanBeforeTheGateSecondOnceTheSourceIsOpen) {
  world.plug_board(board_at(1, "COM3"));
  std::size_t updates_at_gate = 0;
  on_gate_open = [&] {
    updates_at_gate = sink.calls.size();
    EXPECT_FALSE(events.opened());
    // Plugged between the two start-up scans: the second one finds it, before any event.
    world.plug_board(board_at(2, "COM4"));
  };
  start();
  ASSERT_TRUE(events.wait_until_running());
  EXPECT_EQ(gate_opened, 1);
  EXPECT_EQ(updates_at_gate, 1u);
  EXPECT_TRUE(events.timer_started());
  EXPECT_EQ(sink.present.size(), 2u);
  EXPECT_EQ(world.calls(api_op::load_cfgmgr_functions), 1u);
}

TEST_F(MonitorThread, EachDeliveredEventIsOneScan) {
  start();
  ASSERT_TRUE(events.wait_until_running());
  const std::uint32_t after_start = scans();
  EXPECT_EQ(after_start, 2u);

  const event delivered[] = {event::tick, event::change, event::sent_change, event::tick};
  for (event e : delivered) events.deliver(e);
  ASSERT_TRUE(events.wait_until_idle());
  EXPECT_EQ(scans(), after_start + 4);

  // A board plugged now is seen by the next tick.
  world.plug_board(board_at(3, "COM5"));
  events.deliver(event::tick);
  ASSERT_TRUE(events.wait_until_idle());
  EXPECT_EQ(sink.present.count("usb:0/3"), 1u);
}

TEST_F(MonitorThread, SourceThatCannotOpenEndsTheThreadWithTheGateOpen) {
  world.plug_board(board_at(1, "COM3"));
  world.fail_always(api_op::load_cfgmgr_functions);  // also runs without the optional operations
  events.fail_open();
  start();
  thread.join();
  EXPECT_EQ(gate_opened, 1);
  // One scan only, and it found a board: the device, HID and Ports sets.
  EXPECT_EQ(world.calls(api_op::get_class_devs), 3u);
  EXPECT_FALSE(events.timer_started());
  EXPECT_EQ(sink.present.size(), 1u);
  EXPECT_EQ(sink.present.begin()->second, "COM3");
  EXPECT_EQ(world.missing_function_calls(), 0u);
}

// A platform call inside a scan that dispatches a sent device change would call the scan
// request on the same thread; the scan must not start inside the running one.
TEST_F(MonitorThread, ScanRequestedDuringAScanRunsAfterIt) {
  struct reentrant_sink : testing::recording_sink {
    scan_request request;  // set once the source is open
    bool inside = false;
    bool nested = false;
    void port_table_update(const usb_device& d) override {
      nested = nested || inside;
      recording_sink::port_table_update(d);
      if (!request) return;
      inside = true;
      const scan_request once = std::move(request);
      request = nullptr;
      once();
      inside = false;
    }
  } reentrant;
  struct capturing_source : manual_event_source {
    reentrant_sink* sink = nullptr;
    bool open(scan_request scan) override {
      sink_scan = scan;
      return manual_event_source::open(std::move(scan));
    }
    scan_request sink_scan;
  } source;

  usb_monitor m(world, reentrant);
  std::thread t([&] { monitor_thread(m, source, [] {}); });
  ASSERT_TRUE(source.wait_until_running());
  world.plug_board(board_at(2, "COM4"));
  reentrant.request = source.sink_scan;
  const std::uint32_t before = world.calls(api_op::get_class_devs);
  source.deliver(event::tick);
  ASSERT_TRUE(source.wait_until_idle());
  source.stop();
  t.join();
  EXPECT_FALSE(reentrant.nested);
  // The tick's scan (device, HID and Ports sets: a board was new), then the requested one, which
  // found nothing new (device set only).
  EXPECT_EQ(world.calls(api_op::get_class_devs) - before, 3u + 1u);
}

}  // namespace
}  // namespace vorlin
