// Starts the expanded setup program and waits for its end while keeping the
// dialog alive, so that "setup.exe" is no longer in use when the exit
// clean-up deletes it; under /WAITALL, for the end of everything it started.

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

// Under /WAITALL: a job that the setup program and everything it starts
// belong to, and a port on which the job reports when no process is left
// in it. A program may still start one deliberately outside the job
// (breakaway), such as the installed application at the end of setup.
class SetupJob {
 public:
  SetupJob() = default;
  ~SetupJob() {
    if (job_) platform::CloseHandle(job_);
    if (port_) platform::CloseHandle(port_);
  }
  SetupJob(const SetupJob&) = delete;
  SetupJob& operator=(const SetupJob&) = delete;

  // Puts the suspended `process` in a new job; false, with the last error,
  // where that cannot be (an outer job that allows no nesting).
  bool Join(HANDLE process) {
    job_ = platform::CreateJobObjectW();
    port_ = platform::CreateIoCompletionPort();
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {job_, port_};
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    joined_ = job_ && port_ &&
              platform::SetInformationJobObject(
                  job_, JobObjectAssociateCompletionPortInformation,
                  &association, sizeof association) &&
              platform::SetInformationJobObject(
                  job_, JobObjectExtendedLimitInformation, &limits,
                  sizeof limits) &&
              platform::AssignProcessToJobObject(job_, process);
    return joined_;
  }

  // Waits, keeping the dialog alive, until the job reports that no process
  // is left in it; at once when the process never joined it.
  void WaitUntilEmpty() const {
    DWORD message = 0;
    while (joined_ && message != JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
      if (!platform::GetQueuedCompletionStatus(port_, &message,
                                               PollMilliseconds) &&
          platform::GetLastError() != WAIT_TIMEOUT)
        return;
      PumpMessages();
    }
  }

 private:
  HANDLE job_ = nullptr;
  HANDLE port_ = nullptr;
  bool joined_ = false;
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
    if (ended && Run.silent) return code;
    PumpMessages();
    platform::Sleep(PollMilliseconds);
    if (ended) return code;
  }
  return InstallFailed("Error reading the setup program's exit code.");
}

// The quoted path, and one blank and the arguments as typed when there are
// any. Quoted always: a path with blanks («C:\Users\John Smith\…») would
// otherwise reach the program as several arguments.
Text SetupCommandLine(TextView path, TextView arguments) {
  Text line;
  line.Append(L'"').Append(path).Append(L'"');
  if (arguments.length) line.Append(L' ').Append(arguments);
  return line;
}

// Starts the launcher itself elevated, as a silent run with this run's own
// arguments: it extracts again into a closed workspace of its own, since
// this run's workspace is one that this user's programs may write in and
// an administrator's rights must not meet what they planted there. This
// run's workspace is removed first.
DWORD StartElevatedRun(PROCESS_INFORMATION& process) {
  RemoveRunTraces();
  Text parameters(Literal(L"/S "));
  parameters.Append(Run.launcherArguments);
  const Text launcher = OwnPath();
  if (parameters.Failed() || launcher.Empty())
    return InstallFailed(ErrorAllocatingMemoryBuffers);
  LogUnits("elevated run: ", parameters.View());
  if (platform::StartElevated(launcher.CString(), parameters.CString(),
                              &process.hProcess))
    return 0;
  return platform::GetLastError();
}

// Starts the setup program; 0 with its handles in `process`, else the
// Windows error of the start. A setup program that requires administrators
// gets them through an elevated run of the launcher and the shell's consent
// prompt, unless no one is there to answer.
DWORD StartSetupProgram(TextView path, TextView arguments,
                        PROCESS_INFORMATION& process, SetupJob& job) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  // Naming the program as the application as well keeps a path with blanks
  // from starting a different program (a planted «C:\Documents.exe» for
  // «C:\Documents and Settings\…»). The path is the workspace's own long
  // path, never an 8.3 form. CreateProcessW may write into the command line,
  // so it gets its own copy.
  Text commandLine = SetupCommandLine(path, arguments);
  if (commandLine.Failed()) return InstallFailed(ErrorAllocatingMemoryBuffers);
  LogUnits("setup command line: ", commandLine.View());
  // Under /WAITALL the program runs only once it is in the job, so that
  // nothing it starts can escape it unawares.
  if (platform::CreateProcessW(
          path.units, commandLine.Units(),
          NORMAL_PRIORITY_CLASS | (Run.waitForAll ? CREATE_SUSPENDED : 0),
          &startup, &process)) {
    if (Run.waitForAll) {
      if (!job.Join(process.hProcess))
        LogNumber("waiting for the setup program alone: ",
                  platform::GetLastError());
      platform::ResumeThread(process.hThread);
    }
    return 0;
  }
  const DWORD error = platform::GetLastError();
  if (error != platform::ElevationRequired || Run.silent) return error;
  return StartElevatedRun(process);
}

}  // namespace

DWORD RunSetupAndWait(TextView path, TextView arguments, HWND dialog) {
  PROCESS_INFORMATION process = {};
  SetupJob job;
  if (const DWORD error = StartSetupProgram(path, arguments, process, job)) {
    LogNumber("setup start failed: ", error);
    return error;
  }
  ProcessHandles handles(process);
  ShowStatus(dialog, "Waiting for setup end...");
  job.WaitUntilEmpty();
  const bool endSeen = WaitForEnd(handles.Process());
  ShowStatus(dialog, "Terminating...");
  const DWORD code = ConfirmEnd(handles.Process(), endSeen);
  LogNumber("setup exit code: ", code);
  return code;
}
