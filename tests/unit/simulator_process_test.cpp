// The simulator run as a host runs the service: boards of a world file come and go, and the host
// sees them as "add" and "remove" events.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "host_view.h"
#include "process_runner.h"

namespace vorlin {
namespace {

using testing::decode_event_stream;
using testing::host_session;
using testing::run_process;

std::size_t count_of(const std::string& text, const std::string& piece) {
  std::size_t count = 0;
  for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
  return count;
}

std::string example(const char* name) {
  return std::string(VORLIN_SOURCE_DIR) + "/examples/" + name;
}

TEST(SimulatorProcess, BoardRestartingIntoTheBootLoaderIsRemovedAndAddedAtTheSamePort) {
  host_session host({VORLIN_SIM_EXE, example("bootloader-restart.world")});
  ASSERT_TRUE(host.started());
  host.send("HELLO 1 \"test\"\nSTART_SYNC\n");
  // The restart happens 2 s in; the way back 3 s later.
  ASSERT_TRUE(host.read_until(
      [](const std::string& out) { return count_of(out, "\"eventType\": \"add\"") >= 3; }, 8000))
      << host.out();
  host.send("QUIT\n");
  const auto result = host.finish();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");

  std::string error;
  const auto events = decode_event_stream(result.out, &error);
  ASSERT_EQ(error, "");
  std::vector<std::string> seen;
  for (const auto& e : events) {
    if (e.type == "add") {
      seen.push_back("add " + e.body["port"]["label"].text);
      EXPECT_EQ(e.body["port"]["address"].text, "usb:0/14/1/3");
    } else if (e.type == "remove") {
      seen.push_back("remove " + e.body["port"]["address"].text);
    }
  }
  ASSERT_GE(seen.size(), 5u);
  EXPECT_EQ(seen[0], "add COM7 Serial");
  EXPECT_EQ(seen[1], "remove usb:0/14/1/3");
  EXPECT_EQ(seen[2].rfind("add hid#vid_16c0&pid_0478", 0), 0u) << seen[2];
  EXPECT_EQ(seen[3], "remove usb:0/14/1/3");
  EXPECT_EQ(seen[4], "add COM7 Serial");
  // The boot loader's model comes from its HID usage, its serial number from hexadecimal.
  const auto& boot = events[4].body["port"]["properties"];
  EXPECT_EQ(boot["modelID"].text, "0x24");
  EXPECT_EQ(boot["serialNumber"].text, "1234567");
}

TEST(SimulatorProcess, FirstListingHoldsTheBoardsPresentAtStart) {
  const auto result = run_process({VORLIN_SIM_EXE, example("hid-only.world")}, "LIST\nQUIT\n");
  EXPECT_EQ(result.exit_status, 0);
  std::string error;
  const auto events = decode_event_stream(result.out, &error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(events.size(), 2u);
  const auto& ports = events[0].body["ports"].items;
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0]["address"].text, "usb:0/14/2");
  EXPECT_EQ(ports[0]["label"].text, "hid#vid_16c0&pid_0486 RawHID");
}

TEST(SimulatorProcess, MalformedWorldFileIsRefusedWithItsLine) {
  const std::string path = ::testing::TempDir() + "/broken.world";
  std::ofstream(path) << "board a\n  usb 16C0:0483\n  colour blue\nend\n";
  const auto result = run_process({VORLIN_SIM_EXE, path}, "");
  EXPECT_EQ(result.exit_status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("broken.world: line 3: unknown board statement 'colour'"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(run_process({VORLIN_SIM_EXE}, "").exit_status, 2);
}

}  // namespace
}  // namespace vorlin
