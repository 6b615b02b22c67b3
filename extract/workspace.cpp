// The workspace directory chain: every missing component after the first is
// created from the outside in, and the outermost directory that had to be
// created is recorded once, for the exit clean-up.

#include <utility>

#include "extract.h"
#include "platform.h"

ProcessText FirstCreatedDirectory;

namespace {

// Components past this many are neither looked up nor created.
constexpr int MostComponents = 100;

enum class Entry { Missing, Directory, Other };

// Any lookup failure counts as absence.
Entry LookUp(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = platform::FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return Entry::Missing;
  platform::FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? Entry::Directory
                                                            : Entry::Other;
}

}  // namespace

int CreateDirectoryChain(TextView path) {
  Text accumulated;
  for (int number = 1; number <= MostComponents; ++number) {
    Text component = ExtractToken(path, number, BackslashDelimiters);
    if (component.Failed()) return ERROR_NOT_ENOUGH_MEMORY;
    if (component.Empty()) break;
    // The first component, normally the drive, is taken as it is.
    if (number == 1) {
      accumulated = std::move(component);
      continue;
    }
    accumulated.Append('\\').Append(component.View());
    if (accumulated.Failed()) return ERROR_NOT_ENOUGH_MEMORY;
    switch (LookUp(accumulated.CString())) {
      case Entry::Directory:
        continue;
      case Entry::Other:
        return ComponentNotDirectory;
      case Entry::Missing:
        if (!platform::CreateDirectoryA(accumulated.CString()))
          return static_cast<int>(platform::GetLastError());
        if (FirstCreatedDirectory.Empty())
          AssignProcessText(FirstCreatedDirectory, accumulated.View());
        break;
    }
  }
  return 0;
}
