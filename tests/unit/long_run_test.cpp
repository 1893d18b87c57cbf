// Hours of a desk in a few seconds: boards plugged and unplugged ten thousand times while the
// host streams. Nothing may pile up: device records, port entries, handles, buffers or heap.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstddef>
#include <cstdio>
#include <vector>

#include "host_view.h"
#include "monitor/usb_monitor.h"
#include "platform/world/device_world.h"
#include "ports/port_updates.h"
#include "streams.h"

namespace vorlin {
namespace {

constexpr int cycles = 10000;

std::vector<world::board_spec> desk_boards() {
  std::vector<world::board_spec> boards(4);
  boards[0].usb_port = {1};
  boards[0].serial = "12345670";
  boards[0].com_port = "COM7";
  boards[1].usb_port = {2};
  boards[1].pid = 0x486;
  boards[1].hid = {world::hid_function(0, 0xFFAB, 0x200), world::hid_function(1, 0xFFC9, 4)};
  boards[2].usb_port = {3, 1};
  boards[2].pid = 0x478;
  boards[2].serial = "0012D687";
  boards[2].hid = {world::hid_function(-1, 0xFF9C, 0x24)};
  boards[3].usb_port = {3, 2};
  boards[3].pid = 0x489;
  boards[3].com_port = "COM9";
  boards[3].com_port_interface = 0;
  return boards;
}

std::size_t device_records(const usb_monitor& monitor) {
  std::size_t count = 0;
  for (const usb_device* r = monitor.devices(); r != nullptr; r = r->next.get()) ++count;
  return count;
}

// Bytes the program holds on the heap now. Sanitizer runtimes keep their own books, where this
// reads 0: there LeakSanitizer checks the same thing at exit.
std::size_t heap_in_use() {
  return mallinfo2().uordblks;
}

TEST(LongRun, TenThousandPlugCyclesLeaveNothingBehind) {
  testing::output_capture output;
  service_state state(output.file());
  state.sync_state = SYNC_STREAMING;
  state.initial_scan_gate.open();
  port_updates updates(state);
  world::device_world desk;
  usb_monitor monitor(desk, updates);
  monitor.load_cfgmgr_functions();
  const std::vector<world::board_spec> specs = desk_boards();

  std::uint32_t detail_high_water = 0;
  std::size_t heap_after_warm_up = 0;
  std::size_t adds = 0, removes = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    std::vector<world::board> plugged;
    for (const auto& spec : specs) plugged.push_back(desk.plug_board(spec));
    monitor.scan_usb_devices();
    ASSERT_EQ(device_records(monitor), specs.size()) << "cycle " << cycle;
    for (const auto& board : plugged) desk.unplug(board);
    monitor.scan_usb_devices();
    ASSERT_EQ(device_records(monitor), 0u) << "cycle " << cycle;

    // One entry per location, ever; every handle closed; the detail buffer never past the size
    // the first cycle needed.
    const port_snapshot entries = state.table.port_table_snapshot();
    ASSERT_EQ(entries.size(), specs.size()) << "cycle " << cycle;
    for (const port_entry& e : entries) ASSERT_EQ(e.present, 0) << e.address;
    ASSERT_EQ(desk.open_handles().total(), 0u) << "cycle " << cycle;
    ASSERT_EQ(desk.bad_releases(), 0u);
    if (cycle == 0) detail_high_water = monitor.interface_detail_capacity();
    ASSERT_EQ(monitor.interface_detail_capacity(), detail_high_water) << "cycle " << cycle;

    // The host reads as it goes; every cycle tells it of each board once coming, once going.
    std::string error;
    for (const auto& event : testing::decode_event_stream(output.take(), &error)) {
      adds += event.type == "add" ? 1 : 0;
      removes += event.type == "remove" ? 1 : 0;
    }
    ASSERT_EQ(error, "");
    if (cycle == 99) heap_after_warm_up = heap_in_use();
  }
  EXPECT_EQ(adds, cycles * specs.size());
  EXPECT_EQ(removes, cycles * specs.size());
  EXPECT_GT(detail_high_water, 0u);
  // The heap after 10,000 cycles is what it was after 100 (a few kilobytes of slack for the
  // allocator's own bookkeeping).
  EXPECT_LE(heap_in_use(), heap_after_warm_up + 4096);
  std::printf("long run: heap in use %zu bytes after 100 cycles, %zu after %d\n",
              heap_after_warm_up, heap_in_use(), cycles);
}

}  // namespace
}  // namespace vorlin
