#include "text.h"

#ifdef _WIN32
#include "platform.h"
#else
#include <cstdlib>
#endif

namespace {

wchar_t* AllocateUnits(int count) {
  const unsigned size = static_cast<unsigned>(count) * sizeof(wchar_t);
#ifdef _WIN32
  return static_cast<wchar_t*>(platform::HeapAlloc(size));
#else
  return static_cast<wchar_t*>(std::malloc(size));
#endif
}

void FreeUnits(wchar_t* units) {
  if (!units) return;
#ifdef _WIN32
  platform::HeapFree(units);
#else
  std::free(units);
#endif
}

void CopyUnits(wchar_t* to, const wchar_t* from, int count) {
  for (int i = 0; i < count; ++i) to[i] = from[i];
}

// Room for `length` units and the terminator; null when out of memory or
// when the length is beyond any path.
wchar_t* AllocateText(int length) {
  return length < 0x3FFFFFFF / static_cast<int>(sizeof(wchar_t))
             ? AllocateUnits(length + 1)
             : nullptr;
}

}  // namespace

__attribute__((noinline)) const wchar_t* UnitsOrEmpty(const wchar_t* units) {
  return units ? units : L"";
}

Text::Text(Text&& other) { TakeFrom(other); }

Text& Text::operator=(Text&& other) {
  if (this != &other) {
    FreeUnits(units_);
    TakeFrom(other);
  }
  return *this;
}

Text::~Text() { FreeUnits(units_); }

void Text::TakeFrom(Text& other) {
  units_ = other.units_;
  length_ = other.length_;
  failed_ = other.failed_;
  other.units_ = nullptr;
  other.length_ = 0;
  other.failed_ = false;
}

// Called unit by unit in several loops; one copy keeps the image small.
__attribute__((noinline)) Text& Text::Append(wchar_t unit) {
  AppendUnits(TextView{&unit, 1});
  return *this;
}

// Texts here are short paths: each append takes a block of the exact new
// size, which keeps the code small.
void Text::AppendUnits(TextView tail) {
  if (failed_ || tail.length <= 0) return;
  const int length = length_ + tail.length;
  wchar_t* units = AllocateText(length);
  if (units) {
    CopyUnits(units, units_, length_);
    CopyUnits(units + length_, tail.units, tail.length);
    units[length] = 0;
  }
  FreeUnits(units_);
  units_ = units;
  length_ = units ? length : 0;
  failed_ = !units;
}

bool AssignProcessText(ProcessText& slot, TextView value) {
  wchar_t* units = AllocateText(value.length);
  if (!units) return false;
  CopyUnits(units, value.units, value.length);
  units[value.length] = 0;
  ReleaseProcessText(slot);
  slot.units = units;
  slot.length = value.length;
  return true;
}

void ReleaseProcessText(ProcessText& slot) {
  FreeUnits(slot.units);
  slot.units = nullptr;
  slot.length = 0;
}
