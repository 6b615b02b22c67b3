// Libraries from the system directory only, and LZ expansion through
// Windows' own lz32.dll. The library is loaded at run time from the system
// directory only: a static import would let a planted lz32.dll beside a
// downloaded self-archive run as the user, since lz32 is not one of the
// system's known DLLs.

#include "platform.h"

namespace platform {
namespace {

using LZInitFunction = INT(WINAPI*)(INT);
using LZSeekFunction = LONG(WINAPI*)(INT, LONG, INT);
using LZReadFunction = INT(WINAPI*)(INT, LPSTR, INT);
using LZCloseFunction = void(WINAPI*)(INT);

// Error value of LZInit for a library that is not there (LZERROR_GLOBALLOC).
constexpr INT kExpansionUnavailable = -5;
constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

// lz32's procedures, in the order of their names below.
enum Procedure { Init, Seek, Read, Close, ProcedureCount };
FARPROC Library[ProcedureCount];
// SetDefaultDllDirectories confined the search to the system directory.
bool SearchConfined;

template <typename Function>
Function ProcedureAs(Procedure procedure) {
  return reinterpret_cast<Function>(Library[procedure]);
}

// Tried again on each call until all four procedures are found; the last
// one, found only after the others, marks the library as loaded.
bool LibraryLoaded() {
  if (Library[Close]) return true;
  HMODULE module = LoadSystemLibrary(L"\\lz32.dll");
  if (!module) return false;
  const char* name = "LZInit\0LZSeek\0LZRead\0LZClose";
  for (FARPROC& procedure : Library) {
    if (!(procedure = ::GetProcAddress(module, name))) return false;
    while (*name++) {
    }
  }
  return true;
}

}  // namespace

FARPROC KernelProcedure(const char* name) {
  return reinterpret_cast<FARPROC>(faults::KernelProcedure(
      name, reinterpret_cast<void*>(
                ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name))));
}

// Where the process's search was confined to the system directory, by name
// with that search, as the two are documented to pair; elsewhere by its full
// path in the system directory, so that the library's own imports are
// looked for in that directory first.
HMODULE LoadSystemLibrary(const wchar_t* name) {
  if (SearchConfined) return ::LoadLibraryExW(name + 1, nullptr, kSearchSystem32);
  wchar_t path[MAX_PATH + 16];
  const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  UINT i = 0;
  do path[length + i] = name[i]; while (name[i++]);
  return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCWSTR);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      KernelProcedure("SetDefaultDllDirectories"));
  SearchConfined = setDefault && setDefault(kSearchSystem32);
  if (SearchConfined) return;
  // Older systems: at least take the current directory out of the search.
  auto setDirectory = reinterpret_cast<SetDllDirectoryFunction>(
      KernelProcedure("SetDllDirectoryW"));
  if (setDirectory) setDirectory(L"");
}

INT LZInit(HANDLE file) {
  if (Decide(Call::LZInit, faults::PathOfFile(file), 0) == Action::Fail ||
      !LibraryLoaded())
    return kExpansionUnavailable;
  INT expansion = ProcedureAs<LZInitFunction>(Init)(
      static_cast<INT>(reinterpret_cast<INT_PTR>(file)));
  if (expansion >= 0) faults::NoteExpansionOpened(expansion, file);
  return expansion;
}

LONG LZSeek(INT expansion, LONG offset, INT origin) {
  return ProcedureAs<LZSeekFunction>(Seek)(expansion, offset, origin);
}

INT LZRead(INT expansion, char* buffer, INT count) {
  if (Decide(Call::LZRead, nullptr, count) == Action::Fail) return -1;
  return ProcedureAs<LZReadFunction>(Read)(expansion, buffer, count);
}

void LZClose(INT expansion) {
  faults::NoteExpansionClosed(expansion);
  ProcedureAs<LZCloseFunction>(Close)(expansion);
}

}  // namespace platform
