// A DLL that the sample setup program loads by name, so from its own folder
// first: what someone who could plant in the workspace would put there.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
