#include "command_line.h"

namespace {

bool IsBlank(wchar_t unit) { return unit == L' ' || unit == L'\t'; }

wchar_t AsciiUpper(wchar_t unit) {
  return unit >= L'a' && unit <= L'z' ? unit - (L'a' - L'A') : unit;
}

// The length of `option` (upper-case ASCII) when `text` starts with it, case
// aside; else 0.
int OptionPrefix(const wchar_t* text, int length, const char* option) {
  int i = 0;
  for (; option[i]; ++i)
    if (i == length || AsciiUpper(text[i]) != option[i]) return 0;
  return i;
}

}  // namespace

bool SkipBlanks(TextView line, int& position) {
  while (position < line.length && IsBlank(line.units[position])) ++position;
  return position == line.length;
}

void SkipProgramName(TextView line, int& position) {
  bool quoted = false;
  for (; position < line.length; ++position) {
    if (line.units[position] == L'"')
      quoted = !quoted;
    else if (!quoted && IsBlank(line.units[position]))
      return;
  }
}

// 2n backslashes and a quote give n backslashes and a quote that groups;
// 2n+1 give n backslashes and a literal quote; backslashes before anything
// else are literal. Inside quotes, "" gives a literal quote and the quotes
// go on.
int ReadArgumentInPlace(wchar_t* line, int length, int& position) {
  const int start = position;
  int written = start;
  bool quoted = false;
  while (position < length) {
    int backslashes = 0;
    while (position < length && line[position] == L'\\') {
      ++backslashes;
      ++position;
    }
    bool literal = true;
    if (position < length && line[position] == L'"') {
      if (backslashes % 2 == 0) {
        literal = quoted && position + 1 < length && line[position + 1] == L'"';
        if (literal)
          ++position;
        else
          quoted = !quoted;
      }
      backslashes /= 2;
    }
    for (; backslashes > 0; --backslashes) line[written++] = L'\\';
    if (position == length || (!quoted && IsBlank(line[position]))) break;
    if (literal) line[written++] = line[position];
    ++position;
  }
  return written - start;
}

LauncherOptions ParseLauncherCommandLine(const wchar_t* units, int length) {
  LauncherOptions options;
  options.decoded.Append(TextView{units, length});
  wchar_t* decoded = options.decoded.Units();
  if (!decoded) return options;
  const TextView line = {decoded, length};
  int position = 0;
  SkipProgramName(line, position);
  while (!SkipBlanks(line, position)) {
    wchar_t* argument = decoded + position;
    const int raw = position;
    const int read = ReadArgumentInPlace(decoded, length, position);
    if (position - raw == 2 && OptionPrefix(argument, read, "--") == 2) {
      SkipBlanks(line, position);
      options.setupArguments = {units + position, length - position};
      break;
    }
    if (read == 2 && OptionPrefix(argument, read, "/S")) options.silent = true;
    if (const int prefix = OptionPrefix(argument, read, "/LOG=")) {
      // Ends the path; the unit written over is consumed: a blank that is
      // skipped first, or the text's own terminator.
      if (position < length) ++position;
      argument[read] = 0;
      options.logFile = {argument + prefix, read - prefix};
    }
  }
  return options;
}
