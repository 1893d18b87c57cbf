#include "protocol/command_loop.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "host_view.h"
#include "ports/port_updates.h"
#include "service_fixture.h"

namespace vorlin {
namespace {

using testing::make_device;
using testing::service_fixture;

const std::string hello = hello_reply;
const std::string start = start_reply;
const std::string stop = stop_reply;
const std::string start_sync = start_sync_reply;
const std::string quit = quit_reply;
const std::string empty_list = "{\n\"eventType\": \"list\",\n\"ports\": [\n]\n}\n";

// Runs the command loop over `input` with a monitor that opens the gate at once.
std::string run_loop(service_fixture& f, const std::string& input) {
  std::FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  const int status = command_loop(f.state, in, [&f] {
    f.state.initial_scan_gate.open();
    return true;
  });
  std::fclose(in);
  EXPECT_EQ(status, 0);
  return f.out.text();
}

std::string run_loop(const std::string& input) {
  service_fixture f;
  return run_loop(f, input);
}

TEST(CommandLoop, CommandsAreRecognisedAsCaseSensitivePrefixes) {
  struct {
    const char* input;
    std::string output;
  } const cases[] = {
      {"LIST\n", empty_list},
      {"LISTEN\n", empty_list},
      {"list\n", ""},
      {" LIST\n", ""},
      {"STOPPED\n", stop},
      {"START\n", start},
      {"START_SYN\n", start},
      {"STARTLE\n", start},
      {"START_SYNCHRONOUS\n", start_sync},
      {"QUITTING\nLIST\n", quit},
      {"HELLO 1 \"m\"\n", hello},
      {"HELLO 1 \"me\n", hello},
      {"HELLO -7 \"me\"\n", hello},
      {"HELLO+3\t\"x y\"\n", hello},
      {"HELLO\n", ""},
      {"HELLO x \"me\"\n", ""},
      {"HELLO 1 \"\"\n", ""},
      {"HELLO 1 me\n", ""},
      {"HELLO -\"me\"\n", ""},
      {"HELLO 99999999999999999999 \"big\"\n", hello},
      {"\n\nSTOP", stop},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(run_loop(c.input), c.output) << c.input;
}

TEST(CommandLoop, QuitEndsTheLoopAndLaterLinesAreNotRead) {
  service_fixture f;
  std::FILE* in = std::tmpfile();
  const std::string input = "HELLO 1 \"me\"\nQUIT\nLIST\n";
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  EXPECT_EQ(command_loop(f.state, in,
                         [&f] {
                           f.state.initial_scan_gate.open();
                           return true;
                         }),
            0);
  EXPECT_EQ(f.out.text(), hello + quit);
  char rest[16] = {};
  ASSERT_NE(std::fgets(rest, sizeof rest, in), nullptr);
  EXPECT_STREQ(rest, "LIST\n");
  EXPECT_EQ(f.state.sync_state, SYNC_QUIT);
  std::fclose(in);
}

TEST(CommandLoop, LongLinesAreReadInPiecesOf255) {
  // A 300-character line: the first 255 characters are one line, the rest another, which begins
  // with a command word here and is taken as that command.
  std::string line = "LIST" + std::string(251, 'x') + "STOP" + std::string(41, 'y') + "\n";
  EXPECT_EQ(run_loop(line), empty_list + stop);
  EXPECT_EQ(run_loop(std::string(255, 'z') + "LIST\n"), empty_list);
  EXPECT_EQ(run_loop(std::string(254, 'z') + "LIST\n"), "");
}

TEST(CommandLoop, StateFollowsTheCommands) {
  struct {
    const char* input;
    int state;
  } const cases[] = {
      {"", SYNC_NONE},           {"HELLO 1 \"a\"\n", SYNC_IDLE},
      {"START\n", SYNC_POLLING}, {"START_SYNC\n", SYNC_STREAMING},
      {"STOP\n", SYNC_IDLE},     {"START_SYNC\nSTART\n", SYNC_POLLING},
      {"LIST\n", SYNC_NONE},
  };
  for (const auto& c : cases) {
    service_fixture f;
    run_loop(f, c.input);
    EXPECT_EQ(f.state.sync_state, c.state) << c.input;
  }
}

TEST(CommandLoop, StartSyncRepliesThenAddsEveryPresentPortThenStreams) {
  service_fixture f;
  port_updates updates(f.state);
  updates.port_table_update(make_device("usb:0/1", "COM1", 0x16C0, 0x483, 0x279, 36, "12345670"));
  updates.port_table_update(make_device("usb:0/2", "COM2", 0x16C0, 0x483, 0x279));
  updates.port_table_update(make_device("usb:0/3", "COM3", 0x16C0, 0x483, 0x279));
  updates.port_table_remove("usb:0/2");
  const std::string out = run_loop(f, "START_SYNC\n");
  std::string error;
  const auto events = testing::decode_event_stream(out, &error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(out.rfind(start_sync, 0), 0u);
  EXPECT_EQ(events[1].body["port"]["address"].text, "usb:0/1");
  EXPECT_EQ(events[2].body["port"]["address"].text, "usb:0/3");
  EXPECT_EQ(events[1].body["port"]["properties"]["serialNumber"].text, "1234567");
}

// A monitor thread that changes the table while the initial "add" events are being written must
// not lose the change: it reaches the host after the burst, and the host's view ends equal to the
// table.
TEST(CommandLoop, ChangesDuringStartSyncReachTheHostAfterTheBurst) {
  service_fixture f;
  port_updates updates(f.state);
  updates.port_table_update(make_device("usb:0/1", "COM1", 0x16C0, 0x483, 0x279));
  updates.port_table_update(make_device("usb:0/2", "COM2", 0x16C0, 0x483, 0x279));

  std::thread changed_port, removed_port;
  f.state.after_sync_snapshot = [&](const port_snapshot&) {
    changed_port = std::thread(
        [&] { updates.port_table_update(make_device("usb:0/1", "COM9", 0x16C0, 0x483, 0x279)); });
    removed_port = std::thread([&] { updates.port_table_remove("usb:0/2"); });
    // Wait (without sleeping) until both changes are in the table; their events now wait for
    // the burst to end.
    for (;;) {
      const port_snapshot copies = f.state.table.port_table_snapshot();
      if (std::string(copies[0].port_name) == "COM9" && copies[1].present == 0) break;
      std::this_thread::yield();
    }
  };
  run_loop(f, "START_SYNC\n");
  changed_port.join();
  removed_port.join();

  std::string error;
  const auto events = testing::decode_event_stream(f.out.text(), &error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0].type, "start_sync");
  // The burst is the snapshot: both ports as they were before the changes.
  EXPECT_EQ(events[1].body["port"]["label"].text, "COM1 Serial");
  EXPECT_EQ(events[2].body["port"]["label"].text, "COM2 Serial");
  testing::host_view view;
  for (const auto& event : events) view.apply(event);
  EXPECT_EQ(view.labels(), (std::map<std::string, std::string>{{"usb:0/1", "COM9 Serial"}}));
}

TEST(CommandLoop, OnlyTheFirstListingWaitsForTheFirstScan) {
  service_fixture f;
  int waits_allowed = 0;
  // The gate opens only after the first "LIST" started waiting; a second wait would hang, so the
  // loop finishing proves later commands do not wait.
  std::thread opener;
  std::FILE* in = std::tmpfile();
  const std::string input = "START_SYNC\nLIST\nSTART_SYNC\nLIST\n";
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  command_loop(f.state, in, [&] {
    opener = std::thread([&f] { f.state.initial_scan_gate.open(); });
    ++waits_allowed;
    return true;
  });
  opener.join();
  std::fclose(in);
  EXPECT_EQ(waits_allowed, 1);
  EXPECT_EQ(f.out.text(), start_sync + empty_list + start_sync + empty_list);
}

TEST(CommandLoop, AMonitorThatCannotStartNeverBlocksTheFirstListing) {
  service_fixture f;
  std::FILE* in = std::tmpfile();
  std::fputs("LIST\n", in);
  std::rewind(in);
  EXPECT_EQ(command_loop(f.state, in, [] { return false; }), 0);
  std::fclose(in);
  EXPECT_EQ(f.out.text(), empty_list);
}

}  // namespace
}  // namespace vorlin
