// The launcher as a user meets it: a real self-archive started under Wine,
// its dialog found on the display, its buttons pressed, its status line
// read, and the temporary path inspected once it has exited.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "directory_security.h"
#include "launcher_driver.h"

namespace e2e {
namespace {

const std::string Waiting = "Waiting for setup end...";
// The DLL the sample setup program loads from its own folder when it is there.
const std::string Addon = "halvex-sample-addon.dll";
const std::string Terminating = "Terminating...";
const std::string Starting =
    "Decompressing setup : 100% starting setup program ...";

std::string Percent(int value) {
  return "Decompressing setup : " + std::to_string(value) + "%";
}

// Every text the status line may show during one run, in the order the run
// shows them.
std::vector<std::string> StatusOrder() {
  std::vector<std::string> order;
  for (int percent = 0; percent <= 100; ++percent)
    order.push_back(Percent(percent));
  order.insert(order.end(), {Starting, Waiting, Terminating});
  return order;
}

// True when every seen text is a known one and they came in the run's order.
::testing::AssertionResult CameInOrder(const std::vector<std::string>& seen) {
  const std::vector<std::string> order = StatusOrder();
  size_t position = 0;
  for (const std::string& text : seen) {
    while (position < order.size() && order[position] != text) ++position;
    if (position == order.size())
      return ::testing::AssertionFailure() << "out of order: \"" << text << '"';
  }
  return ::testing::AssertionSuccess();
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string joined;
  for (const std::string& text : texts) joined += "\n  " + text;
  return joined;
}

// What the sample setup program recorded: one entry per line, key=value.
std::multimap<std::string, std::string> ParseReport(const std::string& text) {
  std::multimap<std::string, std::string> entries;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t equals = line.find('=');
    entries.emplace(line.substr(0, equals),
                    equals == std::string::npos ? "" : line.substr(equals + 1));
  }
  return entries;
}

// Equal bytes, or where the first difference lies.
::testing::AssertionResult SameBytes(const std::string& expected,
                                     const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  const auto [left, right] = std::mismatch(expected.begin(), expected.end(),
                                           actual.begin(), actual.end());
  return ::testing::AssertionFailure()
         << "expected " << expected.size() << " bytes, got " << actual.size()
         << "; first difference at offset " << (left - expected.begin());
}

std::string Only(const std::multimap<std::string, std::string>& report,
                 const std::string& key) {
  EXPECT_EQ(report.count(key), 1u) << key;
  const auto found = report.find(key);
  return found == report.end() ? "" : found->second;
}

class LauncherRun : public ::testing::Test {
 protected:
  void SetUp() override {
    char temporary[MAX_PATH] = {};
    GetTempPathA(sizeof temporary, temporary);
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test->name();
    std::replace(name.begin(), name.end(), '/', '-');  // of a parameterised case
    base_ = std::string(temporary) + "halvex-e2e-" + name + "-" +
            std::to_string(GetCurrentProcessId()) + "\\";
    RemoveTree(base_.substr(0, base_.size() - 1));
    ASSERT_TRUE(MakeDirectory(base_));
    ASSERT_TRUE(MakeDirectory(CurrentDirectory()));
    ASSERT_TRUE(MakeDirectory(Base("tmp")));
    temporaryPath_ = Base("tmp\\");
  }

  void TearDown() override {
    launcher_.reset();
    // A sample left over by a failed case would stay on the display.
    if (HWND sample = SampleWindow()) PostMessageA(sample, WM_CLOSE, 0, 0);
    RemoveTree(base_.substr(0, base_.size() - 1));
  }

  std::string Base(const std::string& name) const { return base_ + name; }
  std::string CurrentDirectory() const { return Base("cwd"); }
  std::string Report() const { return Base("report.txt"); }
  // The setup program's copy of the file it was started from.
  std::string SelfCopy() const { return Base("self-copy.exe"); }
  std::string Workspace() const { return temporaryPath_ + "Halvex"; }
  std::string SetupProgram() const { return Workspace() + "\\setup.exe"; }
  static std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
  }

  static std::string Fixture(const std::string& name) {
    return DriverDirectory() + name;
  }

  // Makes each missing folder of `relative` (UTF-8) below the case's own
  // folder; its full path.
  std::string MakeFolders(const std::string& relative) const {
    for (size_t end = 0; end != std::string::npos;) {
      end = relative.find('\\', end + 1);
      MakeDirectory(Base(relative.substr(0, end)));
    }
    return Base(relative);
  }

  // Starts a self-archive of the fixtures; the sample setup program it
  // carries shows its window for `showMilliseconds` and ends with `exitCode`.
  void Start(const std::string& archive, int showMilliseconds = 300,
             int exitCode = 0) {
    StartAt(Fixture(archive), showMilliseconds, exitCode);
  }

  void StartAt(const std::string& archive, int showMilliseconds = 300,
               int exitCode = 0, const std::string& arguments = "") {
    Launch(archive, arguments, showMilliseconds, exitCode);
    ASSERT_TRUE(launcher_->Running()) << archive;
    dialog_ = launcher_->WaitForDialog();
    ASSERT_TRUE(dialog_) << "the dialog did not appear";
  }

  // Starts `archive` with `arguments` after its path, and waits for nothing.
  void Launch(const std::string& archive, const std::string& arguments,
              int showMilliseconds = 300, int exitCode = 0) {
    launcher_ = std::make_unique<Launcher>(
        archive, CurrentDirectory(),
        std::vector<std::pair<std::string, std::string>>{
            {"TMP", temporaryPath_},
            {"TEMP", temporaryPath_},
            {"HALVEX_SAMPLE_REPORT", Report()},
            {"HALVEX_SAMPLE_SHOW_MS", std::to_string(showMilliseconds)},
            {"HALVEX_SAMPLE_EXIT_CODE", std::to_string(exitCode)},
            {"HALVEX_SAMPLE_SELF_COPY", SelfCopy()},
            {"HALVEX_E2E_STATUS_LOG", Base("status.log")}},
        arguments);
  }

  void ExpectCollapsed() const {
    EXPECT_EQ(WindowText(dialog_), "Halvex 2 installer");
    RECT rect = {};
    GetWindowRect(dialog_, &rect);
    const int width = rect.right - rect.left;
    EXPECT_EQ(OuterHeight(dialog_), 96);
    EXPECT_EQ(rect.left, GetSystemMetrics(SM_CXFULLSCREEN) / 2 - width / 2);
    EXPECT_EQ(rect.top, GetSystemMetrics(SM_CYFULLSCREEN) / 2 - 48);
    for (int shown : {IntroTextId, InstallButtonId, AbortButtonId,
                      DescriptionId})
      EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog_, shown))) << shown;
    for (int hidden : {SeparatorId, StatusLineId})
      EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog_, hidden))) << hidden;
    EXPECT_EQ(WindowText(GetDlgItem(dialog_, IntroTextId)),
              "This will prepare and run Halvex setup program.");
    EXPECT_EQ(WindowText(GetDlgItem(dialog_, DescriptionId)),
              "Halvex is caching proxy server, that connects your LAN to "
              "Internet.");
    EXPECT_EQ(WindowText(GetDlgItem(dialog_, InstallButtonId)), "&Install");
    EXPECT_EQ(WindowText(GetDlgItem(dialog_, AbortButtonId)), "&Abort");
  }

  // Presses "&Install", starts recording the status line and checks the
  // working layout.
  void Install() {
    recorder_ = std::make_unique<StatusRecorder>(launcher_->ThreadId(),
                                                 Base("status.log"));
    ASSERT_TRUE(recorder_->Hooked());
    Click(dialog_, InstallButtonId);
    ASSERT_TRUE(WaitUntil([&] {
      return OuterHeight(dialog_) == 126 &&
             WindowText(GetDlgItem(dialog_, AbortButtonId)) == "&Exit";
    })) << "the dialog did not grow";
    for (int shown : {SeparatorId, StatusLineId, AbortButtonId})
      EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog_, shown))) << shown;
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog_, InstallButtonId)));
  }

  // Waits for the launcher's end, failing the case on any error box, and
  // checks its exit code.
  void ExpectExitWithoutBox() {
    bool boxSeen = false;
    EXPECT_TRUE(WaitUntil([&] {
      boxSeen = boxSeen || FindProcessWindow(launcher_->Id(), "Error");
      return !launcher_->Running();
    })) << "the launcher did not end";
    EXPECT_FALSE(boxSeen) << "an error box was shown";
    ExpectExitCodeZero();
  }

  void ExpectExitCodeZero() {
    const std::optional<DWORD> code = launcher_->WaitForExit();
    ASSERT_TRUE(code.has_value()) << "the launcher did not end";
    EXPECT_EQ(*code, 0u);
    if (recorder_) recorder_->Stop();
  }

  std::vector<std::string> Statuses() const { return recorder_->Texts(); }

  // The texts of one run that started the setup program and saw it end.
  void ExpectStatusesOfFullRun() const {
    const std::vector<std::string> seen = Statuses();
    EXPECT_TRUE(CameInOrder(seen)) << Joined(seen);
    EXPECT_TRUE(recorder_->Saw(Waiting)) << Joined(seen);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), Terminating) << Joined(seen);
  }

  void ExpectEmpty(const std::string& directory) const {
    EXPECT_TRUE(IsDirectory(directory)) << directory;
    EXPECT_EQ(DirectoryEntries(directory), std::vector<std::string>{})
        << directory;
  }

  std::multimap<std::string, std::string> SampleReport() const {
    return ParseReport(ReadFileText(Report()));
  }

  // The window of the sample setup program that this case started.
  HWND SampleWindow() const {
    const auto report = SampleReport();
    const auto process = report.find("process-id");
    if (process == report.end()) return nullptr;
    return FindProcessWindow(std::stoul(process->second), "Halvex Setup");
  }

  std::string base_;
  std::string temporaryPath_;
  std::unique_ptr<Launcher> launcher_;
  HWND dialog_ = nullptr;
  std::unique_ptr<StatusRecorder> recorder_;
};

// --- ending the dialog before the job --------------------------------------

class EndingBeforeInstall : public LauncherRun {
 protected:
  void ExpectNothingDone() {
    ExpectExitCodeZero();
    ExpectEmpty(temporaryPath_);
    EXPECT_FALSE(Exists(Report())) << "a setup program ran";
  }
};

TEST_F(EndingBeforeInstall, AbortButton) {
  Start("normal.exe");
  ExpectCollapsed();
  Click(dialog_, AbortButtonId);
  ExpectNothingDone();
}

TEST_F(EndingBeforeInstall, EscKey) {
  Start("normal.exe");
  PressEsc(dialog_);
  ExpectNothingDone();
}

TEST_F(EndingBeforeInstall, CloseBox) {
  Start("normal.exe");
  PressCloseBox(dialog_);
  ExpectNothingDone();
}

// Commands are matched as the whole wParam: a notification code other than
// BN_CLICKED, or IDOK, starts and ends nothing.
TEST_F(EndingBeforeInstall, OtherCommandsAreIgnored) {
  Start("normal.exe");
  for (WPARAM command : {MAKEWPARAM(InstallButtonId, 1),
                         MAKEWPARAM(AbortButtonId, 1), WPARAM{IDOK}})
    PostMessageA(dialog_, WM_COMMAND, command, 0);
  Sleep(500);
  EXPECT_TRUE(launcher_->Running());
  EXPECT_TRUE(IsWindowVisible(dialog_));
  ExpectCollapsed();
  Click(dialog_, AbortButtonId);
  ExpectNothingDone();
}

// --- runs that extract and start the setup program -------------------------

using InstallRun = LauncherRun;

TEST_F(InstallRun, StartsSetupWithItsPathAndCleansUp) {
  Start("normal.exe");
  ExpectCollapsed();
  Install();
  ExpectExitWithoutBox();
  ExpectStatusesOfFullRun();

  const auto report = SampleReport();
  EXPECT_EQ(Only(report, "command-line"), Quoted(SetupProgram()));
  EXPECT_EQ(Only(report, "module"), SetupProgram());
  EXPECT_EQ(Only(report, "current-directory"), CurrentDirectory());
  EXPECT_EQ(report.count("ended"), 1u);
  // The workspace was the one directory the run created: it is gone.
  ExpectEmpty(temporaryPath_);
}

// The workspace that the launcher creates is closed from its creation: while
// the setup program runs, its folder grants no one but the account, SYSTEM
// and Administrators anything (Wine reads back no Everyone entry).
TEST_F(InstallRun, CreatedWorkspaceIsClosedWhileSetupRuns) {
  Start("normal.exe");
  Install();
  ExpectExitWithoutBox();
  const auto report = SampleReport();
  EXPECT_EQ(Only(report, "module"), SetupProgram());
  const std::string security = Only(report, "folder-security");
  EXPECT_EQ(security.rfind("O:", 0), 0u) << security;
  EXPECT_NE(security.find("D:"), std::string::npos) << security;
  EXPECT_FALSE(test::GrantsOthers(security)) << security;
  ExpectEmpty(temporaryPath_);
}

// Whatever «Halvex» was before the run, it is left exactly as it was: the
// setup program runs from a fresh sibling, so a DLL planted beside where it
// would have run is never loaded.
TEST_F(InstallRun, AnExistingWorkspaceIsLeftAndSetupRunsFromASibling) {
  const struct {
    const char* name;
    std::function<bool(const std::string&)> make;
  } entries[] = {
      {"own folder with a planted DLL",
       [](const std::string& path) {
         return MakeDirectory(path) && CopyInto(Fixture(Addon), path + "\\" + Addon);
       }},
      {"folder open to everyone with a planted DLL",
       [](const std::string& path) {
         return MakeDirectory(path) &&
                CopyInto(Fixture(Addon), path + "\\" + Addon) &&
                test::SetDacl(path, "D:(A;OICI;FA;;;WD)");
       }},
      {"file", [](const std::string& path) {
         return CopyInto(Fixture("decoy.exe"), path);
       }}};
  for (const auto& entry : entries) {
    SCOPED_TRACE(entry.name);
    RemoveTree(Workspace());
    DeleteFileW(Wide(Workspace()).c_str());
    DeleteFileW(Wide(Report()).c_str());
    ASSERT_TRUE(entry.make(Workspace()));
    const std::string security = test::SecurityOf(Workspace());
    const std::vector<std::string> inside = DirectoryEntries(Workspace());
    Start("normal.exe");
    Install();
    ExpectExitWithoutBox();
    const auto report = SampleReport();
    const std::string module = Only(report, "module");
    EXPECT_TRUE(std::regex_match(module.substr(temporaryPath_.size()),
                                 std::regex(R"(Halvex-[0-9a-f]{8}\\setup\.exe)")))
        << module;
    EXPECT_EQ(report.count("addon-loaded"), 0u);
    EXPECT_EQ(DirectoryEntries(temporaryPath_), std::vector<std::string>{"Halvex"});
    EXPECT_EQ(DirectoryEntries(Workspace()), inside);
    EXPECT_EQ(test::SecurityOf(Workspace()), security);
  }
}

// Every level the run created goes again, from the inside out.
TEST_F(InstallRun, SeveralCreatedLevelsAreRemoved) {
  temporaryPath_ = Base("a\\b\\");
  Start("normal.exe");
  Install();
  ExpectExitWithoutBox();
  EXPECT_EQ(Only(SampleReport(), "module"), SetupProgram());
  EXPECT_FALSE(Exists(Base("a")));
}

TEST_F(InstallRun, NonZeroExitCodeOfSetup) {
  Start("normal.exe", 300, 3);
  Install();
  ExpectExitWithoutBox();
  ExpectStatusesOfFullRun();
  EXPECT_EQ(SampleReport().count("ended"), 1u);
  ExpectEmpty(temporaryPath_);
}

TEST_F(InstallRun, SetupExitCodeStillActiveDoesNotHang) {
  Start("normal.exe", 300, STILL_ACTIVE);
  Install();
  ExpectExitWithoutBox();
  ExpectStatusesOfFullRun();
  ExpectEmpty(temporaryPath_);
}

TEST_F(InstallRun, SetupThatCannotStart) {
  Start("not-a-program.exe");
  Install();
  ExpectExitWithoutBox();
  // Nothing tells of the failed start: the status line stays as it was.
  EXPECT_EQ(Statuses(), (std::vector<std::string>{Percent(0), Percent(25),
                                                  Percent(50), Starting}));
  ExpectEmpty(temporaryPath_);
}

// A self-archive built by halvex-pack from a signed setup program, then
// signed itself: the certificate table at its end is no part of the payload,
// so the setup program started is the signed one, byte for byte. Both were
// verified by osslsigncode when the fixtures were made, so equal bytes also
// mean a signature that still verifies.
TEST_F(InstallRun, SignedArchiveGivesTheSignedSetupProgramIntact) {
  const std::string signedSetup = ReadFileText(Fixture("signed-setup.exe"));
  ASSERT_FALSE(signedSetup.empty());
  Start("signed.exe");
  Install();
  ExpectExitWithoutBox();
  EXPECT_EQ(Only(SampleReport(), "module"), SetupProgram());
  EXPECT_TRUE(SameBytes(signedSetup, ReadFileText(SelfCopy())));
  ExpectEmpty(temporaryPath_);
}

// Archives with an identity install as usual: one made with every identity
// option at once, and one whose launcher image a resource editor changed
// (UpdateResourceW) before it was packed.
class IdentityArchiveRun : public LauncherRun,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(IdentityArchiveRun, InstallsAsUsual) {
  Start(GetParam());
  ExpectCollapsed();
  Install();
  ExpectExitWithoutBox();
  ExpectStatusesOfFullRun();
  EXPECT_EQ(Only(SampleReport(), "module"), SetupProgram());
  ExpectEmpty(temporaryPath_);
}

INSTANTIATE_TEST_SUITE_P(Archives, IdentityArchiveRun,
                         ::testing::Values("every-option.exe", "resource-edited.exe"),
                         [](const auto& info) {
                           return std::string(info.param[0] == 'e' ? "EveryOption"
                                                                   : "ResourceEditor");
                         });

// An unquoted command line «...\with blanks\Halvex\setup.exe» would start
// «...\with.exe» if the platform were left to split it at the blanks, and
// would give the setup program two arguments where it has one.
TEST_F(InstallRun, WorkspaceWithBlanksStartsTheSetupProgram) {
  temporaryPath_ = Base("with blanks\\");
  ASSERT_TRUE(MakeDirectory(temporaryPath_));
  ASSERT_TRUE(CopyInto(Fixture("decoy.exe"), Base("with.exe")));
  Start("normal.exe");
  Install();
  ExpectExitWithoutBox();
  const auto report = SampleReport();
  EXPECT_EQ(Only(report, "module"), SetupProgram())
      << "command line: " << Only(report, "command-line");
  EXPECT_EQ(Only(report, "argument-count"), "1");
  ExpectEmpty(temporaryPath_);
}

// --- folders named in any script -------------------------------------------

// Where the archive lies and where the temporary path leads, below the case's
// own folder (empty: the usual places), and a folder that the ANSI code page
// would make of the temporary path, which must stay untouched.
struct ScriptFolders {
  const char* name;
  std::string archiveFolder;
  std::string temporaryFolder;
  std::string decoyFolder;
};

class ScriptNamedFolders : public LauncherRun,
                           public ::testing::WithParamInterface<ScriptFolders> {
};

TEST_P(ScriptNamedFolders, InstallTheRightSetupProgramAndLeaveNothing) {
  const ScriptFolders& folders = GetParam();
  std::string archive = Fixture("normal.exe");
  if (!folders.archiveFolder.empty()) {
    archive = MakeFolders(folders.archiveFolder) + "\\archive.exe";
    ASSERT_TRUE(CopyInto(Fixture("normal.exe"), archive));
  }
  if (!folders.temporaryFolder.empty())
    temporaryPath_ = MakeFolders(folders.temporaryFolder) + "\\";
  if (!folders.decoyFolder.empty()) MakeFolders(folders.decoyFolder);

  StartAt(archive);
  Install();
  ExpectExitWithoutBox();
  ExpectStatusesOfFullRun();
  const auto report = SampleReport();
  EXPECT_EQ(Only(report, "module"), SetupProgram());
  EXPECT_EQ(Only(report, "command-line"), Quoted(SetupProgram()));
  EXPECT_TRUE(SameBytes(ReadFileText(Fixture("decoy.exe")),
                        ReadFileText(SelfCopy())));
  ExpectEmpty(temporaryPath_);
  if (!folders.archiveFolder.empty())
    EXPECT_EQ(DirectoryEntries(Base(folders.archiveFolder)),
              std::vector<std::string>{"archive.exe"});
  if (!folders.decoyFolder.empty()) ExpectEmpty(Base(folders.decoyFolder));
}

// The prefix's ANSI code page is 1252: it has none of these characters, and
// its best fit turns «Ł» into «L».
INSTANTIATE_TEST_SUITE_P(
    AnsiCodePageLacksThem, ScriptNamedFolders,
    ::testing::Values(
        ScriptFolders{"CyrillicArchiveAndTemporaryPath",
                      "Иван\\Downloads", "Иван\\AppData\\Local\\Temp", ""},
        ScriptFolders{"CyrillicArchive", "Иван\\Downloads", "", ""},
        ScriptFolders{"CyrillicTemporaryPath", "",
                      "Иван\\AppData\\Local\\Temp", ""},
        ScriptFolders{"Cjk", "山田太郎\\ダウンロード", "山田太郎\\Temp", ""},
        ScriptFolders{"BestFitLookAlike", "", "Łukasz\\Temp", "Lukasz\\Temp"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- ending the dialog while the job runs ----------------------------------

using ExitDuringJob = LauncherRun;

TEST_F(ExitDuringJob, ExtractionRunsOnAndSetupIsStillWaitedFor) {
  Start("big.exe", 1000);
  Install();
  ASSERT_TRUE(WaitUntil([&] { return recorder_->Saw(Percent(50)); }));
  Click(dialog_, AbortButtonId);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(dialog_); }))
      << "the dialog stayed";
  const std::string statusWhenEnded =
      WindowText(GetDlgItem(dialog_, StatusLineId));
  EXPECT_EQ(statusWhenEnded.rfind("Decompressing setup : ", 0), 0u)
      << statusWhenEnded;
  EXPECT_EQ(statusWhenEnded.find("starting"), std::string::npos)
      << "the extraction had ended before the click: " << statusWhenEnded;
  EXPECT_FALSE(Exists(Report())) << "the setup program started too early";

  ExpectExitWithoutBox();
  ExpectStatusesOfFullRun();
  const auto report = SampleReport();
  EXPECT_EQ(Only(report, "module"), SetupProgram());
  EXPECT_EQ(report.count("ended"), 1u);
  ExpectEmpty(temporaryPath_);
}

TEST_F(ExitDuringJob, SetupProgramIsStillWaitedFor) {
  Start("normal.exe", 60000);
  Install();
  ASSERT_TRUE(WaitUntil([&] {
    return recorder_->Saw(Waiting) && SampleWindow() != nullptr;
  })) << "the setup program did not start";
  Click(dialog_, AbortButtonId);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(dialog_); }))
      << "the dialog stayed";

  Sleep(500);
  EXPECT_TRUE(launcher_->Running()) << "the launcher did not wait";
  EXPECT_EQ(SampleReport().count("ended"), 0u);

  // The user closes the setup program's window; only then does the
  // launcher end, and it still cleans up.
  PostMessageA(SampleWindow(), WM_CLOSE, 0, 0);
  ExpectExitWithoutBox();
  EXPECT_EQ(SampleReport().count("ended"), 1u);
  ExpectStatusesOfFullRun();
  ExpectEmpty(temporaryPath_);
}

// --- archives that the launcher rejects ------------------------------------

using RejectedArchive = LauncherRun;

TEST_F(RejectedArchive, ImageWithoutMarker) {
  Start("no-marker.exe");
  Install();
  EXPECT_EQ(launcher_->DismissErrorBox(),
            "Setup aborted.\rSource file corrupted or invalid.");
  ExpectExitCodeZero();
  EXPECT_EQ(Statuses(), (std::vector<std::string>{Percent(0), Percent(25)}));
  EXPECT_FALSE(Exists(Report()));
  ExpectEmpty(temporaryPath_);
}

TEST_F(RejectedArchive, DamagedPayload) {
  Start("damaged.exe");
  Install();
  EXPECT_EQ(launcher_->DismissErrorBox(),
            "Setup aborted.\rError initializing decompression routines.");
  ExpectExitCodeZero();
  EXPECT_EQ(Statuses(), (std::vector<std::string>{Percent(0), Percent(25),
                                                  Percent(50)}));
  EXPECT_FALSE(Exists(Report()));
  ExpectEmpty(temporaryPath_);
}

// --- unattended runs ---------------------------------------------------------

// One log line: the local date and time "YYYY-MM-DD hh:mm:ss.mmm", a blank,
// then the event; the events of a log, without their time stamps.
::testing::AssertionResult LogEvents(const std::string& log,
                                     std::vector<std::string>& events) {
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const char pattern[] = "dddd-dd-dd dd:dd:dd.ddd ";
    bool stamped = line.size() >= 24;
    for (size_t i = 0; stamped && i < 24; ++i)
      stamped = pattern[i] == 'd' ? isdigit(static_cast<unsigned char>(line[i]))
                                  : line[i] == pattern[i];
    if (!stamped)
      return ::testing::AssertionFailure() << "no time stamp: \"" << line << '"';
    events.push_back(line.substr(24));
  }
  return ::testing::AssertionSuccess();
}

class UnattendedRun : public LauncherRun {
 protected:
  // Runs `archive` to its end, watching the whole run long that it shows no
  // window of any kind; its exit code.
  DWORD RunWithoutWindow(const std::string& archive,
                         const std::string& arguments, int exitCode = 0) {
    Launch(archive, arguments, 300, exitCode);
    bool windowSeen = false;
    const bool ended = WaitUntil([&] {
      windowSeen = windowSeen || AnyProcessWindow(launcher_->Id());
      return !launcher_->Running();
    });
    EXPECT_TRUE(ended) << "the launcher did not end";
    EXPECT_FALSE(windowSeen) << "the launcher showed a window";
    return launcher_->WaitForExit().value_or(~0u);
  }

  std::vector<std::string> Log(const std::string& path) const {
    std::vector<std::string> events;
    EXPECT_TRUE(LogEvents(ReadFileText(path), events));
    return events;
  }
};

// The setup program's own exit code is the launcher's, 259 included; the
// setup program is the packed one, byte for byte, and nothing is left.
TEST_F(UnattendedRun, SilentRunGivesTheSetupProgramsExitCode) {
  for (DWORD code : {0u, 1u, 3010u, 259u}) {
    SCOPED_TRACE(code);
    DeleteFileW(Wide(Report()).c_str());
    DeleteFileW(Wide(SelfCopy()).c_str());
    EXPECT_EQ(RunWithoutWindow(Fixture("normal.exe"), "/S", code), code);
    const auto report = SampleReport();
    EXPECT_EQ(Only(report, "command-line"), Quoted(SetupProgram()));
    EXPECT_EQ(report.count("ended"), 1u);
    EXPECT_TRUE(SameBytes(ReadFileText(Fixture("decoy.exe")),
                          ReadFileText(SelfCopy())));
    ExpectEmpty(temporaryPath_);
  }
}

TEST_F(UnattendedRun, ArgumentsAfterDoubleDashReachTheSetupProgramAsTyped) {
  const std::string typed = R"(/quiet "INSTALLDIR=C:\Program Files\X" a\"b)";
  EXPECT_EQ(RunWithoutWindow(Fixture("normal.exe"), "/S -- " + typed), 0u);
  EXPECT_EQ(Only(SampleReport(), "command-line"),
            Quoted(SetupProgram()) + " " + typed);
  DeleteFileW(Wide(Report()).c_str());
  EXPECT_EQ(RunWithoutWindow(Fixture("normal.exe"), "/s --  "), 0u);
  EXPECT_EQ(Only(SampleReport(), "command-line"), Quoted(SetupProgram()));
  ExpectEmpty(temporaryPath_);
}

// A job that stops before the setup program starts ends with 1603 and the
// catalogue's message in the log; a setup program that cannot start ends
// with the start's Windows error. No window, no box, nothing left behind.
TEST_F(UnattendedRun, FailuresGiveTheirExitCodeAndTheLogSaysWhy) {
  const struct {
    const char* archive;
    DWORD exitCode;
    std::string event;
  } cases[] = {
      {"no-marker.exe", 1603, "error: Source file corrupted or invalid."},
      {"not-a-program.exe", 193, "setup start failed: 193"},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.event);
    DeleteFileW(Wide(Base("log.txt")).c_str());
    EXPECT_EQ(RunWithoutWindow(Fixture(each.archive),
                               "/S /LOG=" + Quoted(Base("log.txt"))),
              each.exitCode);
    const std::vector<std::string> events = Log(Base("log.txt"));
    EXPECT_NE(std::find(events.begin(), events.end(), each.event),
              events.end()) << Joined(events);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "exit code: " + std::to_string(each.exitCode));
    ExpectEmpty(temporaryPath_);
    EXPECT_FALSE(Exists(Report())) << "a setup program ran";
  }
}

// Two runs of one archive at once: each works in a workspace of its own and
// starts its own setup program, each gets that program's exit code, and
// nothing is left.
TEST_F(UnattendedRun, TwoRunsAtOnceBothSucceed) {
  std::vector<std::unique_ptr<Launcher>> runs;
  for (int run = 0; run < 2; ++run)
    runs.push_back(std::make_unique<Launcher>(
        Fixture("normal.exe"), CurrentDirectory(),
        std::vector<std::pair<std::string, std::string>>{
            {"TMP", temporaryPath_},
            {"TEMP", temporaryPath_},
            {"HALVEX_SAMPLE_REPORT", Base("report" + std::to_string(run) + ".txt")},
            {"HALVEX_SAMPLE_SHOW_MS", "3000"},
            {"HALVEX_SAMPLE_EXIT_CODE", std::to_string(run + 10)}},
        "/S"));
  std::set<std::string> modules;
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(runs[run]->WaitForExit().value_or(~0u), DWORD(run + 10));
    const auto report = ParseReport(
        ReadFileText(Base("report" + std::to_string(run) + ".txt")));
    modules.insert(Only(report, "module"));
    EXPECT_EQ(report.count("ended"), 1u);
  }
  EXPECT_EQ(modules.size(), 2u);
  ExpectEmpty(temporaryPath_);
}

// A wrapper setup program starts a copy of itself and ends at once. Under
// /WAITALL the run ends after the copy, with the wrapper's exit code, and
// leaves nothing; a copy that broke away from the job is not waited for,
// and neither is any copy without /WAITALL.
TEST_F(UnattendedRun, WaitAllWaitsForEverythingSetupStarted) {
  const struct {
    const char* child;
    const char* arguments;
    bool childWaited;
  } cases[] = {
      {"wait", "/S /WAITALL", true},
      {"breakaway", "/S /WAITALL", false},
      {"wait", "/S", false},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(std::string(each.child) + " " + each.arguments);
    RemoveTree(Base("tmp"));
    ASSERT_TRUE(MakeDirectory(Base("tmp")));
    DeleteFileW(Wide(Report()).c_str());
    Launcher run(Fixture("normal.exe"), CurrentDirectory(),
                 {{"TMP", temporaryPath_},
                  {"TEMP", temporaryPath_},
                  {"HALVEX_SAMPLE_REPORT", Report()},
                  {"HALVEX_SAMPLE_SHOW_MS", "3000"},
                  {"HALVEX_SAMPLE_EXIT_CODE", "5"},
                  {"HALVEX_SAMPLE_CHILD", each.child}},
                 each.arguments);
    EXPECT_EQ(run.WaitForExit().value_or(~0u), 5u);
    EXPECT_EQ(SampleReport().count("child-ended"), each.childWaited ? 1u : 0u);
    if (each.childWaited) ExpectEmpty(temporaryPath_);
    // The copy did run, and ends before the next case starts.
    EXPECT_TRUE(WaitUntil([&] { return SampleReport().count("child-ended") == 1; }));
  }
}

// The log is appended to, in order, under a path with blanks and one in a
// folder named in Cyrillic.
TEST_F(UnattendedRun, LogHoldsTheEventsInOrder) {
  for (const std::string folder : {"with blanks", "Журнал"}) {
    SCOPED_TRACE(folder);
    const std::string log = MakeFolders(folder) + "\\setup log.txt";
    {
      HANDLE file = CreateFileW(Wide(log).c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, 0, nullptr);
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(file, "earlier\r\n", 9, &written, nullptr));
      CloseHandle(file);
    }
    const std::string arguments =
        "/LOG=" + Quoted(log) + " /S -- /quiet";
    EXPECT_EQ(RunWithoutWindow(Fixture("normal.exe"), arguments, 3010), 3010u);
    const std::string text = ReadFileText(log);
    ASSERT_EQ(text.rfind("earlier\r\n", 0), 0u) << text;
    std::vector<std::string> events;
    EXPECT_TRUE(LogEvents(text.substr(9), events));
    // The progress after each expanded piece depends on the sample's size:
    // it must come in order and each text once, and is then left out.
    std::vector<std::string> pieces;
    events.erase(
        std::remove_if(events.begin(), events.end(),
                       [&pieces](const std::string& event) {
                         for (int percent = 51; percent <= 100; ++percent)
                           if (event == "status: " + Percent(percent)) {
                             pieces.push_back(event.substr(8));
                             return true;
                           }
                         return false;
                       }),
        events.end());
    EXPECT_TRUE(CameInOrder(pieces)) << Joined(pieces);
    EXPECT_EQ(std::adjacent_find(pieces.begin(), pieces.end()), pieces.end())
        << Joined(pieces);
    EXPECT_EQ(events, (std::vector<std::string>{
                          "launcher: " + Fixture("normal.exe"),
                          "command line: " + Quoted(Fixture("normal.exe")) +
                              " " + arguments,
                          "status: " + Percent(0), "status: " + Percent(25),
                          "status: " + Percent(50), "status: " + Starting,
                          "setup command line: " + Quoted(SetupProgram()) +
                              " /quiet",
                          "status: " + Waiting, "status: " + Terminating,
                          "setup exit code: 3010", "exit code: 3010"}));
  }
}

// Without /S nothing changes: unknown arguments are ignored, `--` still
// passes its arguments, and the exit code stays 0 whatever setup returns.
TEST_F(UnattendedRun, InteractiveRunsWithArgumentsAreAsBefore) {
  for (const std::string arguments : {"/SILENT /S=1 /x", "-- /quiet"}) {
    SCOPED_TRACE(arguments);
    DeleteFileW(Wide(Report()).c_str());
    DeleteFileW(Wide(Base("status.log")).c_str());
    StartAt(Fixture("normal.exe"), 300, 5, arguments);
    ExpectCollapsed();
    Install();
    ExpectExitWithoutBox();
    ExpectStatusesOfFullRun();
    EXPECT_EQ(Only(SampleReport(), "command-line"),
              Quoted(SetupProgram()) + (arguments[0] == '-' ? " /quiet" : ""));
    ExpectEmpty(temporaryPath_);
  }
}

}  // namespace
}  // namespace e2e
