// launcher-extract ARCHIVE OUT [TEMPORARY_PATH]: runs the launcher's own
// extraction pipeline on ARCHIVE as if it were the running program's file,
// with a temporary path of its own (or the one given, where a test has laid
// out a workspace beforehand), and copies the "setup.exe" it made to OUT.
// Lets the host tests see what a setup program would get from a
// self-archive, and what the launcher does beside an entry it finds.

#include <windows.h>

#include <cstdio>
#include <string>

#include "account.h"
#include "extract.h"
#include "fault_injection.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: launcher-extract ARCHIVE OUT [TEMPORARY_PATH]\n");
    return 2;
  }
  char temporary[MAX_PATH];
  GetTempPathA(MAX_PATH, temporary);
  const bool ownScratch = argc == 3;
  const std::string scratch =
      ownScratch ? std::string(temporary) + "launcher-extract-" +
                       std::to_string(GetCurrentProcessId())
                 : std::string(argv[3]);
  if (ownScratch) CreateDirectoryA(scratch.c_str(), nullptr);
  SetEnvironmentVariableA("TMP", scratch.c_str());
  SetEnvironmentVariableA("TEMP", scratch.c_str());
  platform::faults::RedirectModuleFileName(argv[1]);
  ReadRunAccount();

  ProcessText setupProgramPath = {};
  const bool extracted = ExtractSetupProgram(nullptr, setupProgramPath);
  for (const auto& box : platform::faults::ErrorBoxes())
    std::fprintf(stderr, "launcher-extract: %s\n", box.text.c_str());
  const bool copied =
      extracted && CopyFileW(setupProgramPath.CString(),
                             platform::faults::Wide(argv[2]).c_str(), FALSE);
  DeleteFileW(setupProgramPath.CString());
  RemoveWorkspace();
  if (ownScratch) RemoveDirectoryA(scratch.c_str());
  return copied ? 0 : 1;
}
