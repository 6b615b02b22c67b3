// One run of the launcher. Without options the dialog does the whole job and
// the exit code is 0, whatever happened. Under /S the job runs at once with
// no window, and the exit code tells a deployment tool how it went. Either
// way the run's traces in the temporary path are removed afterwards.

#include "account.h"
#include "command_line.h"
#include "extract.h"
#include "launcher.h"
#include "platform.h"

RunState Run;

void RemoveRunTraces() {
  if (!Run.setupProgramPath.Empty())
    platform::DeleteFileW(Run.setupProgramPath.CString());
  ReleaseProcessText(Run.setupProgramPath);
  RemoveWorkspace();
}

DWORD InstallFailed(const char* message) {
  LogSetupError(message);
  return InstallFailure;
}

DWORD RunJob(HWND dialog) {
  if (!ExtractSetupProgram(dialog, Run.setupProgramPath)) return InstallFailure;
  return RunSetupAndWait(Run.setupProgramPath.View(), Run.setupArguments,
                         dialog);
}

DWORD RunLauncher(const wchar_t* commandLine) {
  TextView line = {commandLine, 0};
  while (commandLine[line.length]) ++line.length;
  const LauncherOptions options =
      ParseLauncherCommandLine(line.units, line.length);
  // Without its options the run cannot tell whether anyone is there to ask.
  if (options.decoded.Failed()) return InstallFailure;
  Run.silent = options.silent;
  Run.waitForAll = options.waitAll;
  Run.launcherArguments = options.arguments;
  Run.setupArguments = options.setupArguments;
  // The redirection guard is on before anything is opened by name, the log
  // included: from then on the run follows no junction a user made.
  if (ReadRunAccount() && PrivilegedRun()) platform::EnableRedirectionGuard();
  OpenRunLog(options.logFile);
  LogUnits("launcher: ", OwnPath().View());
  LogUnits("command line: ", line);

  DWORD exitCode = 0;
  if (Run.silent)
    exitCode = RunJob(nullptr);
  else
    platform::DialogBoxParamA(platform::GetModuleHandleW(), DialogTemplateId,
                              LauncherDialogProc);
  RemoveRunTraces();
  LogNumber("exit code: ", exitCode);
  CloseRunLog();
  ReleaseExtractState();
  return exitCode;
}
