// Copies every resource of a donor program into a target image through the
// platform's own resource editing (BeginUpdateResourceW, UpdateResourceW,
// EndUpdateResourceW), as the resource editors of vendors' builds do.
// Usage: copy-resources DONOR TARGET
#include <windows.h>

#include <cstdio>

namespace {

HANDLE Update;
bool Failed;

BOOL CALLBACK CopyLanguage(HMODULE donor, LPCWSTR type, LPCWSTR name, WORD language,
                           LONG_PTR) {
  HRSRC found = FindResourceExW(donor, type, name, language);
  void* data = found ? LockResource(LoadResource(donor, found)) : nullptr;
  if (!data || !UpdateResourceW(Update, type, name, language, data,
                                SizeofResource(donor, found)))
    Failed = true;
  return TRUE;
}

BOOL CALLBACK CopyName(HMODULE donor, LPCWSTR type, LPWSTR name, LONG_PTR) {
  EnumResourceLanguagesW(donor, type, name, CopyLanguage, 0);
  return TRUE;
}

BOOL CALLBACK CopyType(HMODULE donor, LPWSTR type, LONG_PTR) {
  EnumResourceNamesW(donor, type, CopyName, 0);
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  HMODULE donor = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  Update = BeginUpdateResourceW(argv[2], FALSE);
  if (!donor || !Update) {
    std::fprintf(stderr, "copy-resources: cannot open the donor or the target (%lu)\n",
                 GetLastError());
    return 1;
  }
  EnumResourceTypesW(donor, CopyType, 0);
  if (!EndUpdateResourceW(Update, Failed) || Failed) {
    std::fprintf(stderr, "copy-resources: the update failed (%lu)\n", GetLastError());
    return 1;
  }
  return 0;
}
