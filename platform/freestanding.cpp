// The two memory routines that the compiler may call on its own (for zeroed
// or copied structures) even in code that never names them. The launcher
// image links no C runtime, so it brings its own.

#include <stddef.h>

extern "C" void* memset(void* destination, int value, size_t count) {
  auto bytes = static_cast<unsigned char*>(destination);
  while (count--) *bytes++ = static_cast<unsigned char>(value);
  return destination;
}

extern "C" void* memcpy(void* destination, const void* source, size_t count) {
  auto to = static_cast<unsigned char*>(destination);
  auto from = static_cast<const unsigned char*>(source);
  while (count--) *to++ = *from++;
  return destination;
}
