// The platform layer's file-safety and directory calls.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path FreshDirectory(const char* name) {
  const fs::path directory = fs::temp_directory_path() / name;
  fs::remove_all(directory);
  fs::create_directories(directory);
  return directory;
}

TEST(NameKinds, ALinkIsRemovedNeverItsTarget) {
  const fs::path directory = FreshDirectory("orvantic-platform-link");
  const fs::path target = directory / "someone-elses-file";
  std::ofstream(target) << "keep me";
  const fs::path link = directory / "data64-windows-mx-single.tmp";
  std::error_code error;
  fs::create_symlink(target, link, error);
  if (error) {
    fs::remove_all(directory);
    // Wine: MinGW's library does not call Windows, and Wine's call is a stub.
    GTEST_SKIP() << "this system cannot create a symbolic link: " << error.message();
  }

  EXPECT_EQ(KindOfName(link.string().c_str()), NameKind::SymbolicLink);
  EXPECT_TRUE(RemoveName(link.string().c_str()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  std::ifstream kept(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
  fs::remove_all(directory);
}

TEST(NameKinds, TellsPlainFilesFromLinkedOnesDirectoriesAndNothing) {
  const fs::path directory = FreshDirectory("orvantic-platform-kinds");
  const fs::path file = directory / "file";
  std::ofstream(file) << "keep me";
  EXPECT_EQ(KindOfName(file.string().c_str()), NameKind::PlainFile);
  EXPECT_EQ(KindOfName(directory.string().c_str()), NameKind::Directory);
  EXPECT_EQ(KindOfName((directory / "missing").string().c_str()), NameKind::Nothing);
  std::error_code error;
  fs::create_hard_link(file, directory / "second-link", error);
  if (!error) {
    EXPECT_EQ(KindOfName(file.string().c_str()), NameKind::LinkedFile);
  }
  fs::remove_all(directory);
}

TEST(CreateNewFile, NeverOpensATakenNameAndKnowsTheFileItMade) {
  const fs::path directory = FreshDirectory("orvantic-platform-create");
  const std::string name = (directory / "results.txt").string();
  const std::string neighbour = (directory / "results (2).txt").string();
  // Each file's identity taken twice: from the handle that created it and
  // from its name.
  FileIdentity created;
  FileIdentity found;
  FileIdentity neighbourCreated;
  FileIdentity neighbourFound;
  ASSERT_EQ(CreateNewFile(name.c_str(), created), Creation::Created);
  ASSERT_EQ(CreateNewFile(neighbour.c_str(), neighbourCreated), Creation::Created);
  std::ofstream(name) << "a report";
  ASSERT_TRUE(IdentityOfName(name.c_str(), found));
  ASSERT_TRUE(IdentityOfName(neighbour.c_str(), neighbourFound));
  EXPECT_TRUE(found == created);
  EXPECT_TRUE(neighbourFound == neighbourCreated);
  // Two files on one volume: the file's own number must tell them apart.
  EXPECT_FALSE(neighbourCreated == created);
  EXPECT_FALSE(neighbourFound == found);

  FileIdentity again;
  EXPECT_EQ(CreateNewFile(name.c_str(), again), Creation::NameTaken);
  EXPECT_EQ(fs::file_size(name), 8u);
  EXPECT_EQ(CreateNewFile((directory / "missing" / "x").string().c_str(), again), Creation::Failed);
  EXPECT_FALSE(IdentityOfName((directory / "missing").string().c_str(), found));
  fs::remove_all(directory);
}

TEST(HeldFile, OneHolderAtATimeWhoseNameTheOthersRead) {
  const fs::path directory = FreshDirectory("orvantic-platform-held");
  const std::string claim = (directory / "data64-windows-mx-single.claim").string();
  // Left by a run that was killed: no lock on it any more, so it is taken over.
  std::ofstream(claim) << "process 7 on node09";
  HeldFile held;
  ASSERT_EQ(HoldFileAt(claim.c_str(), "process 1 on node01", held), Hold::Taken);
  EXPECT_EQ(HolderOfFileAt(claim.c_str()), "process 1 on node01");

  // Another opening of the name, as another run makes it, finds it held and
  // leaves it as it is.
  HeldFile second;
  EXPECT_EQ(HoldFileAt(claim.c_str(), "process 2 on node02", second), Hold::HeldByAnother);
  EXPECT_EQ(HolderOfFileAt(claim.c_str()), "process 1 on node01");

  // Released: the name is gone, and free for the next run.
  ReleaseFileAt(claim.c_str(), held);
  EXPECT_FALSE(fs::exists(claim));
  ASSERT_EQ(HoldFileAt(claim.c_str(), "process 2 on node02", second), Hold::Taken);
  ReleaseFileAt(claim.c_str(), second);

  // Where the claim file cannot be made, nothing is held and nothing stops.
  const std::string unreachable = (directory / "missing" / "x.claim").string();
  EXPECT_EQ(HoldFileAt(unreachable.c_str(), "process 3 on node03", held), Hold::Failed);
  fs::remove_all(directory);
}

// Climbs out of `levels` nested `component` folders, removing each on the
// way: relative names reach where absolute paths are too long.
void ClimbOutRemoving(const std::string& component, int levels) {
  for (; levels > 0; --levels) {
    fs::current_path("..");
    fs::remove(component);
  }
}

TEST(SamePlace, FindsOneDirectoryByEveryPathAndNoOtherOne) {
  const fs::path directory = FreshDirectory("orvantic-platform-place");
  const fs::path one = directory / "one";
  const fs::path other = directory / "other";
  fs::create_directories(one / "below");
  fs::create_directories(other);
  const auto same = [](const fs::path& first, const fs::path& second) {
    return SamePlace(first.string().c_str(), second.string().c_str());
  };
  EXPECT_TRUE(same(one, one / "below" / ".."));
  EXPECT_FALSE(same(one, other));
  EXPECT_FALSE(same(one, directory / "missing"));
  EXPECT_FALSE(same(directory / "missing", directory / "missing"));

  // Another node may reach the directory through a link of its own.
  std::error_code error;
  fs::create_directory_symlink(one, directory / "link", error);
  if (!error) {
    EXPECT_TRUE(same(directory / "link", one));
  }
  fs::remove_all(directory);
  if (error) GTEST_SKIP() << "this system cannot create a symbolic link: " << error.message();
}

TEST(CurrentDirectory, HoldsADirectoryDeeperThanAnyFixedBuffer) {
  const fs::path previous = fs::current_path();
  const fs::path deep = fs::temp_directory_path() / "orvantic-deep";
  fs::remove_all(deep);
  fs::create_directories(deep);
  fs::current_path(deep);
  // Step down relative to the current directory: an absolute path this long
  // is refused by the kernel.
  const std::string component(200, 'd');
  std::size_t expectedLength = fs::current_path().string().size();
  int levels = 0;
  bool readable = true;
  while (levels < 30 && readable) {
    fs::create_directory(component);
    fs::current_path(component);
    ++levels;
    expectedLength += 1 + component.size();
    // Wine cannot read back a current directory past 259 characters, and
    // one much deeper crashes the process: go no further than it reads.
    std::error_code error;
    readable = fs::current_path(error).string().size() == expectedLength;
  }
  const std::string directory = CurrentDirectory();
  ClimbOutRemoving(component, levels);
  fs::current_path(previous);
  fs::remove(deep);
  if (!readable) {
    EXPECT_EQ(directory, "") << "a directory the system cannot read is shown as unknown";
    GTEST_SKIP() << "this system cannot read back a current directory of " << expectedLength
                 << " characters";
  }
  EXPECT_GT(directory.size(), 4096u);
  EXPECT_EQ(directory.size(), expectedLength);
}

// The ended processes a claim file may name are the end-to-end suite's.
TEST(ProcessRuns, SeesThisProcessAndNoIdBelowOne) {
  EXPECT_TRUE(ProcessRuns(ProcessId()));
  EXPECT_FALSE(ProcessRuns(0));
  EXPECT_FALSE(ProcessRuns(-1));
}

}  // namespace
