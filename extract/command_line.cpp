#include "command_line.h"

namespace {

bool IsBlank(wchar_t unit) { return unit == L' ' || unit == L'\t'; }

wchar_t AsciiUpper(wchar_t unit) {
  return unit >= L'a' && unit <= L'z' ? unit - (L'a' - L'A') : unit;
}

// True when `text` starts with `option` (upper-case ASCII), case aside.
bool StartsWithOption(TextView text, TextView option) {
  if (text.length < option.length) return false;
  for (int i = 0; i < option.length; ++i)
    if (AsciiUpper(text.units[i]) != option.units[i]) return false;
  return true;
}

bool IsOption(TextView text, TextView option) {
  return text.length == option.length && StartsWithOption(text, option);
}

bool IsUnquotedDoubleDash(TextView line, int start, int end) {
  return end - start == 2 && line.units[start] == L'-' &&
         line.units[start + 1] == L'-';
}

}  // namespace

bool SkipBlanks(TextView line, int& position) {
  while (position < line.length && IsBlank(line.units[position])) ++position;
  return position == line.length;
}

Text ProgramName(TextView line, int& position) {
  Text name;
  bool quoted = false;
  for (; position < line.length; ++position) {
    const wchar_t unit = line.units[position];
    if (unit == L'"')
      quoted = !quoted;
    else if (!quoted && IsBlank(unit))
      break;
    else
      name.Append(unit);
  }
  return name;
}

// 2n backslashes and a quote give n backslashes and a quote that groups;
// 2n+1 give n backslashes and a literal quote; backslashes before anything
// else are literal. Inside quotes, "" gives a literal quote and the quotes
// go on.
Text NextArgument(TextView line, int& position) {
  Text argument;
  if (SkipBlanks(line, position)) return argument;
  bool quoted = false;
  while (position < line.length) {
    int backslashes = 0;
    while (position < line.length && line.units[position] == L'\\') {
      ++backslashes;
      ++position;
    }
    bool literal = true;
    if (position < line.length && line.units[position] == L'"') {
      if (backslashes % 2 == 0) {
        if (quoted && position + 1 < line.length &&
            line.units[position + 1] == L'"')
          ++position;
        else {
          literal = false;
          quoted = !quoted;
        }
      }
      backslashes /= 2;
    }
    for (; backslashes > 0; --backslashes) argument.Append(L'\\');
    if (position == line.length || (!quoted && IsBlank(line.units[position])))
      break;
    if (literal) argument.Append(line.units[position]);
    ++position;
  }
  return argument;
}

LauncherOptions ParseLauncherCommandLine(const wchar_t* units, int length) {
  LauncherOptions options;
  const TextView line = {units, length};
  int position = 0;
  ProgramName(line, position);
  while (!SkipBlanks(line, position)) {
    const int start = position;
    const Text argument = NextArgument(line, position);
    if (IsUnquotedDoubleDash(line, start, position)) {
      SkipBlanks(line, position);
      options.setupArguments = {units + position, length - position};
      break;
    }
    const TextView log = Literal(L"/LOG=");
    if (IsOption(argument.View(), Literal(L"/S")))
      options.silent = true;
    else if (StartsWithOption(argument.View(), log))
      options.logFile = Text(TextView{argument.View().units + log.length,
                                      argument.Length() - log.length});
  }
  return options;
}
