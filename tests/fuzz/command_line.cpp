// libFuzzer target: the launcher's command line. Input bytes are read as
// 16-bit units, as GetCommandLineW gives them; the line ends at its first
// zero unit, as a command line does.
//  - The arguments read in place equal those of a plain reference
//    implementation of the Windows rules, written for clarity.
//  - /S, /LOG=FILE and the rest after `--` agree with the reference's
//    arguments: the last /LOG= wins, options after `--` are not the
//    launcher's, and the rest is the raw text after `--` and its blanks.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_line.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool blank(wchar_t c) { return c == L' ' || c == L'\t'; }

struct Argument {
  std::wstring value;
  size_t rawStart, rawEnd;
};

std::vector<Argument> reference(const std::wstring& line) {
  size_t i = 0;
  bool quoted = false;
  while (i < line.size() && (quoted || !blank(line[i]))) quoted ^= line[i++] == L'"';
  std::vector<Argument> arguments;
  for (;;) {
    while (i < line.size() && blank(line[i])) ++i;
    if (i == line.size()) return arguments;
    Argument argument{L"", i, i};
    quoted = false;
    while (i < line.size() && (quoted || !blank(line[i]))) {
      size_t slashes = 0;
      while (i < line.size() && line[i] == L'\\') ++slashes, ++i;
      if (i < line.size() && line[i] == L'"') {
        argument.value.append(slashes / 2, L'\\');
        if (slashes % 2) {
          argument.value += L'"';
        } else if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
          argument.value += L'"';
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        argument.value.append(slashes, L'\\');
        if (i < line.size() && (quoted || !blank(line[i]))) argument.value += line[i++];
      }
    }
    argument.rawEnd = i;
    arguments.push_back(argument);
  }
}

std::wstring upper(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'a' && c <= L'z') c -= L'a' - L'A';
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring line;
  for (std::size_t at = 0; at + 1 < size; at += 2) {
    const wchar_t unit = static_cast<wchar_t>(data[at] | data[at + 1] << 8);
    if (unit == 0) break;
    line += unit;
  }

  // The steps over a writable copy, against the reference.
  std::wstring copy = line;
  wchar_t* cursor = SkipBlanks(SkipProgramName(copy.data()));
  std::vector<std::wstring> read;
  while (*cursor) {
    const wchar_t* start = cursor;
    const wchar_t* end = ReadArgumentInPlace(cursor);
    read.emplace_back(start, end);
    cursor = SkipBlanks(cursor);
  }
  const std::vector<Argument> expected = reference(line);
  check(read.size() == expected.size());
  for (std::size_t i = 0; i < read.size(); ++i) check(read[i] == expected[i].value);

  // The options, from the reference's arguments.
  bool silent = false;
  std::wstring log;
  const wchar_t* rest = nullptr;
  for (const Argument& argument : expected) {
    if (line.compare(argument.rawStart, argument.rawEnd - argument.rawStart, L"--") == 0) {
      std::size_t after = argument.rawEnd;
      while (after < line.size() && blank(line[after])) ++after;
      rest = line.data() + after;
      break;
    }
    const std::wstring value = upper(argument.value);
    if (value == L"/S") silent = true;
    if (value.rfind(L"/LOG=", 0) == 0) log = argument.value.substr(5);
  }
  const LauncherOptions options = ParseLauncherCommandLine(line.data(), static_cast<int>(line.size()));
  check(options.silent == silent);
  check(std::wstring(options.logFile.units ? options.logFile.units : L"",
                     static_cast<std::size_t>(options.logFile.length)) == log);
  check(!options.logFile.units || options.logFile.units[options.logFile.length] == 0);
  if (rest) {
    check(options.setupArguments.units == rest);
    check(rest + options.setupArguments.length == line.data() + line.size());
  } else {
    check(options.setupArguments.length == 0);
  }
  return 0;
}
