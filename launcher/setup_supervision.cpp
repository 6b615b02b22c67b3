// Starts the expanded setup program and waits for its end while keeping the
// dialog alive, so that "setup.exe" is no longer in use when the exit
// clean-up deletes it.

#include "extract.h"
#include "launcher.h"
#include "platform.h"

namespace {

constexpr DWORD PollMilliseconds = 100;

// Owns the handles of a started process; the shell's start gives no thread
// handle.
class ProcessHandles {
 public:
  explicit ProcessHandles(const PROCESS_INFORMATION& process)
      : process_(process) {}
  ~ProcessHandles() {
    platform::CloseHandle(process_.hProcess);
    if (process_.hThread) platform::CloseHandle(process_.hThread);
  }
  ProcessHandles(const ProcessHandles&) = delete;
  ProcessHandles& operator=(const ProcessHandles&) = delete;

  HANDLE Process() const { return process_.hProcess; }

 private:
  PROCESS_INFORMATION process_;
};

// Waits until the wait reports anything but a time-out, pumping between polls
// unless the run is silent; true when that was the process's end.
bool WaitForEnd(HANDLE process) {
  const DWORD limit = SilentRun ? INFINITE : PollMilliseconds;
  DWORD result;
  while ((result = platform::WaitForSingleObject(process, limit)) ==
         WAIT_TIMEOUT)
    PumpMessages();
  return result == WAIT_OBJECT_0;
}

// Confirms the end through the exit code, and returns that code. A program
// whose own exit code is STILL_ACTIVE (259) would look as if it still ran;
// once the wait has seen its end, one round is enough. The pause that keeps
// "Terminating..." in view is left out of a silent run.
DWORD ConfirmEnd(HANDLE process, bool endSeen) {
  DWORD code;
  while (platform::GetExitCodeProcess(process, &code)) {
    const bool ended = code != STILL_ACTIVE || endSeen;
    if (!SilentRun || !ended) {
      PumpMessages();
      platform::Sleep(PollMilliseconds);
    }
    if (ended) return code;
  }
  return InstallFailure;
}

// The path alone, or the quoted path, one blank and the arguments as typed.
Text SetupCommandLine(TextView path, TextView arguments) {
  if (arguments.length == 0) return Text(path);
  Text line;
  line.Append(L'"').Append(path).Append(L'"').Append(L' ').Append(arguments);
  return line;
}

// Starts the setup program; 0 with its handles in `process`, else the
// Windows error of the start. A setup program that requires administrators
// goes through the shell's consent prompt, unless no one is there to answer.
DWORD StartSetupProgram(TextView path, TextView arguments, Text& commandLine,
                        PROCESS_INFORMATION& process) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  // Naming the program as the application as well keeps a path with blanks
  // from starting a different program (a planted «C:\Documents.exe» for
  // «C:\Documents and Settings\…»). The path is the workspace's own long
  // path, never an 8.3 form. CreateProcessW may write into the command line,
  // so it gets its own copy.
  if (commandLine.Failed()) return InstallFailure;
  if (platform::CreateProcessW(path.units, commandLine.Units(),
                               NORMAL_PRIORITY_CLASS, &startup, &process))
    return 0;
  DWORD error = platform::GetLastError();
  if (error == platform::ElevationRequired && !SilentRun)
    error = platform::ShellExecuteExW(
                path.units, arguments.length ? arguments.units : nullptr,
                &process.hProcess)
                ? 0
                : platform::GetLastError();
  return error;
}

}  // namespace

DWORD RunSetupAndWait(TextView path, TextView arguments, HWND dialog) {
  Text commandLine = SetupCommandLine(path, arguments);
  LogText(SetupCommandLineLabel, commandLine.View());
  PROCESS_INFORMATION process = {};
  if (const DWORD error =
          StartSetupProgram(path, arguments, commandLine, process)) {
    LogNumber("setup start failed: ", error);
    return error;
  }
  ProcessHandles handles(process);
  ShowStatus(dialog, "Waiting for setup end...");
  const bool endSeen = WaitForEnd(handles.Process());
  ShowStatus(dialog, "Terminating...");
  const DWORD code = ConfirmEnd(handles.Process(), endSeen);
  LogNumber(SetupExitCodeLabel, code);
  return code;
}
