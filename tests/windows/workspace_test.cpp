// CreateDirectoryChain on real directories under Wine.

#include <gtest/gtest.h>

#include "pipeline_fixture.h"

namespace {

using platform::faults::Action;
using platform::faults::Call;
using platform::faults::Inject;

int Chain(const std::string& path) {
  return CreateDirectoryChain({path.data(), static_cast<int>(path.size())});
}

std::string FirstCreated() {
  return std::string(FirstCreatedDirectory.CString(),
                     FirstCreatedDirectory.length);
}

class WorkspaceTest : public ::testing::Test {
 protected:
  test::Scratch scratch;
  // Without its trailing backslash.
  std::string base = scratch.Root().substr(0, scratch.Root().size() - 1);
};

TEST_F(WorkspaceTest, NothingMissingCreatesNothing) {
  EXPECT_EQ(Chain(base + "\\tmp"), 0);
  EXPECT_TRUE(FirstCreatedDirectory.Empty());
}

TEST_F(WorkspaceTest, OneMissingLevelIsCreatedAndRecorded) {
  EXPECT_EQ(Chain(scratch.Workspace()), 0);
  EXPECT_TRUE(test::IsDirectory(scratch.Workspace()));
  EXPECT_EQ(FirstCreated(), scratch.Workspace());
}

TEST_F(WorkspaceTest, SeveralMissingLevelsRecordTheOutermost) {
  EXPECT_EQ(Chain(base + "\\A\\B\\Halvex"), 0);
  EXPECT_TRUE(test::IsDirectory(base + "\\A\\B\\Halvex"));
  EXPECT_EQ(FirstCreated(), base + "\\A");
  // Only an empty directory goes: the exit's single removal leaves both.
  EXPECT_FALSE(::RemoveDirectoryA(FirstCreatedDirectory.CString()));
}

TEST_F(WorkspaceTest, ALaterCallKeepsTheFirstRecord) {
  ASSERT_EQ(Chain(base + "\\first"), 0);
  ASSERT_EQ(Chain(base + "\\second\\inner"), 0);
  EXPECT_TRUE(test::IsDirectory(base + "\\second\\inner"));
  EXPECT_EQ(FirstCreated(), base + "\\first");
}

TEST_F(WorkspaceTest, AFileInThePathGives1000) {
  ASSERT_TRUE(test::WriteWhole(scratch.Workspace(), "not a directory"));
  EXPECT_EQ(Chain(scratch.Workspace() + "\\deeper"), ComponentNotDirectory);
  EXPECT_FALSE(test::IsDirectory(scratch.Workspace() + "\\deeper"));
  EXPECT_TRUE(FirstCreatedDirectory.Empty());
}

TEST_F(WorkspaceTest, RebuildsThePathWithSingleBackslashes) {
  EXPECT_EQ(Chain(base + "\\\\x\\\\\\y\\"), 0);
  EXPECT_TRUE(test::IsDirectory(base + "\\x\\y"));
  EXPECT_EQ(FirstCreated(), base + "\\x");
}

TEST_F(WorkspaceTest, OneComponentCreatesNothing) {
  ASSERT_TRUE(::SetCurrentDirectoryA(scratch.Root().c_str()));
  EXPECT_EQ(Chain("lonely"), 0);
  EXPECT_EQ(Chain("\\\\lonely\\"), 0);
  EXPECT_FALSE(test::IsDirectory(scratch.Root() + "lonely"));
  EXPECT_TRUE(FirstCreatedDirectory.Empty());
}

// The first component is taken unseen; the walk goes on relative to the
// current directory.
TEST_F(WorkspaceTest, LeadingDoubleBackslashIsDropped) {
  ASSERT_TRUE(::SetCurrentDirectoryA(scratch.Root().c_str()));
  ASSERT_TRUE(::CreateDirectoryA("server", nullptr));
  EXPECT_EQ(Chain("\\\\server\\share\\Temp\\Halvex"), 0);
  EXPECT_TRUE(test::IsDirectory(scratch.Root() + "server\\share\\Temp\\Halvex"));
  EXPECT_EQ(FirstCreated(), "server\\share");
}

TEST_F(WorkspaceTest, ComponentsPastTheHundredthAreIgnored) {
  // Relative, so that a hundred components stay within MAX_PATH.
  ASSERT_TRUE(::SetCurrentDirectoryA(scratch.Root().c_str()));
  std::string path = "c";
  for (int component = 2; component <= 100; ++component) path += "\\d";
  ASSERT_TRUE(::CreateDirectoryA("c", nullptr));
  EXPECT_EQ(Chain(path + "\\past\\more"), 0);
  EXPECT_TRUE(test::IsDirectory(scratch.Root() + path));
  EXPECT_FALSE(test::IsDirectory(scratch.Root() + path + "\\past"));
  EXPECT_EQ(FirstCreated(), "c\\d");
}

TEST_F(WorkspaceTest, AFailedCreationGivesItsErrorAndKeepsWhatWasMade) {
  Inject({Call::CreateDirectoryA, Action::Fail, "\\B"});
  EXPECT_EQ(Chain(base + "\\A\\B\\C"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(test::IsDirectory(base + "\\A"));
  EXPECT_FALSE(test::IsDirectory(base + "\\A\\B"));
  EXPECT_EQ(FirstCreated(), base + "\\A");
}

TEST_F(WorkspaceTest, AFailedLookupCountsAsAbsence) {
  Inject({Call::FindFirstFileA, Action::Fail, "\\tmp"});
  EXPECT_EQ(Chain(base + "\\tmp"), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(FirstCreatedDirectory.Empty());
}

}  // namespace
