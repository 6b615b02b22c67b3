#include "launcher_driver.h"

namespace e2e {

namespace {

constexpr UINT CrossProcessTimeoutMs = 200;

struct WindowSearch {
  DWORD process;
  const char* caption;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM search) {
  auto& wanted = *reinterpret_cast<WindowSearch*>(search);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != wanted.process ||
      (wanted.caption && WindowText(window) != wanted.caption))
    return TRUE;
  wanted.found = window;
  return FALSE;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM texts) {
  char className[32] = {};
  GetClassNameA(child, className, sizeof className);
  const std::string text = WindowText(child);
  if (lstrcmpiA(className, "Static") == 0 && !text.empty())
    reinterpret_cast<std::string*>(texts)->append(text);
  return TRUE;
}

}  // namespace

Clock::duration Patience() {
  char machine[16] = {};
  const DWORD length =
      GetEnvironmentVariableA("HALVEX_EMULATED_MACHINE", machine, sizeof machine);
  const bool emulated = length > 0 && length < sizeof machine &&
                        lstrcmpA(machine, "inside") == 0;
  return emulated ? Clock::duration(300s) : Clock::duration(30s);
}

bool WaitUntil(const std::function<bool()>& done, Clock::duration limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    Sleep(5);
  }
  return true;
}

// Asked with a time-out: the launcher answers only between the steps of its
// job, when it serves its messages.
std::string WindowText(HWND window) {
  char text[512] = {};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text,
                           reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                           CrossProcessTimeoutMs, &length))
    return {};
  return std::string(text, length);
}

int OuterHeight(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return rect.bottom - rect.top;
}

std::string DriverDirectory() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::string directory = Utf8(path);
  return directory.substr(0, directory.rfind('\\') + 1);
}

bool MakeDirectory(const std::string& path) {
  return CreateDirectoryW(Wide(path).c_str(), nullptr);
}

bool CopyInto(const std::string& from, const std::string& to) {
  return CopyFileW(Wide(from).c_str(), Wide(to).c_str(), FALSE);
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileText(const std::string& path) {
  std::string text;
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
    text.append(buffer, read);
  CloseHandle(file);
  return text;
}

std::vector<std::string> DirectoryEntries(const std::string& path) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Wide(path + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = Utf8(found.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

void RemoveTree(const std::string& path) {
  for (const std::string& name : DirectoryEntries(path)) {
    const std::string entry = path + "\\" + name;
    if (IsDirectory(entry))
      RemoveTree(entry);
    else
      DeleteFileW(Wide(entry).c_str());
  }
  RemoveDirectoryW(Wide(path).c_str());
}

HWND FindProcessWindow(DWORD process, const char* caption) {
  WindowSearch search{process, caption, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND AnyProcessWindow(DWORD process) {
  return FindProcessWindow(process, nullptr);
}

StatusRecorder::StatusRecorder(DWORD launcherThread, std::string logPath)
    : logPath_(std::move(logPath)) {
  HMODULE module =
      LoadLibraryW(Wide(DriverDirectory() + "halvex-e2e-status-hook.dll").c_str());
  const auto hook =
      reinterpret_cast<HOOKPROC>(GetProcAddress(module, "StatusHook@12"));
  if (hook)
    hook_ = SetWindowsHookExA(WH_CALLWNDPROC, hook, module, launcherThread);
}

StatusRecorder::~StatusRecorder() { Stop(); }

void StatusRecorder::Stop() {
  if (hook_) UnhookWindowsHookEx(hook_);
  hook_ = nullptr;
}

std::vector<std::string> StatusRecorder::Texts() const {
  std::vector<std::string> texts;
  const std::string log = ReadFileText(logPath_);
  size_t start = 0;
  for (size_t end; (end = log.find('\n', start)) != std::string::npos;
       start = end + 1)
    texts.push_back(log.substr(start, end - start));
  return texts;
}

bool StatusRecorder::Saw(const std::string& text) const {
  for (const std::string& seen : Texts())
    if (seen == text) return true;
  return false;
}

Launcher::Launcher(
    const std::string& archive, const std::string& currentDirectory,
    const std::vector<std::pair<std::string, std::string>>& overrides,
    const std::string& arguments) {
  // The launcher inherits the driver's environment, wide, as Wine does not
  // carry a Unix TEMP into it; each case runs in a driver process of its own.
  for (const auto& [name, value] : overrides)
    SetEnvironmentVariableW(Wide(name).c_str(),
                            value.empty() ? nullptr : Wide(value).c_str());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  std::wstring commandLine = L"\"" + Wide(archive) + L"\"";
  if (!arguments.empty()) commandLine += L" " + Wide(arguments);
  if (!CreateProcessW(Wide(archive).c_str(), commandLine.data(), nullptr,
                      nullptr, FALSE, 0, nullptr,
                      Wide(currentDirectory).c_str(), &startup, &process_))
    process_ = {};
}

Launcher::~Launcher() {
  if (!process_.hProcess) return;
  if (Running()) TerminateProcess(process_.hProcess, 1);
  CloseHandle(process_.hProcess);
  CloseHandle(process_.hThread);
}

bool Launcher::Running() const {
  return process_.hProcess &&
         WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Launcher::WaitForExit(Clock::duration limit) const {
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(limit).count();
  if (!process_.hProcess ||
      WaitForSingleObject(process_.hProcess, static_cast<DWORD>(milliseconds)) !=
          WAIT_OBJECT_0)
    return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(process_.hProcess, &code);
  return code;
}

HWND Launcher::WaitForDialog() const {
  HWND dialog = nullptr;
  WaitUntil([&] {
    dialog = FindProcessWindow(Id(), "Halvex 2 installer");
    return dialog && IsWindowVisible(dialog);
  });
  return dialog;
}

std::string Launcher::DismissErrorBox() const {
  HWND box = nullptr;
  if (!WaitUntil([&] { return (box = FindProcessWindow(Id(), "Error")); }))
    return {};
  std::string text;
  WaitUntil([&] {
    text.clear();
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&text));
    return !text.empty();
  });
  PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  return text;
}

void Click(HWND dialog, int buttonId) {
  PostMessageA(GetDlgItem(dialog, buttonId), BM_CLICK, 0, 0);
}

void PressCloseBox(HWND dialog) {
  PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void PressEsc(HWND dialog) {
  HWND focused = GetDlgItem(dialog, InstallButtonId);
  PostMessageA(focused, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageA(focused, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

}  // namespace e2e
