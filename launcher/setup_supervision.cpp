// Starts the expanded setup program and waits for its end while keeping the
// dialog alive, so that "setup.exe" is no longer in use when the exit
// clean-up deletes it.

#include "extract.h"
#include "launcher.h"
#include "platform.h"

namespace {

constexpr DWORD PollMilliseconds = 100;

// Owns the two handles of a started process.
class ProcessHandles {
 public:
  explicit ProcessHandles(const PROCESS_INFORMATION& process)
      : process_(process) {}
  ~ProcessHandles() {
    platform::CloseHandle(process_.hProcess);
    platform::CloseHandle(process_.hThread);
  }
  ProcessHandles(const ProcessHandles&) = delete;
  ProcessHandles& operator=(const ProcessHandles&) = delete;

  HANDLE Process() const { return process_.hProcess; }

 private:
  PROCESS_INFORMATION process_;
};

// Polls until the wait reports anything but a time-out; true when that was
// the process's end.
bool WaitForEnd(HANDLE process) {
  DWORD result;
  while ((result = platform::WaitForSingleObject(process, PollMilliseconds)) ==
         WAIT_TIMEOUT)
    PumpMessages();
  return result == WAIT_OBJECT_0;
}

// Confirms the end through the exit code. A program whose own exit code is
// STILL_ACTIVE (259) would look as if it still ran; once the wait has seen
// its end, one round is enough.
void ConfirmEnd(HANDLE process, bool endSeen) {
  DWORD code;
  while (platform::GetExitCodeProcess(process, &code)) {
    PumpMessages();
    platform::Sleep(PollMilliseconds);
    if (code != STILL_ACTIVE || endSeen) return;
  }
}

}  // namespace

int RunSetupAndWait(TextView path, HWND dialog) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // The command line is the path alone, unquoted; naming the program as the
  // application as well keeps a path with blanks from starting a different
  // program (a planted «C:\Documents.exe» for «C:\Documents and Settings\…»).
  // The path is the workspace's own long path, never an 8.3 form.
  // CreateProcessW may write into the command line, so it gets its own copy.
  Text application(path);
  Text commandLine(path);
  if (application.Failed() || commandLine.Failed() ||
      !platform::CreateProcessW(application.CString(), commandLine.Units(),
                                NORMAL_PRIORITY_CLASS, &startup, &process))
    return -1;
  ProcessHandles handles(process);
  platform::SetDlgItemTextA(dialog, StatusLineId, "Waiting for setup end...");
  const bool endSeen = WaitForEnd(handles.Process());
  platform::SetDlgItemTextA(dialog, StatusLineId, "Terminating...");
  ConfirmEnd(handles.Process(), endSeen);
  return 0;
}
