#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/world/world_file.h"

namespace vorlin::world {
namespace {

// Every shipped example parses and its timeline only names its own boards.
TEST(ExampleWorlds, AllParse) {
  const std::filesystem::path dir = std::filesystem::path(VORLIN_SOURCE_DIR) / "examples";
  int count = 0;
  for (const auto& file : std::filesystem::directory_iterator(dir)) {
    if (file.path().extension() != ".world") continue;
    ++count;
    world_description d;
    std::string error;
    EXPECT_TRUE(load_world_file(file.path().string(), d, error)) << error;
    EXPECT_FALSE(d.boards.empty()) << file.path();
  }
  EXPECT_GE(count, 6);
}

}  // namespace
}  // namespace vorlin::world
