#pragma once
// The one door through which the launcher reaches Windows: files, the
// security of directories, processes, windows and LZ expansion. Each call keeps its Win32 name and meaning; the
// arguments the launcher never varies are fixed here. In the release build
// every call is inlined to the bare Win32 call; the test build lets a test
// make any single call fail (fault_points.h).

#include <windows.h>

#include "fault_points.h"

// advapi32's RtlGenRandom; its own header names it only through a macro,
// which would rename every other RtlGenRandom in sight.
extern "C" __declspec(dllimport) BOOLEAN WINAPI SystemFunction036(PVOID, ULONG);

namespace platform {

using faults::Action;
using faults::Call;
using faults::Decide;

// --- files and directories -------------------------------------------------
// Every path is wide, from the platform to the platform: nothing passes
// through the ANSI code page, where a character it lacks becomes '?' or a
// look-alike, and so another folder.

// A procedure of kernel32 that older systems may lack; null when absent.
FARPROC KernelProcedure(const char* name);

// SYSTEM's own temporary folder, which no other account may open, where
// kernel32 has GetTempPath2W (Windows 11, and the 2022 updates of Windows 10
// and Server); for every other account it is the same as GetTempPathW's.
inline DWORD GetTempPathW(DWORD size, wchar_t* buffer) {
  switch (Decide(Call::GetTempPathW, nullptr, size)) {
    case Action::Fail: return 0;
    case Action::Short: return size + 1;  // as if the path needed more room
    case Action::Pass: break;
  }
  using TempPathFunction = DWORD(WINAPI*)(DWORD, LPWSTR);
  const auto systemAware =
      reinterpret_cast<TempPathFunction>(KernelProcedure("GetTempPath2W"));
  return systemAware ? systemAware(size, buffer)
                     : ::GetTempPathW(size, buffer);
}

// `size` is in units; a path that does not fit answers `size`.
inline DWORD GetModuleFileNameW(wchar_t* buffer, DWORD size) {
  if (Decide(Call::GetModuleFileNameW, nullptr, size) == Action::Fail) return 0;
  if (DWORD length = faults::RedirectedModuleFileName(buffer, size))
    return length;
  return ::GetModuleFileNameW(nullptr, buffer, size);
}

// `attributes` carries the security descriptor of a file it creates.
inline HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD sharing,
                          DWORD creation, DWORD flags = 0,
                          SECURITY_ATTRIBUTES* attributes = nullptr) {
  if (attributes)
    faults::NoteSecurityGiven(Call::CreateFileW, path,
                              attributes->lpSecurityDescriptor);
  if (Decide(Call::CreateFileW, path, 0) == Action::Fail) {
    ::SetLastError(faults::InjectedError(ERROR_ACCESS_DENIED));
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = ::CreateFileW(path, access, sharing, attributes, creation,
                              flags, nullptr);
  if (file != INVALID_HANDLE_VALUE)
    faults::NoteFileOpened(file, path, access, sharing, creation);
  return file;
}

// The low 32 bits of the size, as GetFileSize answers without its high
// part; read through GetFileInformationByHandle, which the launcher imports
// anyway.
inline DWORD GetFileSize(HANDLE file) {
  switch (Decide(Call::GetFileSize, faults::PathOfFile(file), 0)) {
    case Action::Fail: return INVALID_FILE_SIZE;
    case Action::Short: return 0x80000000u;  // a file of 2 GiB
    case Action::Pass: break;
  }
  BY_HANDLE_FILE_INFORMATION information;
  return ::GetFileInformationByHandle(file, &information)
             ? information.nFileSizeLow
             : INVALID_FILE_SIZE;
}

inline BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* done) {
  switch (Decide(Call::ReadFile, faults::PathOfFile(file), size)) {
    case Action::Fail: return FALSE;
    case Action::Short: size /= 2; break;
    case Action::Pass: break;
  }
  return ::ReadFile(file, buffer, size, done, nullptr);
}

inline BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* done) {
  switch (Decide(Call::WriteFile, faults::PathOfFile(file), size)) {
    case Action::Fail: return FALSE;
    case Action::Short: size /= 2; break;
    case Action::Pass: break;
  }
  return ::WriteFile(file, data, size, done, nullptr);
}

inline BOOL FlushFileBuffers(HANDLE file) {
  if (Decide(Call::FlushFileBuffers, faults::PathOfFile(file), 0) ==
      Action::Fail)
    return FALSE;
  return ::FlushFileBuffers(file);
}

inline BOOL CloseHandle(HANDLE handle) {
  if (Decide(Call::CloseHandle, faults::PathOfFile(handle), 0) == Action::Fail)
    return FALSE;
  faults::NoteFileClosed(handle);
  return ::CloseHandle(handle);
}

inline BOOL DeleteFileW(const wchar_t* path) {
  if (Decide(Call::DeleteFileW, path, 0) == Action::Fail) return FALSE;
  return ::DeleteFileW(path);
}

inline HANDLE FindFirstFileW(const wchar_t* path, WIN32_FIND_DATAW* found) {
  if (Decide(Call::FindFirstFileW, path, 0) == Action::Fail) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return ::FindFirstFileW(path, found);
}

inline BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* found) {
  return ::FindNextFileW(search, found);
}

inline BOOL FindClose(HANDLE search) { return ::FindClose(search); }

// `attributes` carries the directory's security descriptor.
inline BOOL CreateDirectoryW(const wchar_t* path,
                             SECURITY_ATTRIBUTES* attributes) {
  faults::NoteSecurityGiven(Call::CreateDirectoryW, path,
                                attributes->lpSecurityDescriptor);
  if (Decide(Call::CreateDirectoryW, path, 0) == Action::Fail) {
    ::SetLastError(faults::InjectedError(ERROR_ACCESS_DENIED));
    return FALSE;
  }
  if (!::CreateDirectoryW(path, attributes)) return FALSE;
  faults::AfterDirectoryCreated(path);
  return TRUE;
}

inline BOOL RemoveDirectoryW(const wchar_t* path) {
  if (Decide(Call::RemoveDirectoryW, path, 0) == Action::Fail) return FALSE;
  return ::RemoveDirectoryW(path);
}

// One call site for the many that ask, which keeps the image small.
__attribute__((noinline)) inline DWORD GetLastError() {
  return ::GetLastError();
}

// --- security of directories and of the process -----------------------------

// A directory entry itself, never what a junction or symbolic link makes of
// it, opened to list it and to read its attributes, owner and permissions.
// Others may read and write in it while it is open, but no one may delete,
// rename or replace it, and the open fails while anyone holds it open to do
// so. The listing right is what makes the hold hold: an open that asks for
// no data access takes no part in the sharing checks.
inline HANDLE OpenDirectoryEntry(const wchar_t* path) {
  if (Decide(Call::OpenDirectoryEntry, path, 0) == Action::Fail) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return ::CreateFileW(path,
                       FILE_LIST_DIRECTORY | READ_CONTROL | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
}

// What an open entry itself is: its attributes and its number of links.
inline BOOL GetFileInformationByHandle(HANDLE entry,
                                       BY_HANDLE_FILE_INFORMATION* information) {
  const Action action = Decide(Call::GetFileInformationByHandle, nullptr, 0);
  if (action == Action::Fail ||
      !::GetFileInformationByHandle(entry, information))
    return FALSE;
  // As a junction or a directory's symbolic link shows, which Wine cannot.
  if (action == Action::Alter)
    information->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  return TRUE;
}

// The owner and the DACL of an open entry, self-relative, in `buffer`.
inline BOOL GetKernelObjectSecurity(HANDLE entry, void* buffer, DWORD size) {
  DWORD needed = 0;
  switch (Decide(Call::GetKernelObjectSecurity, nullptr, size)) {
    case Action::Fail: return FALSE;
    case Action::Alter: return faults::AlteredSecurity(buffer, size);
    case Action::Short: case Action::Pass: break;
  }
  return ::GetKernelObjectSecurity(
      entry, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, buffer,
      size, &needed);
}

// The process's own access token, open for queries.
inline BOOL OpenProcessToken(HANDLE* token) {
  if (Decide(Call::OpenProcessToken, nullptr, 0) == Action::Fail) return FALSE;
  // (HANDLE)-1 is what GetCurrentProcess returns, without importing it.
  return ::OpenProcessToken(reinterpret_cast<HANDLE>(-1), TOKEN_QUERY, token);
}

// `kind` is TokenUser, TokenOwner or TokenElevation.
inline BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind,
                                void* buffer, DWORD size) {
  DWORD needed = 0;
  switch (Decide(Call::GetTokenInformation, nullptr, kind)) {
    case Action::Fail: return FALSE;
    case Action::Alter: return faults::AlteredToken(kind, buffer, size);
    case Action::Short: case Action::Pass: break;
  }
  return ::GetTokenInformation(token, kind, buffer, size, &needed);
}

// Opts the process into the redirection guard where the system has it: from
// now on it follows no junction that an account other than an administrator
// made. Older systems lack the policy, and run as before.
inline void EnableRedirectionGuard() {
  // ProcessRedirectionTrustPolicy, and its EnforceRedirectionTrust flag.
  constexpr int RedirectionTrustPolicy = 16;
  DWORD enforce = 1;
  if (Decide(Call::SetProcessMitigationPolicy, nullptr, 0) == Action::Fail)
    return;
  using PolicyFunction = BOOL(WINAPI*)(int, void*, SIZE_T);
  if (const auto setPolicy = reinterpret_cast<PolicyFunction>(
          KernelProcedure("SetProcessMitigationPolicy")))
    setPolicy(RedirectionTrustPolicy, &enforce, sizeof enforce);
}

// `size` bytes from the system's random source (advapi32's
// SystemFunction036).
inline BOOLEAN RtlGenRandom(void* buffer, ULONG size) {
  if (Decide(Call::RtlGenRandom, nullptr, size) == Action::Fail) return FALSE;
  return ::SystemFunction036(buffer, size);
}

// --- time and text ------------------------------------------------------------

inline void GetLocalTime(SYSTEMTIME* time) { ::GetLocalTime(time); }

// UTF-8 of `length` units into `buffer` (`size` bytes; none: the size needed).
inline int Utf8FromWide(const wchar_t* units, int length, char* buffer,
                        int size) {
  return ::WideCharToMultiByte(CP_UTF8, 0, units, length, buffer, size,
                               nullptr, nullptr);
}

// --- memory ------------------------------------------------------------------

// Blocks from the process heap, flags 0.
inline void* HeapAlloc(DWORD size) {
  if (Decide(Call::HeapAlloc, nullptr, size) == Action::Fail) return nullptr;
  void* block = ::HeapAlloc(::GetProcessHeap(), 0, size);
  if (block) faults::NoteBlockAllocated(block, size);
  return block;
}

inline void HeapFree(void* block) {
  faults::NoteBlockFreed(block);
  ::HeapFree(::GetProcessHeap(), 0, block);
}

// --- processes -----------------------------------------------------------------

inline HMODULE GetModuleHandleW() { return ::GetModuleHandleW(nullptr); }

inline BOOL CreateProcessW(const wchar_t* application, wchar_t* commandLine,
                           DWORD flags, STARTUPINFOW* startup,
                           PROCESS_INFORMATION* process) {
  if (Decide(Call::CreateProcessW, commandLine, 0) == Action::Fail) {
    ::SetLastError(faults::InjectedError(ERROR_FILE_NOT_FOUND));
    return FALSE;
  }
  return ::CreateProcessW(application, commandLine, nullptr, nullptr, FALSE,
                          flags, nullptr, nullptr, startup, process);
}

// What CreateProcessW answers for a program whose manifest requires
// administrators (ERROR_ELEVATION_REQUIRED; mingw-w64's headers lack it).
constexpr DWORD ElevationRequired = 740;

// Starts `file` through the shell's "runas" verb, which asks for the user's
// consent to elevate it, with `parameters` (null or empty: none); `process`
// receives its handle (null when the shell started none). COM is
// initialised first, as the shell asks of its callers; shell32 and ole32
// are loaded only here, from the system directory.
BOOL StartElevated(const wchar_t* file, const wchar_t* parameters,
                   HANDLE* process);

inline BOOL ResumeThread(HANDLE thread) {
  return ::ResumeThread(thread) != static_cast<DWORD>(-1);
}

// A job object with no name and the default security.
inline HANDLE CreateJobObjectW() { return ::CreateJobObjectW(nullptr, nullptr); }

inline BOOL SetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS kind,
                                    void* information, DWORD size) {
  return ::SetInformationJobObject(job, kind, information, size);
}

inline BOOL AssignProcessToJobObject(HANDLE job, HANDLE process) {
  if (Decide(Call::AssignProcessToJobObject, nullptr, 0) == Action::Fail) {
    ::SetLastError(faults::InjectedError(ERROR_ACCESS_DENIED));
    return FALSE;
  }
  return ::AssignProcessToJobObject(job, process);
}

// A completion port of its own, for one thread, with no file behind it.
inline HANDLE CreateIoCompletionPort() {
  return ::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
}

inline BOOL GetQueuedCompletionStatus(HANDLE port, DWORD* message,
                                      DWORD milliseconds) {
  ULONG_PTR key;
  OVERLAPPED* overlapped;
  return ::GetQueuedCompletionStatus(port, message, &key, &overlapped,
                                     milliseconds);
}

inline const wchar_t* GetCommandLineW() { return ::GetCommandLineW(); }

inline DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  if (Decide(Call::WaitForSingleObject, nullptr, 0) == Action::Fail)
    return WAIT_FAILED;
  return ::WaitForSingleObject(object, milliseconds);
}

inline BOOL GetExitCodeProcess(HANDLE process, DWORD* code) {
  if (Decide(Call::GetExitCodeProcess, nullptr, 0) == Action::Fail)
    return FALSE;
  return ::GetExitCodeProcess(process, code);
}

inline void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

[[noreturn]] inline void ExitProcess(UINT code) { ::ExitProcess(code); }

// --- windows -------------------------------------------------------------------

inline INT_PTR DialogBoxParamA(HINSTANCE instance, int templateId,
                               DLGPROC procedure) {
  if (Decide(Call::DialogBoxParamA, nullptr, 0) == Action::Fail) return -1;
  return ::DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), nullptr,
                           procedure, 0);
}

inline BOOL EndDialog(HWND dialog, INT_PTR result) {
  return ::EndDialog(dialog, result);
}
inline HWND GetDlgItem(HWND dialog, int id) { return ::GetDlgItem(dialog, id); }
inline BOOL ShowWindow(HWND window, int command) {
  return ::ShowWindow(window, command);
}
inline BOOL GetWindowRect(HWND window, RECT* rect) {
  return ::GetWindowRect(window, rect);
}
inline BOOL SetWindowPos(HWND window, int x, int y, int width, int height,
                         UINT flags) {
  return ::SetWindowPos(window, HWND_TOP, x, y, width, height, flags);
}
inline BOOL SetWindowTextA(HWND window, const char* text) {
  return ::SetWindowTextA(window, text);
}
inline int GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }
inline BOOL PeekMessageA(MSG* message) {
  return ::PeekMessageA(message, nullptr, 0, 0, PM_REMOVE);
}
inline BOOL TranslateMessage(const MSG* message) {
  return ::TranslateMessage(message);
}
inline LRESULT DispatchMessageA(const MSG* message) {
  return ::DispatchMessageA(message);
}

// Formats numbers and ASCII texts: the status line, the log's time stamps.
template <typename... Values>
int wsprintfA(char* buffer, const char* format, Values... values) {
  return ::wsprintfA(buffer, format, values...);
}

// A box with no owner window.
inline int MessageBoxA(const char* text, const char* caption, UINT type) {
  if (faults::CaptureMessageBox(nullptr, text, caption, type)) return IDOK;
  return ::MessageBoxA(nullptr, text, caption, type);
}

// --- LZ expansion (lz32.dll, loaded from the system directory only) ------------

// Confines the process's DLL search to safe places before anything loads a
// library by name; call it first thing at start-up.
void RestrictDllSearch();
// A library from the system directory only; `name` begins with a backslash
// ("\\lz32.dll") and is at most 15 units long.
HMODULE LoadSystemLibrary(const wchar_t* name);

INT LZInit(HANDLE file);
LONG LZSeek(INT expansion, LONG offset, INT origin);
INT LZRead(INT expansion, char* buffer, INT count);
void LZClose(INT expansion);

}  // namespace platform
