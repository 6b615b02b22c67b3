// A setup program that requires elevation. Under Wine the prefix's programs
// run elevated, so CreateProcessW never answers ERROR_ELEVATION_REQUIRED;
// the fault layer makes it answer so, and everything after it is real: the
// shell's "runas" start of the sample setup program and the wait for it.

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
    faults::Inject({Call::CreateProcessW, faults::Action::Fail, "", 0, 0, 1,
                    platform::ElevationRequired});
  }
  ~Elevation() override {
    for (const char* name : {"HALVEX_SAMPLE_REPORT", "HALVEX_SAMPLE_SHOW_MS",
                             "HALVEX_SAMPLE_EXIT_CODE"})
      ::SetEnvironmentVariableA(name, nullptr);
    SilentRun = false;
  }

  std::string Report() const { return scratch.Root() + "report.txt"; }
  static std::wstring Wide(const std::string& text) {
    return faults::Wide(text);
  }

  test::Scratch scratch;
};

// The consent prompt instead of nothing: the shell starts the program with
// its arguments, and the launcher waits for its end as for any other.
TEST_F(Elevation, WithADialogTheShellStartsItElevatedAndItIsWaitedFor) {
  test::StatusWindow status;
  const std::wstring setup = Wide(test::FromUnix(HALVEX_SAMPLE_SETUP));
  const std::wstring arguments = L"/quiet \"a b\"";
  EXPECT_EQ(RunSetupAndWait({setup.data(), static_cast<int>(setup.size())},
                            {arguments.data(), static_cast<int>(arguments.size())},
                            status.Handle()),
            7u);
  EXPECT_EQ(faults::CountCalls(Call::ShellExecuteExW), 1);
  const std::string report = test::ReadWhole(Report());
  EXPECT_NE(report.find("/quiet \"a b\"\n"), std::string::npos) << report;
  EXPECT_NE(report.find("ended\n"), std::string::npos) << report;
  EXPECT_EQ(test::StatusWindow::Texts(),
            (std::vector<std::string>{"Waiting for setup end...",
                                      "Terminating..."}));
}

// No one is there to consent: the run ends with 740, says so in its log, and
// leaves nothing behind.
TEST_F(Elevation, SilentRunEndsWithTheStartError) {
  faults::RedirectModuleFileName(test::FromUnix(HALVEX_E2E_ARCHIVE));
  const std::string log = scratch.Root() + "setup.log";
  const std::wstring commandLine =
      L"\"C:\\x\\HalvexSetup.exe\" /S /LOG=" + Wide(log);
  EXPECT_EQ(RunLauncher(commandLine.c_str()), platform::ElevationRequired);
  EXPECT_EQ(faults::CountCalls(Call::ShellExecuteExW), 0);
  EXPECT_TRUE(faults::ErrorBoxes().empty());
  EXPECT_FALSE(test::IsFile(Report()));
  const std::string text = test::ReadWhole(log);
  EXPECT_NE(text.find(" setup start failed: 740\r\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find(" exit code: 740\r\n"), std::string::npos) << text;
  EXPECT_TRUE(scratch.TempEntries().empty());
}

}  // namespace
