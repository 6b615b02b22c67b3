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

// Polls until the wait reports anything but a time-out, keeping the dialog
// alive between polls; true when that was the process's end.
bool WaitForEnd(HANDLE process) {
  DWORD result;
  while ((result = platform::WaitForSingleObject(process, PollMilliseconds)) ==
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
    if (ended && SilentRun) return code;
    PumpMessages();
    platform::Sleep(PollMilliseconds);
    if (ended) return code;
  }
  return InstallFailure;
}

// The path alone, or the quoted path, one blank and the arguments as typed.
Text SetupCommandLine(TextView path, TextView arguments) {
  Text line;
  if (arguments.length) line.Append(L'"');
  line.Append(path);
  if (arguments.length) line.Append(Literal(L"\" ")).Append(arguments);
  return line;
}

// Starts the setup program; 0 with its handles in `process`, else the
// Windows error of the start. A setup program that requires administrators
// goes through the shell's consent prompt, unless no one is there to answer.
DWORD StartSetupProgram(TextView path, TextView arguments,
                        PROCESS_INFORMATION& process) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  // Naming the program as the application as well keeps a path with blanks
  // from starting a different program (a planted «C:\Documents.exe» for
  // «C:\Documents and Settings\…»). The path is the workspace's own long
  // path, never an 8.3 form. CreateProcessW may write into the command line,
  // so it gets its own copy.
  Text commandLine = SetupCommandLine(path, arguments);
  if (commandLine.Failed()) return InstallFailure;
  LogEvent("setup command line: ", "", commandLine.View());
  if (platform::CreateProcessW(path.units, commandLine.Units(),
                               NORMAL_PRIORITY_CLASS, &startup, &process))
    return 0;
  if (platform::GetLastError() == platform::ElevationRequired && !SilentRun &&
      platform::ShellExecuteExW(path.units, arguments.units, &process.hProcess))
    return 0;
  return platform::GetLastError();
}

}  // namespace

DWORD RunSetupAndWait(TextView path, TextView arguments, HWND dialog) {
  PROCESS_INFORMATION process = {};
  if (const DWORD error = StartSetupProgram(path, arguments, process)) {
    LogNumber("setup start failed: ", error);
    return error;
  }
  ProcessHandles handles(process);
  ShowStatus(dialog, "Waiting for setup end...");
  const bool endSeen = WaitForEnd(handles.Process());
  ShowStatus(dialog, "Terminating...");
  const DWORD code = ConfirmEnd(handles.Process(), endSeen);
  LogNumber("setup exit code: ", code);
  return code;
}
