#pragma once
// The points at which the test build of the platform layer can make a call
// fail. The release build answers "pass" at compile time, so every check
// below folds away and each platform call is the bare Win32 call.

namespace platform::faults {

enum class Call : unsigned char {
  GetTempPathW,
  GetModuleFileNameW,
  CreateFileW,
  GetFileSize,
  ReadFile,
  WriteFile,
  FlushFileBuffers,
  CloseHandle,
  HeapAlloc,
  DeleteFileW,
  FindFirstFileW,
  CreateDirectoryW,
  RemoveDirectoryW,
  OpenDirectoryEntry,
  GetFileInformationByHandle,
  GetKernelObjectSecurity,
  OpenProcessToken,
  GetTokenInformation,
  SetProcessMitigationPolicy,
  RtlGenRandom,
  CreateProcessW,
  AssignProcessToJobObject,
  ShellExecuteExW,
  WaitForSingleObject,
  GetExitCodeProcess,
  LZInit,
  LZRead,
  DialogBoxParamA,
  Count
};

enum class Action : unsigned char {
  Pass,   // the real call runs
  Fail,   // the call reports its failure value without running
  Short,  // the call runs but does less than asked: a short read or write,
          // a temporary path that needs a bigger buffer, a huge file size
  Alter,  // the call runs, but its answer is changed to what a test under
          // Wine cannot make: an entry found as a reparse point (a junction
          // or symbolic link), a security descriptor or a token's user and
          // owner that the test gave
};

#if HALVEX_FAULT_INJECTION
// `subject` is the path of file and directory calls, the file's path for
// calls on an open file, else null; `size` is the byte count of reads,
// writes and allocations.
Action Decide(Call call, const wchar_t* subject, unsigned size);
// The last error that the fault Decide last acted with sets: the test's
// choice, else `usual`.
unsigned InjectedError(unsigned usual);

// What the test layer watches: which files, expansions and heap blocks are
// held, so that a test can tell what was open when an error box showed.
void NoteFileOpened(void* file, const wchar_t* path, unsigned access,
                    unsigned sharing, unsigned creation);
void NoteFileClosed(void* file);
const wchar_t* PathOfFile(void* file);
void NoteExpansionOpened(int expansion, void* file);
void NoteExpansionClosed(int expansion);
void NoteBlockAllocated(void* block, unsigned size);
void NoteBlockFreed(void* block);
// True when the test layer took the box instead of showing it.
bool CaptureMessageBox(void* owner, const char* text, const char* caption,
                       unsigned type);
// The security the launcher gave a directory or file at its creation (the
// security attributes of CreateDirectoryW or CreateFileW); `descriptor` is
// self-relative.
void NoteSecurityGiven(Call call, const wchar_t* path,
                           const void* descriptor);
// The self-relative descriptor a test gave for Action::Alter of
// GetKernelObjectSecurity, copied into `buffer` as the call would; false
// when it does not fit.
bool AlteredSecurity(void* buffer, unsigned size);
// The TOKEN_USER, TOKEN_OWNER or TOKEN_ELEVATION (`kind`) a test gave for
// Action::Alter of GetTokenInformation, laid out in `buffer` as the call
// would.
bool AlteredToken(int kind, void* buffer, unsigned size);
// Runs what a test put in the moment after CreateDirectoryW created `path`:
// someone else's swap before the launcher holds it.
void AfterDirectoryCreated(const wchar_t* path);
// The kernel32 procedure `name` as kernel32 has it (`found`, null when
// absent), or what a test gave in its place for that name.
void* KernelProcedure(const char* name, void* found);
// The path a test put in place of the running program's own file, copied
// into `buffer` (`size` units) as GetModuleFileNameW would; 0 when there is
// none.
unsigned RedirectedModuleFileName(wchar_t* buffer, unsigned size);
#else
constexpr Action Decide(Call, const wchar_t*, unsigned) { return Action::Pass; }
constexpr unsigned InjectedError(unsigned usual) { return usual; }
inline void NoteFileOpened(void*, const wchar_t*, unsigned, unsigned,
                           unsigned) {}
inline void NoteFileClosed(void*) {}
inline const wchar_t* PathOfFile(void*) { return nullptr; }
inline void NoteExpansionOpened(int, void*) {}
inline void NoteExpansionClosed(int) {}
inline void NoteBlockAllocated(void*, unsigned) {}
inline void NoteBlockFreed(void*) {}
inline bool CaptureMessageBox(void*, const char*, const char*, unsigned) {
  return false;
}
constexpr unsigned RedirectedModuleFileName(wchar_t*, unsigned) { return 0; }
inline void NoteSecurityGiven(Call, const wchar_t*, const void*) {}
inline bool AlteredSecurity(void*, unsigned) { return false; }
inline bool AlteredToken(int, void*, unsigned) { return false; }
inline void AfterDirectoryCreated(const wchar_t*) {}
constexpr void* KernelProcedure(const char*, void* found) { return found; }
#endif

}  // namespace platform::faults
