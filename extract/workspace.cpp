// The workspace: a directory that the run creates for itself under the
// temporary path, «Halvex», or a sibling of a name no one can guess when an
// entry of that name is there already. Nothing that existed before the run
// is ever entered, changed or removed. The missing levels above it are
// created as well, all closed to everyone but the launcher's own account,
// SYSTEM and Administrators; what was created is judged, held open so that
// no one can rename or swap it, and removed again by the exit clean-up.

#include "account.h"
#include "extract.h"
#include "platform.h"

ProcessText FirstCreatedDirectory;
ProcessText WorkspaceDirectory;
HANDLE WorkspaceEntry;

namespace {

// Components past this many are neither looked up nor created.
constexpr int MostComponents = 100;
// Siblings tried once «Halvex» is taken; each name is new and unguessable,
// so only a run of bad luck or a full disk exhausts them.
constexpr int MostSiblings = 16;
constexpr int SuffixDigits = 8;

// A bit that no file attribute uses, so that a found entry is never 0.
constexpr DWORD EntryFound = 0x80000000u;

// The attributes of the entry at `path` as the search by name shows it,
// with a bit that is always set; 0 when nothing is found. Any lookup failure
// counts as absence.
DWORD LookUpEntry(const wchar_t* path) {
  WIN32_FIND_DATAW found;
  HANDLE search = platform::FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  platform::FindClose(search);
  return found.dwFileAttributes | EntryFound;
}

// Creates `path` (zero-terminated) closed, and records it when it is the
// first directory that the run created.
bool CreateClosedDirectory(TextView path) {
  if (!platform::CreateDirectoryW(path.units, ClosedSecurity())) return false;
  if (FirstCreatedDirectory.Empty())
    AssignProcessText(FirstCreatedDirectory, path);
  return true;
}

// Appends a hyphen and `random` in eight hex digits.
void AppendRandomSuffix(Text& name, DWORD random) {
  name.Append(L'-');
  for (int digit = 0; digit < SuffixDigits; ++digit, random >>= 4) {
    const wchar_t nibble = random & 15;
    name.Append(nibble < 10 ? L'0' + nibble : L'a' + nibble - 10);
  }
}

// `pattern` is the directory's path and "\\*".
bool IsEmptyDirectory(const Text& pattern) {
  WIN32_FIND_DATAW found;
  HANDLE search = platform::FindFirstFileW(pattern.CString(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool empty = true;
  do {
    const wchar_t* name = found.cFileName;
    // Only "." and ".." may be there.
    empty = name[0] == L'.' && (!name[1] || (name[1] == L'.' && !name[2]));
  } while (empty && platform::FindNextFileW(search, &found));
  platform::FindClose(search);
  return empty;
}

// Between its creation and this open the directory could have been swapped,
// so the held entry must be what the run created: a real directory (no
// junction or symbolic link), owned by the run, closed, and empty. The
// search by name is asked too, since Wine shows a host's symbolic link as a
// reparse point only there.
bool IsFreshClosedDirectory(HANDLE entry, const wchar_t* path,
                            const Text& pattern) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!platform::GetFileInformationByHandle(entry, &information)) return false;
  const DWORD attributes = information.dwFileAttributes |
                           LookUpEntry(path);
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY |
                        FILE_ATTRIBUTE_REPARSE_POINT)) ==
             FILE_ATTRIBUTE_DIRECTORY &&
         TrustedEntry(entry, true, true) && IsEmptyDirectory(pattern);
}

// Holds the workspace just created (WorkspaceDirectory, listed by `pattern`)
// as WorkspaceEntry when it is the one created; from then on it cannot be
// renamed, deleted or swapped for a link. What is refused is neither held
// nor recorded, so the clean-up leaves it alone.
int HoldWorkspace(const Text& pattern) {
  const wchar_t* const path = WorkspaceDirectory.CString();
  HANDLE entry = platform::OpenDirectoryEntry(path);
  if (entry != INVALID_HANDLE_VALUE &&
      IsFreshClosedDirectory(entry, path, pattern)) {
    WorkspaceEntry = entry;
    return 0;
  }
  if (entry != INVALID_HANDLE_VALUE) platform::CloseHandle(entry);
  ReleaseProcessText(WorkspaceDirectory);
  return WorkspaceNotOwn;
}

}  // namespace

int CreateDirectoryChain(TextView path, Text& accumulated) {
  for (int number = 1; number <= MostComponents; ++number) {
    Text component = ExtractToken(path, number, BackslashDelimiters);
    if (component.Failed()) return ERROR_NOT_ENOUGH_MEMORY;
    if (component.Empty()) break;
    if (number > 1) accumulated.Append(L'\\');
    accumulated.Append(component.View());
    if (accumulated.Failed()) return ERROR_NOT_ENOUGH_MEMORY;
    // The first component, normally the drive, is taken as it is.
    if (number == 1) continue;
    const DWORD found = LookUpEntry(accumulated.CString());
    if (!found) {
      if (!CreateClosedDirectory(accumulated.View()))
        return static_cast<int>(platform::GetLastError());
    } else if (!(found & FILE_ATTRIBUTE_DIRECTORY)) {
      return ComponentNotDirectory;
    }
  }
  return 0;
}

int CreateWorkspace(TextView temporaryPath) {
  CloseWorkspaceEntry();  // one workspace is held at a time, never leaked
  if (!ClosedSecurity()) return WorkspaceNotOwn;
  Text base;
  if (const int result = CreateDirectoryChain(temporaryPath, base))
    return result;
  base.Append(L'\\').Append(Literal(L"Halvex"));
  DWORD random = 0;
  for (int sibling = 0;; ++sibling) {
    // The pattern that lists the directory, and the directory's own path,
    // which is the pattern without its "\*": what the judging and the
    // clean-up need is at hand before the directory exists, so that running
    // out of memory never leaves it behind.
    Text pattern(base.View());
    if (sibling) AppendRandomSuffix(pattern, random);
    pattern.Append(Literal(L"\\*"));
    if (pattern.Failed() ||
        !AssignProcessText(WorkspaceDirectory,
                           {pattern.CString(), pattern.Length() - 2}))
      return ERROR_NOT_ENOUGH_MEMORY;
    if (CreateClosedDirectory(WorkspaceDirectory.View()))
      return HoldWorkspace(pattern);
    ReleaseProcessText(WorkspaceDirectory);
    const DWORD error = platform::GetLastError();
    // Any entry of that name, whatever its kind or owner, is left as it is.
    // The next name comes from the system's random source, so that no one
    // can create it first; without it no guessable name is tried.
    if (error != ERROR_ALREADY_EXISTS || sibling == MostSiblings ||
        !platform::RtlGenRandom(&random, sizeof random))
      return static_cast<int>(error);
  }
}

void CloseWorkspaceEntry() { CloseHeldHandle(WorkspaceEntry); }

// The workspace first, then each level above it that the run created,
// innermost first; one that is not empty stays, and every level above it.
// The path is cut in place, level by level, as it is forgotten afterwards.
void RemoveWorkspace() {
  CloseWorkspaceEntry();
  wchar_t* const units = WorkspaceDirectory.units;
  for (int length = WorkspaceDirectory.length;
       units && platform::RemoveDirectoryW(units) &&
       !FirstCreatedDirectory.Empty() && length > FirstCreatedDirectory.length;) {
    while (units[--length] != L'\\') {
    }
    units[length] = 0;
  }
  ReleaseProcessText(WorkspaceDirectory);
  ReleaseProcessText(FirstCreatedDirectory);
}
