// A planted lz32.dll, as an attacker would put one beside a downloaded
// self-archive. Loading it is the attack: it leaves proof in the file named
// by HALVEX_PLANT_PROOF.

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  char proof[MAX_PATH];
  if (reason == DLL_PROCESS_ATTACH &&
      GetEnvironmentVariableA("HALVEX_PLANT_PROOF", proof, sizeof proof)) {
    HANDLE file = CreateFileA(proof, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    CloseHandle(file);
  }
  return TRUE;
}

extern "C" __declspec(dllexport) INT WINAPI LZInit(INT) { return 0; }
extern "C" __declspec(dllexport) LONG WINAPI LZSeek(INT, LONG, INT) { return 0; }
extern "C" __declspec(dllexport) INT WINAPI LZRead(INT, LPSTR, INT) { return 0; }
extern "C" __declspec(dllexport) void WINAPI LZClose(INT) {}
