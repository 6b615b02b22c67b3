// A stand-in for Halvex's setup program. It shows a window that says so and
// closes itself after a while, or when the user closes it.
//
// For the tests it is steered by its environment, as a self-archive's payload
// is started without arguments:
//   HALVEX_SAMPLE_SHOW_MS    how long the window stays, in ms (default 4000)
//   HALVEX_SAMPLE_REPORT     file to record what the program saw at start:
//                            "command-line=", "current-directory=" and
//                            "module=", "process-id=" and
//                            "folder-security=" (its own folder's owner and
//                            DACL in SDDL) lines, and an "ended" line at its
//                            end
//   HALVEX_SAMPLE_EXIT_CODE  the process's exit code (default 0)
//   HALVEX_SAMPLE_SELF_COPY  path to copy the program's own file to at start,
//                            so a test sees the bytes it was started from

#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char WindowClass[] = "HalvexSampleSetup";
constexpr UINT_PTR CloseTimer = 1;
constexpr UINT DefaultShowMilliseconds = 4000;

UINT NumberFromEnvironment(const char* name, UINT fallback) {
  char text[16];
  const DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
  if (length == 0 || length >= sizeof text) return fallback;
  return std::strtoul(text, nullptr, 10);
}

void AppendToReport(const char* key, const char* value) {
  char path[MAX_PATH];
  const DWORD length =
      GetEnvironmentVariableA("HALVEX_SAMPLE_REPORT", path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  if (FILE* report = std::fopen(path, "ab")) {
    std::fprintf(report, "%s%s\n", key, value);
    std::fclose(report);
  }
}

void CopySelf(const char* module) {
  char path[MAX_PATH];
  const DWORD length =
      GetEnvironmentVariableA("HALVEX_SAMPLE_SELF_COPY", path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  CopyFileA(module, path, FALSE);
}

// The owner and DACL of the folder the program was started from, as SDDL.
void ReportFolderSecurity(const char* module) {
  char folder[MAX_PATH];
  lstrcpynA(folder, module, sizeof folder);
  if (char* last = std::strrchr(folder, '\\')) *last = 0;
  char descriptor[4096];
  DWORD needed = 0;
  char* text = nullptr;
  const SECURITY_INFORMATION parts =
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (GetFileSecurityA(folder, parts, descriptor, sizeof descriptor, &needed) &&
      ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, parts, &text, nullptr)) {
    AppendToReport("folder-security=", text);
    LocalFree(text);
  } else {
    AppendToReport("folder-security=", "(unreadable)");
  }
}

void ReportStart(const char* module) {
  char directory[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof directory, directory);
  AppendToReport("command-line=", GetCommandLineA());
  AppendToReport("current-directory=", directory);
  AppendToReport("module=", module);
  char process[16];
  std::snprintf(process, sizeof process, "%lu", GetCurrentProcessId());
  AppendToReport("process-id=", process);
  ReportFolderSecurity(module);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam,
                            LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

HWND CreateSetupWindow(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = WindowClass;
  RegisterClassA(&windowClass);
  HWND window = CreateWindowA(
      WindowClass, "Halvex Setup", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
      CW_USEDEFAULT, CW_USEDEFAULT, 360, 120, nullptr, nullptr, instance,
      nullptr);
  CreateWindowA("STATIC",
                "This is Halvex's setup program.\n"
                "It closes by itself in a few seconds.",
                WS_CHILD | WS_VISIBLE, 12, 12, 330, 40, window, nullptr,
                instance, nullptr);
  return window;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  char module[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, module, sizeof module);
  CopySelf(module);
  ReportStart(module);
  HWND window = CreateSetupWindow(instance);
  ShowWindow(window, show);
  SetTimer(window, CloseTimer,
           NumberFromEnvironment("HALVEX_SAMPLE_SHOW_MS",
                                 DefaultShowMilliseconds),
           nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  AppendToReport("ended", "");
  return static_cast<int>(NumberFromEnvironment("HALVEX_SAMPLE_EXIT_CODE", 0));
}
