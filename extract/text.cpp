#include "text.h"

#ifdef _WIN32
#include "platform.h"
#else
#include <cstdlib>
#endif

namespace {

char* AllocateBytes(int size) {
#ifdef _WIN32
  return static_cast<char*>(platform::HeapAlloc(static_cast<DWORD>(size)));
#else
  return static_cast<char*>(std::malloc(static_cast<size_t>(size)));
#endif
}

void FreeBytes(char* bytes) {
  if (!bytes) return;
#ifdef _WIN32
  platform::HeapFree(bytes);
#else
  std::free(bytes);
#endif
}

void CopyBytes(char* to, const char* from, int count) {
  for (int i = 0; i < count; ++i) to[i] = from[i];
}

}  // namespace

Text::Text(Text&& other) { TakeFrom(other); }

Text& Text::operator=(Text&& other) {
  if (this != &other) {
    FreeBytes(bytes_);
    TakeFrom(other);
  }
  return *this;
}

Text::~Text() { FreeBytes(bytes_); }

void Text::TakeFrom(Text& other) {
  bytes_ = other.bytes_;
  length_ = other.length_;
  failed_ = other.failed_;
  other.bytes_ = nullptr;
  other.length_ = 0;
  other.failed_ = false;
}

// Called byte by byte in several loops; one copy keeps the image small.
__attribute__((noinline)) Text& Text::Append(char byte) {
  AppendBytes(TextView{&byte, 1});
  return *this;
}

// Texts here are short paths and messages: each append takes a block of the
// exact new size, which keeps the code small.
void Text::AppendBytes(TextView tail) {
  if (failed_ || tail.length <= 0) return;
  const int length = length_ + tail.length;
  char* bytes = length < 0x3FFFFFFF ? AllocateBytes(length + 1) : nullptr;
  if (bytes) {
    CopyBytes(bytes, bytes_, length_);
    CopyBytes(bytes + length_, tail.bytes, tail.length);
    bytes[length] = 0;
  }
  FreeBytes(bytes_);
  bytes_ = bytes;
  length_ = bytes ? length : 0;
  failed_ = !bytes;
}

bool AssignProcessText(ProcessText& slot, TextView value) {
  char* bytes = AllocateBytes(value.length + 1);
  if (!bytes) return false;
  CopyBytes(bytes, value.bytes, value.length);
  bytes[value.length] = 0;
  ReleaseProcessText(slot);
  slot.bytes = bytes;
  slot.length = value.length;
  return true;
}

void ReleaseProcessText(ProcessText& slot) {
  FreeBytes(slot.bytes);
  slot.bytes = nullptr;
  slot.length = 0;
}

TextView ZeroTerminated(const char* text) {
  int length = 0;
  while (text[length] != 0) ++length;
  return {text, length};
}
