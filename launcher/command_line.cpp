#include "command_line.h"

namespace {

bool IsBlank(wchar_t unit) { return unit == L' ' || unit == L'\t'; }

// What follows `option` (lower-case ASCII) when `argument` starts with it,
// its letters in either case; else null.
const wchar_t* AfterOption(const wchar_t* argument, const char* option) {
  for (; *option; ++option, ++argument) {
    wchar_t unit = *argument;
    if (*option >= 'a') unit |= 0x20;  // only 'A'-'Z' and 'a'-'z' meet a letter
    if (unit != static_cast<unsigned char>(*option)) return nullptr;
  }
  return argument;
}

}  // namespace

wchar_t* SkipBlanks(wchar_t* cursor) {
  while (IsBlank(*cursor)) ++cursor;
  return cursor;
}

wchar_t* SkipProgramName(wchar_t* cursor) {
  bool quoted = false;
  for (; *cursor && (quoted || !IsBlank(*cursor)); ++cursor)
    if (*cursor == L'"') quoted = !quoted;
  return cursor;
}

// 2n backslashes and a quote give n backslashes and a quote that groups;
// 2n+1 give n backslashes and a literal quote; backslashes before anything
// else are literal. Inside quotes, "" gives a literal quote and the quotes
// go on.
wchar_t* ReadArgumentInPlace(wchar_t*& cursor) {
  const wchar_t* in = cursor;
  wchar_t* out = cursor;
  bool quoted = false;
  for (;;) {
    int backslashes = 0;
    while (*in == L'\\') ++backslashes, ++in;
    bool literal = true;
    if (*in == L'"') {
      if (backslashes % 2 == 0) {
        literal = quoted && in[1] == L'"';
        if (literal)
          ++in;
        else
          quoted = !quoted;
      }
      backslashes /= 2;
    }
    for (; backslashes > 0; --backslashes) *out++ = L'\\';
    if (!*in || (!quoted && IsBlank(*in))) break;
    if (literal) *out++ = *in;
    ++in;
  }
  if (*in) ++in;
  *out = 0;
  cursor = const_cast<wchar_t*>(in);
  return out;
}

LauncherOptions ParseLauncherCommandLine(const wchar_t* units, int length) {
  LauncherOptions options;
  options.decoded.Append(TextView{units, length});
  wchar_t* const line = options.decoded.Units();
  if (!line) return options;
  wchar_t* cursor = SkipBlanks(SkipProgramName(line));
  const int start = static_cast<int>(cursor - line);
  options.arguments = {units + start, length - start};
  while (*cursor) {
    // `--` is judged on its raw text: quoted, it is an argument like any other.
    if (cursor[0] == L'-' && cursor[1] == L'-' &&
        (!cursor[2] || IsBlank(cursor[2]))) {
      const int rest = static_cast<int>(SkipBlanks(cursor + 2) - line);
      options.setupArguments = {units + rest, length - rest};
      break;
    }
    wchar_t* const argument = cursor;
    wchar_t* const end = ReadArgumentInPlace(cursor);
    const wchar_t* after = AfterOption(argument, "/s");
    if (after == end) options.silent = true;
    if (AfterOption(argument, "/waitall") == end) options.waitAll = true;
    if ((after = AfterOption(argument, "/log=")))
      options.logFile = {after, static_cast<int>(end - after)};
    cursor = SkipBlanks(cursor);
  }
  return options;
}
