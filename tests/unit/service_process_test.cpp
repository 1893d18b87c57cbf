// The built service, run the way a host runs it: commands on a pipe, one per line.
#include <gtest/gtest.h>

#include <string>

#include "host_view.h"
#include "process_runner.h"
#include "protocol/event_writer.h"

namespace vorlin {
namespace {

using testing::run_process;

const std::string empty_list = "{\n\"eventType\": \"list\",\n\"ports\": [\n]\n}\n";

TEST(ServiceProcess, HostSessionIsAnsweredByteForByte) {
  const auto result = run_process(
      {VORLIN_SERVICE_EXE}, "HELLO 1 \"me\"\nLIST\nSTART\nSTOP\nSTART_SYNC\nLIST\nQUIT\nLIST\n");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, std::string(hello_reply) + empty_list + start_reply + stop_reply +
                            start_sync_reply + empty_list + quit_reply);
}

TEST(ServiceProcess, EndOfInputEndsWithStatusZeroAndNoReply) {
  for (const char* input : {"", "LIST\n", "HELLO 1 \"me\"\nSTART_SYNC", "list\n"}) {
    const auto result = run_process({VORLIN_SERVICE_EXE}, input);
    EXPECT_EQ(result.exit_status, 0) << input;
    EXPECT_EQ(result.err, "") << input;
    std::string error;
    testing::decode_event_stream(result.out, &error);
    EXPECT_EQ(error, "") << input;
    EXPECT_EQ(result.out.find("quit"), std::string::npos);
  }
}

TEST(ServiceProcess, OddBytesOnInputAreHandledAsTheLoopDefines) {
  std::string input = "LIST\r\n";
  input += std::string("\0LIST\n", 6);       // a NUL byte ends the line for the matcher
  input += "\xff\xfeSTOP\n\r\n";             // bytes above 0x7F and a carriage return alone
  input += std::string(100000, 'L') + "\n";  // a very long line, read in pieces
  input += "STOP";                           // ends in the middle of a line
  const auto result = run_process({VORLIN_SERVICE_EXE}, input);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, empty_list + stop_reply);
}

TEST(ServiceProcess, APieceOfAHugeLineThatBeginsWithACommandIsThatCommand) {
  // 100,000 characters read 255 at a time: the piece at offset 255 * 300 begins with QUIT.
  std::string input = "HELLO 1 \"\xc3\xa9\xff\"\n";  // a name of bytes above 0x7F
  input += std::string(255 * 300, 'x') + "QUIT";
  input += std::string(100000 - input.size(), 'y') + "\nLIST\n";
  const auto result = run_process({VORLIN_SERVICE_EXE}, input);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, std::string(hello_reply) + quit_reply);
}

}  // namespace
}  // namespace vorlin
