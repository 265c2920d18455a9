// The work loops shared by the single-node tests and the worker phases, run
// with the test build's small counts in a scratch directory of their own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "state/work_counts.h"
#include "workloads/handling_loops.h"
#include "workloads/high_loops.h"
#include "workloads/low_loops.h"

namespace fs = std::filesystem;

namespace {

class LoopsTest : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    directory_ = fs::temp_directory_path() /
                 ("orvantic-loops-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                  "-" + testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    fs::current_path(directory_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(directory_);
  }

  static std::string Contents(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Plant(const char* name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
  }

  fs::path previous_;
  fs::path directory_;
  std::ostringstream console_;
};

const char* FixedName() { return "scratch.tmp"; }
const char* UnreachableName() { return "no-such-directory/scratch.tmp"; }

TEST_F(LoopsTest, HandlingLoopsTruncateAndRemoveTheirFile) {
  Plant(FixedName(), "left over from an earlier run");
  std::ofstream write;
  std::ifstream read;
  EXPECT_EQ(HandleFilesWithStreams(write, read, 5, FixedName), 0);
  EXPECT_FALSE(fs::exists(FixedName()));
  EXPECT_FALSE(write.is_open());
  EXPECT_FALSE(read.is_open());

  int descriptor = -2;
  EXPECT_EQ(HandleFilesWithDescriptors(descriptor, 5, FixedName), 0);
  EXPECT_FALSE(fs::exists(FixedName()));
  EXPECT_GE(descriptor, 0);
}

TEST_F(LoopsTest, HandlingLoopsCountEveryFailedOpenAndGoOn) {
  std::ofstream write;
  std::ifstream read;
  EXPECT_EQ(HandleFilesWithStreams(write, read, 7, UnreachableName), 14);
  int descriptor = 0;
  EXPECT_EQ(HandleFilesWithDescriptors(descriptor, 7, UnreachableName), 7);
  EXPECT_EQ(descriptor, -1);
}

TEST_F(LoopsTest, LowPassesWriteAndReadTheWholeFileOnce) {
  Plant(FixedName(), std::string(kLowFirstPass + 100, 'x'));
  std::ofstream write;
  std::int64_t slot = 0;
  const std::int64_t count = kLowFirstPass / 3;  // as for rank 2
  EXPECT_EQ(WriteLowPasses(write, FixedName(), slot, count), 0);
  EXPECT_EQ(slot, count);
  EXPECT_TRUE(write.is_open());  // left open, every byte flushed
  EXPECT_EQ(Contents(FixedName()), std::string(kLowFirstPass, kLowByte));

  std::ifstream read;
  char last = 0;
  slot = 0;
  EXPECT_EQ(ReadLowPasses(console_, read, FixedName(), slot, count, last), 0);
  EXPECT_EQ(slot, count);
  EXPECT_EQ(last, kLowByte);
}

TEST_F(LoopsTest, LowReadOfMissingFileSaysSoAndCountsEveryAccess) {
  std::ifstream read;
  std::int64_t slot = 0;
  char last = 'k';
  const long long failed = ReadLowPasses(console_, read, FixedName(), slot, kLowSecondPass, last);
  EXPECT_EQ(console_.str(), "Unable to open file\n");
  EXPECT_EQ(failed, 1 + kLowAccesses);
  EXPECT_EQ(last, 'k');
}

TEST_F(LoopsTest, LowWriteToUnreachableFileCountsEveryAccess) {
  std::ofstream write;
  std::int64_t slot = 0;
  EXPECT_EQ(WriteLowPasses(write, UnreachableName(), slot, kLowSecondPass), 1 + kLowAccesses);
}

TEST_F(LoopsTest, HighPassesCopyAnOddSizedFileExactly) {
  const std::string bytes = "0123456";  // odd size: pass 2 rounds down
  const std::int64_t expected = static_cast<std::int64_t>(bytes.size());
  Plant(FixedName(), bytes);
  for (std::int64_t divisor : {2, 3}) {
    std::ifstream read;
    std::int64_t size = -5;
    char* block = nullptr;
    EXPECT_EQ(ReadHighPasses(console_, read, FixedName(), HoldsSizableFile(FixedName()), expected,
                             size, block, divisor), 0);
    ASSERT_EQ(size, 7);
    ASSERT_NE(block, nullptr);
    // Pass 2 rereads the bytes from offset size / divisor into the block's start.
    const std::int64_t half = size / divisor;
    EXPECT_EQ(std::string(block, half), bytes.substr(half, half));

    std::ofstream write;
    Plant("copy", "a much longer stale copy from before");
    EXPECT_EQ(WriteHighPasses(write, "copy", size, block, divisor, true), 0);
    write.close();
    // Pass 2 writes the block's first part again at offset size / divisor;
    // the stale longer copy is gone.
    const std::string head(block, half);
    EXPECT_EQ(Contents("copy"), head + head + std::string(block + 2 * half, size - 2 * half));
    ReleasePageAlignedBlock(block);
  }
}

TEST_F(LoopsTest, HighReadOfAShortFileCountsTheMissingBytesAsFailed) {
  // Empty, then shorter than the work the rate stands for: what is there is
  // read, every byte missing is a failed operation.
  for (const std::string& bytes : {std::string(), std::string(1000, kLowByte)}) {
    Plant(FixedName(), bytes);
    std::ifstream read;
    std::int64_t size = -5;
    char* block = nullptr;
    const std::int64_t found = static_cast<std::int64_t>(bytes.size());
    EXPECT_EQ(ReadHighPasses(console_, read, FixedName(), HoldsSizableFile(FixedName()), kLowFirstPass,
                             size, block, 2), kLowFirstPass - found);
    EXPECT_EQ(size, found);
    EXPECT_EQ(console_.str(), "");
    ReleasePageAlignedBlock(block);
  }
}

TEST_F(LoopsTest, HighReadOfAnUnreadableNameGivesAnEmptyBlockNotACrash) {
  // First a missing file, then a directory at the name: some file systems
  // report a directory's end offset as 2^63 - 1.
  for (const bool directory : {false, true}) {
    if (directory) {
      fs::create_directory(FixedName());
      std::ofstream(std::string(FixedName()) + "/inside") << "keeps the directory non-empty";
    }
    std::ifstream read;
    std::int64_t size = 99;
    char* block = nullptr;
    std::ostringstream console;
    EXPECT_EQ(ReadHighPasses(console, read, FixedName(), HoldsSizableFile(FixedName()), kLowFirstPass,
                             size, block, 2), 1 + kLowFirstPass);
    EXPECT_EQ(console.str(), "Unable to open file\n");
    EXPECT_EQ(size, 0);
    ASSERT_NE(block, nullptr);

    // Writing the empty block is no measurement: it counts as failed.
    std::ofstream write;
    EXPECT_EQ(WriteHighPasses(write, "copy", size, block, 2, false), 1);
    write.close();
    EXPECT_TRUE(fs::exists("copy"));
    EXPECT_EQ(fs::file_size("copy"), 0u);
    ReleasePageAlignedBlock(block);
  }
}

TEST(PageAlignedBlock, StartsOnAPageBoundaryForEverySize) {
  const std::size_t page = PageSizeOfSystem();
  // A run under an emulator set to another page size names it, so that a
  // page size taken for granted instead of asked for shows up.
  if (const char* expected = std::getenv("ORVANTIC_EXPECTED_PAGE_SIZE")) {
    EXPECT_EQ(page, std::stoul(expected));
  }
  ASSERT_GE(page, 4096u);
  ASSERT_EQ(page & (page - 1), 0u) << "not a power of two: " << page;
  const std::int64_t bytes = static_cast<std::int64_t>(page);
  // Around one page, and the shipped build's whole scratch file.
  const std::int64_t sizes[] = {0, 1, bytes - 1, bytes, bytes + 1, 16777216};
  for (const std::int64_t size : sizes) {
    char* block = AllocatePageAlignedBlock(size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % page, 0u) << "size " << size;
    // Every byte asked for is there to be written.
    block[size > 0 ? size - 1 : 0] = kLowByte;
    ReleasePageAlignedBlock(block);
  }
}

}  // namespace
