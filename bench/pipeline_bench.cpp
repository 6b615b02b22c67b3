// pipeline-bench ARCHIVE TEMP: runs ExtractSetupProgram once on a prepared
// self-archive (standing in as the program's own file), with TEMP as the
// temporary path, and prints the wall
// time, the status updates it made, and the time beyond their 10 ms pauses.
// Run by bench/pipeline_bench.sh; not a test.

#include <windows.h>

#include <cstdio>
#include <string>

#include "account.h"
#include "extract.h"
#include "fault_injection.h"

namespace {

int StatusUpdates;

LRESULT CALLBACK CountUpdates(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_SETTEXT) ++StatusUpdates;
  return ::DefWindowProcA(window, message, w, l);
}

HWND StatusDialog() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = CountUpdates;
  windowClass.lpszClassName = "HalvexBenchStatus";
  ::RegisterClassA(&windowClass);
  HWND dialog = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 60,
                                  nullptr, nullptr, nullptr, nullptr);
  ::CreateWindowExA(0, "HalvexBenchStatus", "", WS_CHILD, 0, 0, 280, 20, dialog,
                    reinterpret_cast<HMENU>(StatusLineId), nullptr, nullptr);
  return dialog;
}

double Seconds() {
  LARGE_INTEGER now, frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pipeline-bench ARCHIVE TEMP\n");
    return 2;
  }
  platform::faults::RedirectModuleFileName(argv[1]);
  ReadRunAccount();  // the workspace is created for the run's own account
  ::SetEnvironmentVariableA("TMP", argv[2]);
  ::SetEnvironmentVariableA("TEMP", argv[2]);
  HWND dialog = StatusDialog();
  ProcessText setupProgram{};

  const double start = Seconds();
  const bool extracted = ExtractSetupProgram(dialog, setupProgram);
  const double elapsed = Seconds() - start;

  if (!extracted || !platform::faults::ErrorBoxes().empty()) {
    std::fprintf(stderr, "pipeline-bench: extraction failed\n");
    return 1;
  }
  // One 10 ms pause per status update.
  const double pauses = StatusUpdates * 0.010;
  std::printf("pipeline %.3f s, %d status updates (%.3f s of pauses), "
              "beyond the pauses %.3f s\n",
              elapsed, StatusUpdates, pauses, elapsed - pauses);
  ::DeleteFileW(setupProgram.CString());
  RemoveWorkspace();
  return 0;
}
