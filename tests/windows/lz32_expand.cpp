// lz32-expand IN OUT [--time]: expands an SZDD file through Windows' own
// LZ32, the way the launcher does (LZInit, LZSeek to 0, LZRead in
// 65,536-byte pieces, LZClose). An oracle for the host tests of the SZDD
// codec; with --time it also prints the seconds from LZInit to LZClose, the
// figure the pipeline bench sets the launcher's against.

#include <cstdio>
#include <cstring>

#include "platform.h"

int main(int argc, char** argv) {
  const bool timed = argc == 4 && std::strcmp(argv[3], "--time") == 0;
  if (argc != 3 && !timed) {
    std::fprintf(stderr, "usage: lz32-expand IN OUT [--time]\n");
    return 2;
  }
  HANDLE in = ::CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  HANDLE out = ::CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             0, nullptr);
  if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "lz32-expand: cannot open %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  LARGE_INTEGER start, end, frequency;
  ::QueryPerformanceCounter(&start);
  const INT expansion = platform::LZInit(in);
  if (expansion < 0) {
    std::fprintf(stderr, "lz32-expand: LZInit failed with %d\n", expansion);
    return 1;
  }
  platform::LZSeek(expansion, 0, 0);
  static char piece[65536];
  INT count;
  do {
    count = platform::LZRead(expansion, piece, sizeof piece);
    DWORD written = 0;
    if (count < 0 || !platform::WriteFile(out, piece, count, &written) ||
        written != static_cast<DWORD>(count)) {
      std::fprintf(stderr, "lz32-expand: expansion failed with %d\n", count);
      return 1;
    }
  } while (count == sizeof piece);
  platform::LZClose(expansion);
  ::QueryPerformanceCounter(&end);
  ::QueryPerformanceFrequency(&frequency);
  if (timed)
    std::printf("lz32 %.3f s\n", static_cast<double>(end.QuadPart - start.QuadPart) /
                                     frequency.QuadPart);
  platform::CloseHandle(out);
  return 0;
}
