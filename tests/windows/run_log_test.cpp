// The run's log as a privileged run opens it: after the redirection guard,
// never one that an untrusted account owns, and closed when it creates it.
// The privilege and other owners come through the platform layer, as
// Wine's token is always a user's; the log's DACL is read back for real.

#include <gtest/gtest.h>

#include "launcher.h"
#include "pipeline_fixture.h"

namespace {

namespace faults = platform::faults;
using faults::Action;
using faults::Call;

class RunLogTest : public ::testing::Test {
 protected:
  ~RunLogTest() override { ::Run.silent = false; }

  // A run of the launcher that stops at once (its own file is missing),
  // with a token that is elevated or not; its exit code.
  DWORD Run(bool elevated) {
    faults::RedirectModuleFileName(scratch.Root() + "missing.exe");
    faults::AlterToken(test::UserSid(), test::DefaultOwnerSid(), elevated);
    faults::Inject({Call::GetTokenInformation, Action::Alter, "", 0, 0, 3});
    const std::wstring line = L"x.exe /S \"/LOG=" + faults::Wide(log) + L"\"";
    return RunLauncher(line.c_str());
  }

  test::Scratch scratch;
  std::string log = scratch.Root() + "setup.log";
};

TEST_F(RunLogTest, APrivilegedRunTakesTheGuardBeforeItOpensTheLog) {
  EXPECT_EQ(Run(true), InstallFailure);
  const auto& calls = faults::Calls();
  const auto guard = std::find_if(calls.begin(), calls.end(), [](const auto& c) {
    return c.call == Call::SetProcessMitigationPolicy;
  });
  const auto opened = std::find_if(calls.begin(), calls.end(), [&](const auto& c) {
    return c.call == Call::CreateFileW && c.subject == log;
  });
  ASSERT_NE(opened, calls.end());
  EXPECT_LT(guard, opened);
}

// Through the platform layer, as Wine gives a file it creates its own
// default security whatever the caller asks (read back here as the user's
// and SYSTEM's): a privileged run creates its log closed, and only where no
// entry of its name is.
TEST_F(RunLogTest, APrivilegedRunCreatesItsLogClosed) {
  EXPECT_EQ(Run(true), InstallFailure);
  EXPECT_NE(test::ReadWhole(log).find(" exit code: 1603\r\n"), std::string::npos);
  const auto& given = faults::SecuritiesGiven();
  ASSERT_FALSE(given.empty());
  for (const auto& record : given) {
    EXPECT_EQ(record.call, Call::CreateFileW);
    EXPECT_EQ(record.path, log);
    EXPECT_EQ(test::Sddl(record.descriptor.data()), test::ClosedDacl());
  }
  const auto& opened = faults::FilesOpened();
  ASSERT_FALSE(opened.empty());
  EXPECT_EQ(opened[0].creation, unsigned{CREATE_NEW});
}

// A log that exists already is written by a privileged run only when SYSTEM,
// Administrators or the token's default owner own it; a user's own run
// writes whatever log it may.
TEST_F(RunLogTest, APrivilegedRunWritesOnlyALogOfATrustedOwner) {
  const struct {
    std::string owner;
    bool elevated, written;
  } cases[] = {
      {"S-1-5-21-1-2-3-1001", true, false},
      {"SY", true, true},
      {"BA", true, true},
      {test::DefaultOwnerSid(), true, true},
      {"S-1-5-21-1-2-3-1001", false, true},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.owner + (each.elevated ? ", elevated" : ""));
    faults::Reset();
    ASSERT_TRUE(test::WriteWhole(log, "earlier\r\n"));
    faults::AlterSecurity(test::Descriptor("O:" + each.owner + "D:(A;;FA;;;WD)"));
    faults::Inject({Call::GetKernelObjectSecurity, Action::Alter});
    EXPECT_EQ(Run(each.elevated), InstallFailure);
    EXPECT_EQ(test::ReadWhole(log) != "earlier\r\n", each.written);
  }
}

// Through the platform layer, as Wine shows a host's symbolic link to a
// file as the file itself: a log that is a reparse point is not written.
TEST_F(RunLogTest, ALogThatIsALinkIsNotWritten) {
  ASSERT_TRUE(test::WriteWhole(log, "earlier\r\n"));
  faults::Inject({Call::GetFileInformationByHandle, Action::Alter});
  EXPECT_EQ(Run(false), InstallFailure);
  EXPECT_EQ(test::ReadWhole(log), "earlier\r\n");
}

// Every job that ends with 1603 says why in the log, whichever allocation
// failed: each is made to fail in turn, in a silent run of an archive whose
// payload is no program (so that a run that gets through ends with 193).
TEST_F(RunLogTest, EveryFailedAllocationThatEndsTheJobIsLogged) {
  const std::string archive = scratch.Root() + "archive.exe";
  ASSERT_TRUE(test::WriteWhole(
      archive, test::SelfArchive(test::PipelineData("even.bin_"))));
  const std::wstring line = L"x.exe /S \"/LOG=" + faults::Wide(log) + L"\"";
  int failed = 0;
  for (int skip = 0;; ++skip) {
    SCOPED_TRACE(skip);
    faults::Reset();
    faults::RedirectModuleFileName(archive);
    faults::Inject({Call::HeapAlloc, Action::Fail, "", 0, skip});
    ::DeleteFileW(faults::Wide(log).c_str());
    const DWORD code = RunLauncher(line.c_str());
    if (faults::CountCalls(Call::HeapAlloc) <= skip) break;  // none failed
    if (code == ERROR_BAD_EXE_FORMAT) continue;
    EXPECT_EQ(code, InstallFailure);
    // Only a failure before the log is open (reading the command line) has
    // no log to tell.
    if (test::IsFile(log))
      EXPECT_NE(test::ReadWhole(log).find(" error: "), std::string::npos);
    ASSERT_TRUE(scratch.TempEntries().empty()) << scratch.TempEntries()[0];
    ++failed;
  }
  EXPECT_GE(failed, 4);
}

}  // namespace
