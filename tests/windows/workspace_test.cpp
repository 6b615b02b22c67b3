// The workspace on real directories under Wine: the chain of missing levels,
// the fresh workspace of every run and its security. Real where Wine shows
// it (an existing entry of any kind left alone, the closed DACL read back,
// the hold against renaming, a swap for a folder open to others, a file or
// a folder with something in it), through the platform layer where it
// cannot (the descriptor passed at creation, other tokens, another owner, a
// reparse point, security that cannot be read).

#include <gtest/gtest.h>

#include <regex>

#include "account.h"
#include "platform.h"
#include "pipeline_fixture.h"

namespace {

using platform::faults::Action;
using platform::faults::Call;
using platform::faults::Inject;
namespace faults = platform::faults;

int Chain(const std::string& path, std::string* rebuilt = nullptr) {
  const std::wstring wide = faults::Wide(path);
  Text accumulated;
  const int result = CreateDirectoryChain(
      {wide.data(), static_cast<int>(wide.size())}, accumulated);
  if (rebuilt) *rebuilt = faults::Utf8(accumulated.CString());
  return result;
}

int Workspace(const std::string& temporaryPath) {
  const std::wstring wide = faults::Wide(temporaryPath);
  return CreateWorkspace({wide.data(), static_cast<int>(wide.size())});
}

std::string FirstCreated() { return test::Utf8(FirstCreatedDirectory); }
std::string Created() { return test::Utf8(WorkspaceDirectory); }

class WorkspaceTest : public ::testing::Test {
 protected:
  test::Scratch scratch;
  // Without its trailing backslash.
  std::string base = scratch.Root().substr(0, scratch.Root().size() - 1);
};

// --- the chain of missing levels above the workspace --------------------------

TEST_F(WorkspaceTest, NothingMissingCreatesNothing) {
  EXPECT_EQ(Chain(base + "\\tmp"), 0);
  EXPECT_TRUE(FirstCreatedDirectory.Empty());
}

TEST_F(WorkspaceTest, SeveralMissingLevelsRecordTheOutermost) {
  EXPECT_EQ(Chain(base + "\\A\\B\\C"), 0);
  EXPECT_TRUE(test::IsDirectory(base + "\\A\\B\\C"));
  EXPECT_EQ(FirstCreated(), base + "\\A");
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
  std::string rebuilt;
  EXPECT_EQ(Chain(base + "\\\\x\\\\\\y\\", &rebuilt), 0);
  EXPECT_EQ(rebuilt, base + "\\x\\y");
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
  EXPECT_EQ(Chain("\\\\server\\share\\Temp"), 0);
  EXPECT_TRUE(test::IsDirectory(scratch.Root() + "server\\share\\Temp"));
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
  Inject({Call::CreateDirectoryW, Action::Fail, "\\B"});
  EXPECT_EQ(Chain(base + "\\A\\B\\C"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(test::IsDirectory(base + "\\A"));
  EXPECT_FALSE(test::IsDirectory(base + "\\A\\B"));
  EXPECT_EQ(FirstCreated(), base + "\\A");
}

TEST_F(WorkspaceTest, AFailedLookupCountsAsAbsence) {
  Inject({Call::FindFirstFileW, Action::Fail, "\\tmp"});
  EXPECT_EQ(Chain(base + "\\tmp"), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(FirstCreatedDirectory.Empty());
}

// --- a fresh workspace for every run --------------------------------------------

const std::regex SiblingPattern("Halvex-[0-9a-f]{8}");

// Real: whatever «Halvex» is, it is left exactly as it was, and the run gets
// a sibling of its own; two runs never share one.
TEST_F(WorkspaceTest, AnExistingEntryIsLeftAndASiblingIsCreated) {
  const struct {
    const char* name;
    std::function<void(const std::string&)> make;
  } entries[] = {
      {"own closed folder",
       [](const std::string& path) {
         ASSERT_TRUE(::CreateDirectoryA(path.c_str(), ClosedSecurity()));
       }},
      {"folder open to everyone",
       [](const std::string& path) {
         ASSERT_TRUE(::CreateDirectoryA(path.c_str(), nullptr));
         ASSERT_TRUE(test::SetDacl(path, "D:(A;OICI;FA;;;WD)"));
       }},
      {"file", [](const std::string& path) {
         ASSERT_TRUE(test::WriteWhole(path, "a file"));
       }}};
  for (const auto& entry : entries) {
    SCOPED_TRACE(entry.name);
    test::Scratch fresh;
    entry.make(fresh.Workspace());
    if (test::IsDirectory(fresh.Workspace()))
      ASSERT_TRUE(test::WriteWhole(fresh.InWorkspace("planted.dll"), "x"));
    const std::string security = test::SecurityOf(fresh.Workspace());
    const DWORD attributes = test::Attributes(fresh.Workspace());

    ASSERT_EQ(Workspace(fresh.Temp()), 0);
    const std::string first = Created();
    EXPECT_TRUE(std::regex_match(first.substr(fresh.Temp().size()),
                                 SiblingPattern)) << first;
    EXPECT_TRUE(test::IsDirectory(first));
    RemoveWorkspace();
    ASSERT_EQ(Workspace(fresh.Temp()), 0);
    EXPECT_NE(Created(), first);
    RemoveWorkspace();

    EXPECT_EQ(fresh.TempEntries(), std::vector<std::string>{"Halvex"});
    EXPECT_EQ(test::Attributes(fresh.Workspace()), attributes);
    EXPECT_EQ(test::SecurityOf(fresh.Workspace()), security);
    if (test::IsDirectory(fresh.Workspace()))
      EXPECT_EQ(test::ReadWhole(fresh.InWorkspace("planted.dll")), "x");
  }
}

// With nothing there the name is «Halvex», as it always was.
TEST_F(WorkspaceTest, NothingThereGivesHalvex) {
  ASSERT_EQ(Workspace(scratch.Temp()), 0);
  EXPECT_EQ(Created(), scratch.Workspace());
  EXPECT_EQ(FirstCreated(), scratch.Workspace());
  EXPECT_EQ(faults::CountCalls(Call::RtlGenRandom), 0);
}

// Taken names are retried a bounded number of times, each from the random
// source; any other failure, or a random source that fails, ends at once.
TEST_F(WorkspaceTest, TakenNamesAreRetriedABoundedNumberOfTimes) {
  const struct {
    const char* name;
    faults::Fault fault;
    faults::Fault random;
    int result, creations;
  } cases[] = {
      {"always taken",
       {Call::CreateDirectoryW, Action::Fail, "Halvex", 0, 0, 100,
        ERROR_ALREADY_EXISTS},
       {Call::RtlGenRandom, Action::Pass},
       ERROR_ALREADY_EXISTS, 17},
      {"denied",
       {Call::CreateDirectoryW, Action::Fail, "Halvex", 0, 0, 100,
        ERROR_ACCESS_DENIED},
       {Call::RtlGenRandom, Action::Pass},
       ERROR_ACCESS_DENIED, 1},
      {"no random source",
       {Call::CreateDirectoryW, Action::Fail, "Halvex", 0, 0, 1,
        ERROR_ALREADY_EXISTS},
       {Call::RtlGenRandom, Action::Fail},
       ERROR_ALREADY_EXISTS, 1},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.name);
    test::Scratch fresh;
    Inject(each.fault);
    Inject(each.random);
    EXPECT_EQ(Workspace(fresh.Temp()), each.result);
    EXPECT_EQ(faults::CountCalls(Call::CreateDirectoryW), each.creations);
    EXPECT_TRUE(WorkspaceDirectory.Empty());
    EXPECT_TRUE(fresh.TempEntries().empty());
  }
}

// Real: the held workspace can be neither renamed nor removed by anyone
// until the run lets it go, while files are still made in it.
TEST_F(WorkspaceTest, TheHeldWorkspaceCannotBeRenamedOrRemoved) {
  ASSERT_EQ(Workspace(scratch.Temp()), 0);
  const std::wstring held = faults::Wide(scratch.Workspace());
  const std::wstring moved = faults::Wide(scratch.Temp() + "moved");
  EXPECT_FALSE(::MoveFileW(held.c_str(), moved.c_str()));
  EXPECT_EQ(::GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(::RemoveDirectoryW(held.c_str()));
  EXPECT_TRUE(test::WriteWhole(scratch.InWorkspace("setup.ex_"), "x"));
  ASSERT_TRUE(::DeleteFileW((held + L"\\setup.ex_").c_str()));
  CloseWorkspaceEntry();
  EXPECT_TRUE(::MoveFileW(held.c_str(), moved.c_str())) << ::GetLastError();
}

// The clean-up removes the workspace and every level the run created, from
// the inside out, and stops at a level that is not empty.
TEST_F(WorkspaceTest, RemovingTakesEveryCreatedLevelThatIsEmpty) {
  ASSERT_EQ(Workspace(scratch.Temp() + "A\\B\\"), 0);
  EXPECT_EQ(Created(), scratch.Temp() + "A\\B\\Halvex");
  EXPECT_EQ(FirstCreated(), scratch.Temp() + "A");
  RemoveWorkspace();
  EXPECT_TRUE(scratch.TempEntries().empty());
  EXPECT_TRUE(WorkspaceDirectory.Empty());

  ASSERT_EQ(Workspace(scratch.Temp() + "A\\B\\"), 0);
  ASSERT_TRUE(test::WriteWhole(scratch.Temp() + "A\\B\\other.txt", "x"));
  RemoveWorkspace();
  EXPECT_FALSE(test::IsDirectory(scratch.Temp() + "A\\B\\Halvex"));
  EXPECT_TRUE(test::IsFile(scratch.Temp() + "A\\B\\other.txt"));
  // Nothing is recorded any more: a second removal touches nothing.
  ASSERT_TRUE(::CreateDirectoryA(scratch.Workspace().c_str(), nullptr));
  RemoveWorkspace();
  EXPECT_TRUE(test::IsDirectory(scratch.Workspace()));
}

// --- the workspace's security ---------------------------------------------------

// Through the platform layer: the exact descriptor, for every level created.
TEST_F(WorkspaceTest, CreatedDirectoriesGetTheClosedDescriptor) {
  ASSERT_EQ(Workspace(scratch.Temp() + "A\\"), 0);
  const auto& given = faults::SecuritiesGiven();
  ASSERT_EQ(given.size(), 2u);
  EXPECT_EQ(given[0].path, scratch.Temp() + "A");
  EXPECT_EQ(given[1].path, scratch.Temp() + "A\\Halvex");
  for (const auto& record : given) {
    // Owner, group and SACL are left to the platform's defaults.
    EXPECT_EQ(test::Sddl(record.descriptor.data(),
                         OWNER_SECURITY_INFORMATION |
                             GROUP_SECURITY_INFORMATION |
                             DACL_SECURITY_INFORMATION |
                             SACL_SECURITY_INFORMATION),
              test::ClosedDacl());
    const auto* header = reinterpret_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(
        record.descriptor.data());
    EXPECT_EQ(header->Control,
              SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED);
    EXPECT_EQ(record.descriptor.size(),
              test::Descriptor(test::ClosedDacl()).size());
  }
}

// Real: Wine keeps a directory created closed without an entry for others.
TEST_F(WorkspaceTest, ACreatedWorkspaceReadsBackClosed) {
  ASSERT_EQ(Workspace(scratch.Temp()), 0);
  const std::string security = test::SecurityOf(scratch.Workspace());
  EXPECT_FALSE(test::GrantsOthers(security)) << security;
}

// Through the platform layer, as Wine's token is always the same: the closed
// DACL's third entry is the token's default owner, the run is privileged by
// its elevation or as SYSTEM, whoever its default owner is, and the user
// owns the run's entries only where the default owner is not
// Administrators.
TEST_F(WorkspaceTest, TheTokenDecidesTheClosedDaclAndThePrivilege) {
  // Whether a closed folder its user owns counts as the run's own: beside an
  // elevated token's Administrators it never does, since the same user's
  // unelevated programs could have made it.
  const struct {
    const char* name;
    const char* user;
    const char* owner;
    bool elevated, privileged, userOwnsRunsEntries;
  } tokens[] = {
      {"user", "S-1-5-21-1-2-3-1001", "S-1-5-21-1-2-3-1001", false, false, true},
      {"elevated administrator", "S-1-5-21-1-2-3-500", "BA", true, true, false},
      {"elevated, owned by its user", "S-1-5-21-1-2-3-500",
       "S-1-5-21-1-2-3-500", true, true, true},
      {"SYSTEM", "SY", "SY", false, true, true},
      {"Wine's, with a group as owner", "S-1-5-21-0-0-0-1000",
       "S-1-5-21-0-0-0-513", true, true, true},
  };
  const std::wstring folder = faults::Wide(scratch.Temp());
  for (const auto& token : tokens) {
    SCOPED_TRACE(token.name);
    faults::Reset();
    faults::AlterToken(token.user, token.owner, token.elevated);
    Inject({Call::GetTokenInformation, Action::Alter, "", 0, 0, 3});
    ASSERT_TRUE(ReadRunAccount());
    EXPECT_EQ(PrivilegedRun(), token.privileged);
    EXPECT_EQ(test::Sddl(ClosedSecurity()->lpSecurityDescriptor),
              test::ClosedDaclFor(token.owner));
    faults::AlterSecurity(test::Descriptor(std::string("O:") + token.user +
                                           test::ClosedDaclFor(token.owner)));
    Inject({Call::GetKernelObjectSecurity, Action::Alter});
    HANDLE entry = platform::OpenDirectoryEntry(folder.c_str());
    ASSERT_NE(entry, INVALID_HANDLE_VALUE);
    EXPECT_EQ(TrustedEntry(entry, true, true), token.userOwnsRunsEntries);
    ::CloseHandle(entry);
  }
}

// What was created is judged before it is held: anything swapped in for it
// in the meantime is refused, neither held nor recorded, and left as it is.
TEST_F(WorkspaceTest, ASwapBetweenCreationAndHoldIsRefused) {
  const std::string owner = test::DefaultOwnerSid();
  const struct {
    const char* name;
    // Done to «Halvex» right after its creation; real under Wine.
    std::function<void(const std::string&)> swap;
    faults::Fault fault;  // else what the platform layer pretends
    std::string security;
  } cases[] = {
      {"a folder open to everyone",
       [](const std::string& path) {
         ASSERT_TRUE(::MoveFileA(path.c_str(), (path + ".away").c_str()));
         ASSERT_TRUE(::CreateDirectoryA(path.c_str(), nullptr));
         ASSERT_TRUE(test::SetDacl(path, "D:(A;OICI;FA;;;WD)"));
       }},
      {"a closed folder with a DLL in it",
       [](const std::string& path) {
         ASSERT_TRUE(::MoveFileA(path.c_str(), (path + ".away").c_str()));
         ASSERT_TRUE(::CreateDirectoryA(path.c_str(), ClosedSecurity()));
         ASSERT_TRUE(test::WriteWhole(path + "\\version.dll", "x"));
       }},
      {"a file",
       [](const std::string& path) {
         ASSERT_TRUE(::MoveFileA(path.c_str(), (path + ".away").c_str()));
         ASSERT_TRUE(test::WriteWhole(path, "a file"));
       }},
      {"a link", nullptr, {Call::GetFileInformationByHandle, Action::Alter}},
      {"a folder of another account", nullptr,
       {Call::GetKernelObjectSecurity, Action::Alter},
       "O:S-1-5-21-1-2-3-1001" + test::ClosedDacl()},
      {"a folder owned by SYSTEM", nullptr,
       {Call::GetKernelObjectSecurity, Action::Alter}, "O:SY" + test::ClosedDacl()},
      {"a folder others may write in", nullptr,
       {Call::GetKernelObjectSecurity, Action::Alter},
       "O:" + owner + "D:(A;;FA;;;SY)(A;OICI;0x2;;;BU)"},
      {"unreadable security", nullptr, {Call::GetKernelObjectSecurity}},
      {"an entry that cannot be opened", nullptr, {Call::OpenDirectoryEntry}},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.name);
    test::Scratch fresh;
    if (each.swap)
      faults::SwapAfterCreation("Halvex", [&] { each.swap(fresh.Workspace()); });
    else
      Inject(each.fault);
    if (!each.security.empty())
      faults::AlterSecurity(test::Descriptor(each.security));
    EXPECT_EQ(Workspace(fresh.Temp()), WorkspaceNotOwn);
    EXPECT_EQ(WorkspaceEntry, nullptr);
    EXPECT_TRUE(WorkspaceDirectory.Empty());
    const DWORD found = test::Attributes(fresh.Workspace());
    RemoveWorkspace();
    EXPECT_NE(found, 0u);
    EXPECT_EQ(test::Attributes(fresh.Workspace()), found);
  }
}

// Owner and DACL as another tool may have left them; the judging reads
// only what denies or grants planting rights.
TEST_F(WorkspaceTest, OnlyRightsThatLetOthersPlantAreRefused) {
  const std::string owner = "O:" + test::DefaultOwnerSid();
  const std::string other = "S-1-5-21-1-2-3-1001";
  std::string oversized = owner + "D:";
  for (int ace = 0; ace < 60; ++ace)
    oversized += "(A;OICI;FR;;;S-1-5-21-1-2-3-" + std::to_string(2000 + ace) + ")";
  const struct {
    std::string security;
    bool accepted;
  } cases[] = {
      {owner + "D:(A;;FA;;;SY)(A;OICI;0x4;;;AU)", false},        // folders
      {owner + "D:(A;;FA;;;SY)(A;OICIIO;FA;;;WD)", false},       // inside
      {owner + "D:(A;;FA;;;SY)(A;;SD;;;" + other + ")", false},  // delete
      {owner + "D:(A;;FA;;;SY)(A;;WD;;;" + other + ")", false},  // the DACL
      {owner + "D:(A;;FA;;;SY)(A;;WO;;;" + other + ")", false},  // the owner
      {owner + "D:(A;;FA;;;SY)(A;;GW;;;" + other + ")", false},
      {owner + "D:(A;;FA;;;SY)(A;;GA;;;" + other + ")", false},
      {owner + "D:(A;;FA;;;SY)(A;;0x40;;;" + other + ")", false},  // children
      {owner, false},      // no DACL at all
      {oversized, false},  // larger than read: refused, not cut short
      {test::ClosedDacl(), false},  // no owner
      // Reading, listing and traversing are no planting; denials take nothing.
      {owner + "D:(D;;FA;;;WD)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)",
       true},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.security);
    test::Scratch fresh;
    faults::AlterSecurity(test::Descriptor(each.security));
    Inject({Call::GetKernelObjectSecurity, Action::Alter});
    EXPECT_EQ(Workspace(fresh.Temp()), each.accepted ? 0 : WorkspaceNotOwn);
  }
}

// A token that cannot be read leaves the run without a workspace: nothing
// is created.
TEST_F(WorkspaceTest, AnUnreadableTokenCreatesNothing) {
  for (Call call : {Call::OpenProcessToken, Call::GetTokenInformation}) {
    test::Scratch fresh;
    Inject({call, Action::Fail});
    EXPECT_FALSE(ReadRunAccount());
    EXPECT_EQ(Workspace(fresh.Temp()), WorkspaceNotOwn);
    EXPECT_EQ(faults::CountCalls(Call::CreateDirectoryW), 0);
  }
}

}  // namespace
