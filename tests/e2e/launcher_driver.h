#pragma once
// Drives a real launcher process as a user would: starts a self-archive,
// finds its dialog and error boxes, presses their buttons, and records every
// text that the status line shows.

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "utf8.h"

namespace e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Control ids of the launcher's dialog template.
constexpr int IntroTextId = 101;
constexpr int SeparatorId = 102;
constexpr int StatusLineId = 103;
constexpr int DescriptionId = 104;
constexpr int AbortButtonId = 110;
constexpr int InstallButtonId = 111;

// A limit for what must happen, never a wait: 30 s, and ten times that
// inside the emulated machine (HALVEX_EMULATED_MACHINE=inside), where
// everything takes 10 to 20 times longer.
Clock::duration Patience();

// Polls `done` until it holds or `limit` has passed; true when it held.
bool WaitUntil(const std::function<bool()>& done,
               Clock::duration limit = Patience());

std::string WindowText(HWND window);
int OuterHeight(HWND window);

// Paths are UTF-8 here and wide at the platform, so that folders named in
// any script can be laid out and inspected whatever the ANSI code page.
using platform::Utf8;
using platform::Wide;

// Files and directories of the driver's own temporary path.
std::string DriverDirectory();  // where the driver and the fixtures lie
bool MakeDirectory(const std::string& path);
bool CopyInto(const std::string& from, const std::string& to);
bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
std::string ReadFileText(const std::string& path);
void RemoveTree(const std::string& path);
// The names in a directory, "." and ".." left out.
std::vector<std::string> DirectoryEntries(const std::string& path);

// A top-level window of `process` with this caption, or null.
HWND FindProcessWindow(DWORD process, const char* caption);
// Any top-level window of `process`, shown or not, or null.
HWND AnyProcessWindow(DWORD process);

// Records every text set on the launcher's status line, in order: a window
// hook on the launcher's thread appends each to the log file that the
// launcher found named in HALVEX_E2E_STATUS_LOG when it started.
class StatusRecorder {
 public:
  StatusRecorder(DWORD launcherThread, std::string logPath);
  ~StatusRecorder();
  StatusRecorder(const StatusRecorder&) = delete;
  StatusRecorder& operator=(const StatusRecorder&) = delete;

  bool Hooked() const { return hook_ != nullptr; }
  std::vector<std::string> Texts() const;
  bool Saw(const std::string& text) const;
  // Removes the hook; Texts() keeps what was logged.
  void Stop();

 private:
  std::string logPath_;
  HHOOK hook_ = nullptr;
};

// One started launcher process.
class Launcher {
 public:
  // Starts `archive` with `currentDirectory`; the environment is the
  // driver's, with `overrides` (NAME, value) set or, for an empty value,
  // removed. `arguments` (UTF-8) follow the quoted archive path and a blank.
  Launcher(const std::string& archive, const std::string& currentDirectory,
           const std::vector<std::pair<std::string, std::string>>& overrides,
           const std::string& arguments = "");
  ~Launcher();  // ends a launcher that is still running
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;

  DWORD Id() const { return process_.dwProcessId; }
  DWORD ThreadId() const { return process_.dwThreadId; }
  bool Running() const;
  // The exit code once the process has ended within `limit`.
  std::optional<DWORD> WaitForExit(Clock::duration limit = Patience()) const;

  // The dialog, once it is shown; null when it did not appear in time.
  HWND WaitForDialog() const;
  // Reads the error box's text, presses its OK and returns the text; empty
  // when no box appeared in time.
  std::string DismissErrorBox() const;

 private:
  PROCESS_INFORMATION process_ = {};
};

// A click as the user's would arrive: the button's own click, posted, so the
// driver does not wait while the launcher runs its job inside the click.
void Click(HWND dialog, int buttonId);
// The caption's close box.
void PressCloseBox(HWND dialog);
// The Esc key on the focused control.
void PressEsc(HWND dialog);

}  // namespace e2e
