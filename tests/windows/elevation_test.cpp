// A setup program that requires elevation. Under Wine the prefix's programs
// run elevated, so CreateProcessW never answers ERROR_ELEVATION_REQUIRED;
// the fault layer makes it answer so, and everything after it is real: the
// shell's start of the launcher itself (the end-to-end tests' self-archive),
// its own extraction and setup program, and the wait for it.

#include <gtest/gtest.h>

#include "fault_injection.h"
#include "launcher.h"
#include "pipeline_fixture.h"
#include "platform.h"

namespace {

namespace faults = platform::faults;
using faults::Call;

class Elevation : public ::testing::Test {
 protected:
  Elevation() {
    ::SetEnvironmentVariableA("HALVEX_SAMPLE_REPORT", Report().c_str());
    ::SetEnvironmentVariableA("HALVEX_SAMPLE_SHOW_MS", "100");
    ::SetEnvironmentVariableA("HALVEX_SAMPLE_EXIT_CODE", "7");
    faults::RedirectModuleFileName(test::FromUnix(HALVEX_E2E_ARCHIVE));
    faults::Inject({Call::CreateProcessW, faults::Action::Fail, "", 0, 0, 1,
                    platform::ElevationRequired});
  }
  ~Elevation() override {
    for (const char* name : {"HALVEX_SAMPLE_REPORT", "HALVEX_SAMPLE_SHOW_MS",
                             "HALVEX_SAMPLE_EXIT_CODE"})
      ::SetEnvironmentVariableA(name, nullptr);
    ::Run.silent = false;
    ::Run.launcherArguments = {};
  }

  std::string Report() const { return scratch.Root() + "report.txt"; }
  std::string Log() const { return scratch.Root() + "setup.log"; }
  static std::wstring Wide(const std::string& text) {
    return faults::Wide(text);
  }

  test::Scratch scratch;
};

// The consent prompt is for the launcher itself, started silent with the
// run's own arguments: it extracts into a workspace of its own and runs the
// setup program there, with the arguments after `--`, and this run waits
// for it. This run's own workspace is gone before the prompt shows.
TEST_F(Elevation, WithADialogTheLauncherRestartsElevatedAndIsWaitedFor) {
  test::StatusWindow status;
  const std::wstring arguments =
      L"/LOG=\"" + Wide(Log()) + L"\" -- /quiet \"a b\"";
  ::Run.launcherArguments = {arguments.data(), static_cast<int>(arguments.size())};
  const std::wstring temp = Wide(scratch.Temp());
  ASSERT_EQ(CreateWorkspace({temp.data(), static_cast<int>(temp.size())}), 0);
  const std::wstring setup = Wide(scratch.Workspace()) + L"\\setup.exe";
  ASSERT_TRUE(test::WriteWhole(scratch.InWorkspace("setup.exe"), "setup"));
  ASSERT_TRUE(AssignProcessText(
      ::Run.setupProgramPath, {setup.data(), static_cast<int>(setup.size())}));

  EXPECT_EQ(RunSetupAndWait(::Run.setupProgramPath.View(), {L"", 0}, status.Handle()),
            7u);

  const auto& calls = faults::Calls();
  const auto shell = std::find_if(calls.begin(), calls.end(), [](const auto& call) {
    return call.call == Call::ShellExecuteExW;
  });
  ASSERT_NE(shell, calls.end());
  EXPECT_EQ(shell->subject, "runas");
  EXPECT_EQ(faults::CountCalls(Call::ShellExecuteExW), 1);
  const std::string report = test::ReadWhole(Report());
  EXPECT_NE(report.find("\\setup.exe\" /quiet \"a b\"\n"), std::string::npos)
      << report;
  EXPECT_NE(report.find("ended\n"), std::string::npos) << report;
  // The elevated copy logged its own silent run, to its end.
  const std::string log = test::ReadWhole(Log());
  EXPECT_NE(log.find(" command line: \"" + test::FromUnix(HALVEX_E2E_ARCHIVE) +
                     "\" /S /LOG="),
            std::string::npos) << log;
  EXPECT_NE(log.find(" exit code: 7\r\n"), std::string::npos) << log;
  EXPECT_EQ(test::StatusWindow::Texts(),
            (std::vector<std::string>{"Waiting for setup end...",
                                      "Terminating..."}));
  EXPECT_TRUE(scratch.TempEntries().empty());
}

// No one is there to consent: the run ends with 740, says so in its log, and
// leaves nothing behind.
TEST_F(Elevation, SilentRunEndsWithTheStartError) {
  const std::wstring commandLine =
      L"\"C:\\x\\HalvexSetup.exe\" /S /LOG=" + Wide(Log());
  EXPECT_EQ(RunLauncher(commandLine.c_str()), platform::ElevationRequired);
  EXPECT_EQ(faults::CountCalls(Call::ShellExecuteExW), 0);
  EXPECT_TRUE(faults::ErrorBoxes().empty());
  EXPECT_FALSE(test::IsFile(Report()));
  const std::string text = test::ReadWhole(Log());
  EXPECT_NE(text.find(" setup start failed: 740\r\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find(" exit code: 740\r\n"), std::string::npos) << text;
  EXPECT_TRUE(scratch.TempEntries().empty());
}

}  // namespace
