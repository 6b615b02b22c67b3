#pragma once
// Texts: paths in UTF-16 code units (wchar_t, as the platform's wide calls
// take them) with an explicit length. A zero unit is an ordinary unit; the
// length, not a terminator, ends a text. A zero unit is kept past the end
// only so that a text can be handed to the platform as a zero-terminated
// path. Nothing converts a path to the ANSI code page, so a user or folder
// named in any script reaches the platform as it is.

// `units`, or an empty zero-terminated text when there are none; one copy
// for the many places that hand a path to the platform.
const wchar_t* UnitsOrEmpty(const wchar_t* units);

// A borrowed run of units.
struct TextView {
  const wchar_t* units;
  int length;
};

template <int N>
constexpr TextView Literal(const wchar_t (&text)[N]) {
  return {text, N - 1};
}

// An owned text on the heap. A failed allocation leaves the text marked as
// failed (and empty); appending to a failed text keeps it failed, so a caller
// can build a whole path and check once.
class Text {
 public:
  Text() = default;
  explicit Text(TextView view) { Append(view); }
  Text(Text&& other);
  Text& operator=(Text&& other);
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  ~Text();

  TextView View() const { return {CString(), length_}; }
  const wchar_t* CString() const { return UnitsOrEmpty(units_); }
  // For the platform calls that may write into their argument.
  wchar_t* Units() { return units_; }
  int Length() const { return length_; }
  bool Empty() const { return length_ == 0; }
  bool Failed() const { return failed_; }

  Text& Append(TextView tail) {
    AppendUnits(tail);
    return *this;
  }
  Text& Append(wchar_t unit);

 private:
  void TakeFrom(Text& other);
  void AppendUnits(TextView tail);

  wchar_t* units_ = nullptr;
  int length_ = 0;
  bool failed_ = false;
};

// A process-wide text. It is constant-initialised and has no destructor, as
// the launcher has no runtime to run one; ReleaseProcessText frees it.
struct ProcessText {
  wchar_t* units;
  int length;

  TextView View() const { return {CString(), length}; }
  const wchar_t* CString() const { return UnitsOrEmpty(units); }
  bool Empty() const { return length == 0; }
};

// Copies `value` into `slot`; returns false (slot unchanged) when out of memory.
bool AssignProcessText(ProcessText& slot, TextView value);
void ReleaseProcessText(ProcessText& slot);
