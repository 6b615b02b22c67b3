// The unsafe way to reach lz32: by name, through the ordinary DLL search,
// which looks beside the program first. Shows that a planted copy is taken.

#include <windows.h>

int main() { return LoadLibraryA("lz32.dll") ? 0 : 1; }
