// CreateDirectoryChain on real directories under Wine, and the security of
// the workspace: real where Wine shows it (the closed DACL read back, a
// directory open to Everyone refused),
// through the platform layer where it cannot (the descriptor passed at
// creation, other tokens, another owner, a reparse point, security that
// cannot be read).

#include <gtest/gtest.h>

#include "pipeline_fixture.h"

namespace {

using platform::faults::Action;
using platform::faults::Call;
using platform::faults::Inject;
namespace faults = platform::faults;

int Chain(const std::string& path) {
  const std::wstring wide = faults::Wide(path);
  return CreateDirectoryChain({wide.data(), static_cast<int>(wide.size())});
}

std::string FirstCreated() { return test::Utf8(FirstCreatedDirectory); }

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
  EXPECT_FALSE(::RemoveDirectoryW(FirstCreatedDirectory.CString()));
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

// --- the workspace's security ------------------------------------------------

class WorkspaceSecurityTest : public WorkspaceTest {
 protected:
  // An existing workspace with a file left from an earlier run.
  void MakeStaleWorkspace() {
    ASSERT_TRUE(::CreateDirectoryA(scratch.Workspace().c_str(), nullptr));
    ASSERT_TRUE(test::WriteWhole(scratch.InWorkspace("stale.txt"), "stale"));
  }
  // The launcher reads this instead of the workspace's real security.
  static void PretendSecurity(const std::string& sddl) {
    faults::AlterSecurity(test::Descriptor(sddl));
    Inject({Call::GetKernelObjectSecurity, Action::Alter});
  }
  // Refused as it is: nothing created, changed or held, its files kept.
  void ExpectRefusedUntouched() {
    const std::string before = test::SecurityOf(scratch.Workspace());
    EXPECT_EQ(Chain(scratch.Workspace()), WorkspaceNotOwn);
    EXPECT_EQ(test::SecurityOf(scratch.Workspace()), before);
    EXPECT_EQ(WorkspaceEntry, nullptr);
    EXPECT_EQ(faults::CountCalls(Call::CreateDirectoryW), 0);
    EXPECT_TRUE(FirstCreatedDirectory.Empty());
    EXPECT_EQ(test::ReadWhole(scratch.InWorkspace("stale.txt")), "stale");
  }
};

// Through the platform layer: the exact descriptor, for every level created.
TEST_F(WorkspaceSecurityTest, CreatedDirectoriesGetTheClosedDescriptor) {
  const std::string inner = scratch.Temp() + "A\\Halvex";
  ASSERT_EQ(Chain(inner), 0);
  const auto& given = faults::DirectorySecurities();
  ASSERT_EQ(given.size(), 2u);
  EXPECT_EQ(given[0].path, scratch.Temp() + "A");
  EXPECT_EQ(given[1].path, inner);
  for (const auto& record : given) {
    EXPECT_EQ(record.call, Call::CreateDirectoryW);
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
    EXPECT_EQ(header->Owner, 0u);
    EXPECT_EQ(header->Group, 0u);
    EXPECT_EQ(header->Sacl, 0u);
    EXPECT_EQ(record.descriptor.size(),
              test::Descriptor(test::ClosedDacl()).size());
  }
}

// Through the platform layer, as Wine's token is always a user's: the third
// entry of the closed DACL is the token's default owner, and the redirection
// guard is taken where a planted junction could serve against the machine.
struct Token {
  const char* name;
  const char* user;
  const char* owner;
  bool guarded;
};

class TokenTest : public WorkspaceTest,
                  public ::testing::WithParamInterface<Token> {};

TEST_P(TokenTest, ClosedDaclNamesTheDefaultOwner) {
  faults::AlterToken(GetParam().user, GetParam().owner);
  Inject({Call::GetTokenInformation, Action::Alter, "", 0, 0, 2});
  // The directory Wine creates is owned by the real token, so the pretended
  // account then refuses it; what counts is what it was created with.
  Chain(scratch.Workspace());
  ASSERT_EQ(faults::DirectorySecurities().size(), 1u);
  EXPECT_EQ(test::Sddl(faults::DirectorySecurities()[0].descriptor.data()),
            test::ClosedDaclFor(GetParam().owner));
  EXPECT_EQ(faults::CountCalls(Call::SetProcessMitigationPolicy),
            GetParam().guarded ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Accounts, TokenTest,
    ::testing::Values(
        Token{"User", "S-1-5-21-1-2-3-1001", "S-1-5-21-1-2-3-1001", false},
        Token{"ElevatedAdministrator", "S-1-5-21-1-2-3-500", "BA", true},
        Token{"System", "SY", "SY", true}),
    [](const auto& info) { return std::string(info.param.name); });

// Real: Wine keeps a directory created closed without an entry for others.
TEST_F(WorkspaceSecurityTest, ACreatedWorkspaceReadsBackClosed) {
  ASSERT_EQ(Chain(scratch.Workspace()), 0);
  const std::string security = test::SecurityOf(scratch.Workspace());
  EXPECT_FALSE(test::GrantsOthers(security)) << security;
  // The launcher's own account can still work in it.
  EXPECT_TRUE(test::WriteWhole(scratch.InWorkspace("setup.ex_"), "x"));
}

// Real: the user's own workspace is used as it is, its files kept.
TEST_F(WorkspaceSecurityTest, TheUsersOwnWorkspaceIsUsedUnchanged) {
  MakeStaleWorkspace();
  const std::string before = test::SecurityOf(scratch.Workspace());
  EXPECT_EQ(Chain(scratch.Workspace()), 0);
  EXPECT_EQ(test::SecurityOf(scratch.Workspace()), before);
  EXPECT_EQ(test::ReadWhole(scratch.InWorkspace("stale.txt")), "stale");
  EXPECT_TRUE(FirstCreatedDirectory.Empty());
}

// Real: a workspace of the user's that Everyone may write in (mode 0777
// under Wine) is refused as it is: closing it now would reach neither what
// was planted nor the handles others hold.
TEST_F(WorkspaceSecurityTest, AnOwnWorkspaceOpenToEveryoneIsRefused) {
  MakeStaleWorkspace();
  ASSERT_TRUE(test::SetDacl(scratch.Workspace(),
                            "D:(A;OICI;FA;;;WD)(A;OICI;FA;;;" +
                                test::UserSid() + ")"));
  ASSERT_TRUE(test::GrantsOthers(test::SecurityOf(scratch.Workspace())));
  ExpectRefusedUntouched();
}

// Real: only the workspace itself is judged; the directories above it are
// the platform's and stay open as they are.
TEST_F(WorkspaceSecurityTest, TheTemporaryPathItselfIsNotJudged) {
  ASSERT_TRUE(test::SetDacl(scratch.Temp(), "D:(A;OICI;FA;;;WD)"));
  EXPECT_EQ(Chain(scratch.Workspace()), 0);
  EXPECT_TRUE(test::GrantsOthers(test::SecurityOf(scratch.Temp())));
}

// Through the platform layer: Wine shows every directory as the user's.
TEST_F(WorkspaceSecurityTest, AWorkspaceOfAnotherAccountIsRefused) {
  MakeStaleWorkspace();
  PretendSecurity("O:S-1-5-21-1-2-3-1001" + test::ClosedDacl());
  ExpectRefusedUntouched();
}

TEST_F(WorkspaceSecurityTest, AnOwnerlessWorkspaceIsRefused) {
  MakeStaleWorkspace();
  PretendSecurity(test::ClosedDacl());
  ExpectRefusedUntouched();
}

TEST_F(WorkspaceSecurityTest, AWorkspaceOfSystemOrTheDefaultOwnerIsUsed) {
  MakeStaleWorkspace();
  for (const std::string owner :
       {std::string("SY"), test::UserSid(), test::DefaultOwnerSid()}) {
    SCOPED_TRACE(owner);
    PretendSecurity("O:" + owner + test::ClosedDacl());
    EXPECT_EQ(Chain(scratch.Workspace()), 0);
  }
  // Administrators own what an elevated account creates; here they are not
  // the token's default owner, so such a workspace is not the launcher's.
  PretendSecurity("O:BA" + test::ClosedDacl());
  EXPECT_EQ(Chain(scratch.Workspace()), WorkspaceNotOwn);
}

// An owned workspace whose DACL lets others plant in it, or in what it will
// hold, is refused.
TEST_F(WorkspaceSecurityTest, EveryOpeningForOthersIsRefused) {
  MakeStaleWorkspace();
  const std::string user = test::UserSid();
  for (const std::string dacl : {
           "D:(A;;FA;;;SY)(A;OICI;0x2;;;BU)",                // create files
           "D:(A;;FA;;;SY)(A;OICI;0x4;;;AU)",                // create folders
           "D:(A;;FA;;;SY)(A;OICIIO;FA;;;WD)",               // for what it holds
           "D:(A;;FA;;;SY)(A;;SD;;;S-1-5-21-1-2-3-1001)",    // delete
           "D:(A;;FA;;;SY)(A;;WD;;;S-1-5-21-1-2-3-1001)",    // change the DACL
           "D:(A;;FA;;;SY)(A;;WO;;;S-1-5-21-1-2-3-1001)",    // take it over
           "D:(A;;FA;;;SY)(A;;GW;;;S-1-5-21-1-2-3-1001)",    // generic write
           "D:(A;;FA;;;SY)(A;;GA;;;S-1-5-21-1-2-3-1001)",    // generic all
           "D:(A;;FA;;;SY)(A;;0x40;;;S-1-5-21-1-2-3-1001)",  // delete children
       }) {
    SCOPED_TRACE(dacl);
    faults::Reset();
    PretendSecurity("O:" + user + dacl);
    ExpectRefusedUntouched();
  }
}

// A null DACL (SDDL cannot say it under Wine) lets everyone do everything.
TEST_F(WorkspaceSecurityTest, ANullDaclIsRefused) {
  MakeStaleWorkspace();
  SECURITY_DESCRIPTOR absolute;
  ASSERT_TRUE(::InitializeSecurityDescriptor(&absolute,
                                             SECURITY_DESCRIPTOR_REVISION));
  std::string owner = test::Descriptor("O:" + test::UserSid());
  PSID user = owner.data() +
              reinterpret_cast<SECURITY_DESCRIPTOR_RELATIVE*>(
                  owner.data())->Owner;
  ASSERT_TRUE(::SetSecurityDescriptorOwner(&absolute, user, FALSE));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&absolute, TRUE, nullptr, FALSE));
  char relative[256];
  DWORD size = sizeof relative;
  ASSERT_TRUE(::MakeSelfRelativeSD(&absolute, relative, &size));
  faults::AlterSecurity(std::string(relative, size));
  Inject({Call::GetKernelObjectSecurity, Action::Alter});
  ExpectRefusedUntouched();
}

// Reading, listing and traversing are no planting; a denial takes nothing.
TEST_F(WorkspaceSecurityTest, ReadingForOthersLeavesTheWorkspaceAsItIs) {
  MakeStaleWorkspace();
  PretendSecurity("O:" + test::UserSid() + "D:(D;;FA;;;WD)(A;OICI;FA;;;SY)" +
                  "(A;OICI;FA;;;BA)(A;OICI;FA;;;" + test::UserSid() +
                  ")(A;OICI;0x1200a9;;;WD)(A;OICI;0x1200a9;;;BU)");
  EXPECT_EQ(Chain(scratch.Workspace()), 0);
}

// Through the platform layer: a junction or a symbolic link, as the held
// entry itself shows it. Its security is not even read.
TEST_F(WorkspaceSecurityTest, AReparsePointIsRefused) {
  MakeStaleWorkspace();
  Inject({Call::GetFileInformationByHandle, Action::Alter});
  ExpectRefusedUntouched();
  EXPECT_EQ(faults::CountCalls(Call::GetKernelObjectSecurity), 0);
}

TEST_F(WorkspaceSecurityTest, SecurityThatCannotBeReadIsRefused) {
  for (Call call : {Call::OpenDirectoryEntry, Call::GetFileInformationByHandle,
                    Call::GetKernelObjectSecurity, Call::OpenProcessToken,
                    Call::GetTokenInformation}) {
    SCOPED_TRACE(static_cast<int>(call));
    test::Scratch fresh;
    ASSERT_TRUE(::CreateDirectoryA(fresh.Workspace().c_str(), nullptr));
    Inject({call, Action::Fail});
    EXPECT_EQ(Chain(fresh.Workspace()), WorkspaceNotOwn);
    EXPECT_EQ(WorkspaceEntry, nullptr);
    EXPECT_EQ(faults::CountCalls(Call::CreateDirectoryW), 0);
  }
}

// A descriptor larger than the launcher reads is refused, not cut short.
TEST_F(WorkspaceSecurityTest, AnOversizedDescriptorIsRefused) {
  MakeStaleWorkspace();
  std::string dacl = "O:" + test::UserSid() + "D:";
  for (int ace = 0; ace < 60; ++ace)
    dacl += "(A;OICI;FR;;;S-1-5-21-1-2-3-" + std::to_string(2000 + ace) + ")";
  PretendSecurity(dacl);
  ExpectRefusedUntouched();
}

}  // namespace
