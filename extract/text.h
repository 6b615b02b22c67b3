#pragma once
// Texts: byte strings in the ANSI code page with an explicit length. A zero
// byte is an ordinary byte; the length, not a terminator, ends a text. A zero
// byte is kept past the end only so that a text can be handed to the
// platform as a zero-terminated path.

// A borrowed run of bytes.
struct TextView {
  const char* bytes;
  int length;
};

// A zero-terminated text up to its terminator.
TextView ZeroTerminated(const char* text);

template <int N>
constexpr TextView Literal(const char (&text)[N]) {
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
  const char* CString() const { return bytes_ ? bytes_ : ""; }
  int Length() const { return length_; }
  bool Empty() const { return length_ == 0; }
  bool Failed() const { return failed_; }

  Text& Append(TextView tail) {
    AppendBytes(tail);
    return *this;
  }
  Text& Append(char byte);

 private:
  void TakeFrom(Text& other);
  void AppendBytes(TextView tail);

  char* bytes_ = nullptr;
  int length_ = 0;
  bool failed_ = false;
};

// A process-wide text. It is constant-initialised and has no destructor, as
// the launcher has no runtime to run one; ReleaseProcessText frees it.
struct ProcessText {
  char* bytes;
  int length;

  TextView View() const { return {CString(), length}; }
  const char* CString() const { return bytes ? bytes : ""; }
  bool Empty() const { return length == 0; }
};

// Copies `value` into `slot`; returns false (slot unchanged) when out of memory.
bool AssignProcessText(ProcessText& slot, TextView value);
void ReleaseProcessText(ProcessText& slot);
