// A stand-in for Halvex's setup program. It shows a window that says so and
// closes itself after a while, or when the user closes it.
//
// For the tests it is steered by its environment, as a self-archive's payload
// is started without arguments:
//   HALVEX_SAMPLE_SHOW_MS    how long the window stays, in ms (default 4000)
//   HALVEX_SAMPLE_REPORT     file to record what the program saw at start:
//                            "command-line=", "argument-count=" (its argv's
//                            length, as the C runtime splits the line),
//                            "current-directory=" and
//                            "module=", "process-id=" and
//                            "folder-security=" (its own folder's owner and
//                            DACL in SDDL) lines, paths in UTF-8, an
//                            "addon-loaded" line when it found
//                            halvex-sample-addon.dll (loaded by name, so
//                            from its own folder first), and an "ended"
//                            line at its end
//   HALVEX_SAMPLE_EXIT_CODE  the process's exit code (default 0)
//   HALVEX_SAMPLE_SELF_COPY  path to copy the program's own file to at start,
//                            so a test sees the bytes it was started from
//   HALVEX_SAMPLE_CHILD      "wait" or "breakaway": as a wrapper would, start
//                            a copy of itself (outside any job for
//                            "breakaway"), which records "child-started"
//                            and "child-ended" and runs as above, and end
//                            at once

#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr char WindowClass[] = "HalvexSampleSetup";
constexpr UINT_PTR CloseTimer = 1;
constexpr UINT DefaultShowMilliseconds = 4000;

UINT NumberFromEnvironment(const wchar_t* name, UINT fallback) {
  wchar_t text[16];
  const DWORD length = GetEnvironmentVariableW(name, text, 16);
  if (length == 0 || length >= 16) return fallback;
  return std::wcstoul(text, nullptr, 10);
}

// The value of an environment variable that names a file; empty when unset.
std::wstring PathFromEnvironment(const wchar_t* name) {
  wchar_t path[32768];
  const DWORD length = GetEnvironmentVariableW(name, path, 32768);
  return length == 0 || length >= 32768 ? std::wstring() : path;
}

std::string Utf8(const wchar_t* text) {
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? size - 1 : 0, '\0');
  if (size > 1)
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr,
                        nullptr);
  return utf8;
}

// Paths are recorded in UTF-8, whatever the ANSI code page.
void AppendToReport(const char* key, const std::string& value) {
  const std::wstring path = PathFromEnvironment(L"HALVEX_SAMPLE_REPORT");
  if (path.empty()) return;
  if (FILE* report = _wfopen(path.c_str(), L"ab")) {
    std::fprintf(report, "%s%s\n", key, value.c_str());
    std::fclose(report);
  }
}

void CopySelf(const wchar_t* module) {
  const std::wstring path = PathFromEnvironment(L"HALVEX_SAMPLE_SELF_COPY");
  if (!path.empty()) CopyFileW(module, path.c_str(), FALSE);
}

// The owner and DACL of the folder the program was started from, as SDDL.
void ReportFolderSecurity(const wchar_t* module) {
  std::wstring folder = module;
  folder.resize(folder.rfind(L'\\') == std::wstring::npos
                    ? 0
                    : folder.rfind(L'\\'));
  char descriptor[4096];
  DWORD needed = 0;
  char* text = nullptr;
  const SECURITY_INFORMATION parts =
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (GetFileSecurityW(folder.c_str(), parts, descriptor, sizeof descriptor,
                       &needed) &&
      ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, parts, &text, nullptr)) {
    AppendToReport("folder-security=", text);
    LocalFree(text);
  } else {
    AppendToReport("folder-security=", "(unreadable)");
  }
}

void ReportStart(const wchar_t* module) {
  wchar_t directory[32768] = {};
  GetCurrentDirectoryW(32768, directory);
  AppendToReport("command-line=", Utf8(GetCommandLineW()));
  AppendToReport("argument-count=", std::to_string(__argc));
  AppendToReport("current-directory=", Utf8(directory));
  AppendToReport("module=", Utf8(module));
  AppendToReport("process-id=", std::to_string(GetCurrentProcessId()));
  ReportFolderSecurity(module);
  if (LoadLibraryW(L"halvex-sample-addon.dll")) AppendToReport("addon-loaded", "");
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

// Starts a copy of this program as a wrapper starts the real installer;
// the copy takes the same environment less HALVEX_SAMPLE_CHILD.
void StartChild(const wchar_t* module, bool breakaway) {
  SetEnvironmentVariableW(L"HALVEX_SAMPLE_CHILD", nullptr);
  SetEnvironmentVariableW(L"HALVEX_SAMPLE_IS_CHILD", L"1");
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = L"\"" + std::wstring(module) + L"\"";
  if (CreateProcessW(module, commandLine.data(), nullptr, nullptr, FALSE,
                     breakaway ? CREATE_BREAKAWAY_FROM_JOB : 0, nullptr,
                     nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  static wchar_t module[32768];
  GetModuleFileNameW(nullptr, module, 32768);
  const UINT exitCode =
      NumberFromEnvironment(L"HALVEX_SAMPLE_EXIT_CODE", 0);
  const bool isChild = !PathFromEnvironment(L"HALVEX_SAMPLE_IS_CHILD").empty();
  if (isChild) {
    AppendToReport("child-started", "");
  } else {
    CopySelf(module);
    ReportStart(module);
  }
  const std::wstring child = PathFromEnvironment(L"HALVEX_SAMPLE_CHILD");
  if (!child.empty()) {
    StartChild(module, child == L"breakaway");
    AppendToReport("ended", "");
    return static_cast<int>(exitCode);
  }
  HWND window = CreateSetupWindow(instance);
  ShowWindow(window, show);
  SetTimer(window, CloseTimer,
           NumberFromEnvironment(L"HALVEX_SAMPLE_SHOW_MS",
                                 DefaultShowMilliseconds),
           nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  AppendToReport(isChild ? "child-ended" : "ended", "");
  return static_cast<int>(exitCode);
}
