// The platform layer's file-safety and directory calls.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

TEST(RemoveSymbolicLink, RemovesTheLinkNeverItsTarget) {
  const fs::path directory = fs::temp_directory_path() / "orvantic-platform-link";
  fs::remove_all(directory);
  fs::create_directories(directory);
  const fs::path target = directory / "someone-elses-file";
  std::ofstream(target) << "keep me";
  const fs::path link = directory / "data64-windows-mx-single.tmp";
  fs::create_symlink(target, link);

  EXPECT_EQ(RemoveSymbolicLink(link.c_str()), LinkRemoval::Removed);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  std::ifstream kept(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");

  // A regular file and a missing name are left as they are.
  EXPECT_EQ(RemoveSymbolicLink(target.c_str()), LinkRemoval::NoLink);
  EXPECT_TRUE(fs::exists(target));
  EXPECT_EQ(RemoveSymbolicLink(link.c_str()), LinkRemoval::NoLink);
  fs::remove_all(directory);
}

TEST(CurrentDirectory, HoldsADirectoryDeeperThanAnyFixedBuffer) {
  const fs::path previous = fs::current_path();
  fs::path deep = fs::temp_directory_path() / "orvantic-deep";
  fs::remove_all(deep);
  fs::create_directories(deep);
  fs::current_path(deep);
  // Step down relative to the current directory: an absolute path this long
  // is refused by the kernel.
  const std::string component(200, 'd');
  std::size_t expectedLength = fs::current_path().string().size();
  for (int level = 0; level < 30; ++level) {
    fs::create_directory(component);
    fs::current_path(component);
    expectedLength += 1 + component.size();
  }
  const std::string directory = CurrentDirectory();
  fs::current_path(previous);
  EXPECT_GT(directory.size(), 4096u);
  EXPECT_EQ(directory.size(), expectedLength);
  fs::remove_all(deep);
}

}  // namespace
