// The fuzz targets' seeds and every input that once broke a check, replayed in the ordinary suite
// (and so under every sanitizer preset).
#include "scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vorlin {
namespace {

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

template <typename Run>
void replay_corpus(const char* target, Run run) {
  const std::filesystem::path corpus =
      std::filesystem::path(VORLIN_SOURCE_DIR) / "tests" / "fuzz" / "corpus" / target;
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    EXPECT_EQ(run(read_file(entry.path())), "") << entry.path().filename();
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

TEST(Scenario, FuzzSeedsHoldEveryCheck) {
  replay_corpus("scenario", [](const std::string& bytes) { return testing::run_scenario(bytes); });
  replay_corpus("command_loop",
                [](const std::string& bytes) { return testing::run_command_stream(bytes); });
}

}  // namespace
}  // namespace vorlin
