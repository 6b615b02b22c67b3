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

Text::Text(Text&& other)
    : bytes_(other.bytes_),
      length_(other.length_),
      capacity_(other.capacity_),
      failed_(other.failed_) {
  other.bytes_ = nullptr;
  other.length_ = other.capacity_ = 0;
  other.failed_ = false;
}

Text& Text::operator=(Text&& other) {
  if (this != &other) {
    FreeBytes(bytes_);
    bytes_ = other.bytes_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    failed_ = other.failed_;
    other.bytes_ = nullptr;
    other.length_ = other.capacity_ = 0;
    other.failed_ = false;
  }
  return *this;
}

Text::~Text() { FreeBytes(bytes_); }

bool Text::Reserve(int length) {
  if (failed_ || length < 0 || length > 0x3FFFFFFF) return false;
  if (length < capacity_) return true;
  int capacity = capacity_ ? capacity_ : 32;
  while (capacity <= length) capacity *= 2;
  char* bytes = AllocateBytes(capacity);
  if (!bytes) return false;
  CopyBytes(bytes, bytes_, length_);
  FreeBytes(bytes_);
  bytes_ = bytes;
  capacity_ = capacity;
  return true;
}

void Text::AppendBytes(TextView tail) {
  if (tail.length <= 0) return;
  if (!Reserve(length_ + tail.length)) {
    FreeBytes(bytes_);
    bytes_ = nullptr;
    length_ = capacity_ = 0;
    failed_ = true;
    return;
  }
  CopyBytes(bytes_ + length_, tail.bytes, tail.length);
  length_ += tail.length;
  bytes_[length_] = 0;
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

bool SameText(TextView a, TextView b) {
  if (a.length != b.length) return false;
  for (int i = 0; i < a.length; ++i)
    if (a.bytes[i] != b.bytes[i]) return false;
  return true;
}
