// The launcher's command line: the documented Windows argument rules, and
// the launcher's own options on top of them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"

namespace {

std::wstring Units(TextView view) {
  return view.units ? std::wstring(view.units, static_cast<size_t>(view.length))
                    : std::wstring();
}

// The line split as a C program's argv would be, the program name left out.
std::vector<std::wstring> Split(std::wstring line) {
  wchar_t* cursor = SkipBlanks(SkipProgramName(line.data()));
  std::vector<std::wstring> arguments;
  while (*cursor) {
    const wchar_t* start = cursor;
    const wchar_t* end = ReadArgumentInPlace(cursor);
    arguments.emplace_back(start, end);
    cursor = SkipBlanks(cursor);
  }
  return arguments;
}

LauncherOptions Parse(const std::wstring& line) {
  return ParseLauncherCommandLine(line.data(), static_cast<int>(line.size()));
}

// FILE of /LOG=FILE as the platform gets it: up to its terminator, which
// must be where its length says.
std::wstring LogPath(const std::wstring& line) {
  const LauncherOptions options = Parse(line);
  EXPECT_EQ(std::wstring(options.logFile.units).size(),
            static_cast<size_t>(options.logFile.length));
  return options.logFile.units;
}

struct SplitCase {
  const wchar_t* line;
  std::vector<std::wstring> arguments;
};

// The examples of Microsoft's "Parsing C++ command-line arguments", then the
// program name's own rule and the corners between them.
TEST(CommandLineTest, SplitsByTheWindowsRules) {
  const std::vector<SplitCase> cases = {
      {LR"(p "a b c" d e)", {L"a b c", L"d", L"e"}},
      {LR"(p "ab\"c" "\\" d)", {L"ab\"c", L"\\", L"d"}},
      {LR"(p a\\\b d"e f"g h)", {LR"(a\\\b)", L"de fg", L"h"}},
      {LR"(p a\\\"b c d)", {LR"(a\"b)", L"c", L"d"}},
      {LR"(p a\\\\"b c" d e)", {LR"(a\\b c)", L"d", L"e"}},
      {LR"(p a"b"" c d)", {L"ab\" c d"}},
      // The program name: quotes group, backslashes are literal, so a
      // quote after a backslash still closes it.
      {LR"("C:\Program Files\x\" y)", {L"y"}},
      {LR"("C:\a b"c.exe d)", {L"d"}},
      {LR"(C:\a\b.exe)", {}},
      {L"", {}},
      // Blanks: spaces and tabs, any number, before, between and after.
      {L"p \t a\t\tb  ", {L"a", L"b"}},
      {L"p \"\" \"\"", {L"", L""}},
      {L"p \"a b", {L"a b"}},  // an open quote runs to the end
      {LR"(p a\ b\)", {LR"(a\)", LR"(b\)"}},
      {LR"(p "a\\")", {LR"(a\)"}},
      {L"p a\"\"\"b\"", {L"a\"b"}},
  };
  for (const SplitCase& each : cases)
    EXPECT_EQ(Split(each.line), each.arguments) << each.line;
}

TEST(CommandLineTest, NoArgumentsAndUnknownOnesChangeNothing) {
  for (const wchar_t* line :
       {L"setup.exe", L"\"C:\\a b\\setup.exe\"  ",
        L"x /SILENT /S=1 /Sx -S S \"\" /LOG /LOGFILE=a /? \"--\" -- x"}) {
    const LauncherOptions options = Parse(line);
    EXPECT_FALSE(options.silent) << line;
    EXPECT_EQ(options.logFile.length, 0) << line;
  }
  // A quoted "--" is an argument like any other: the one after it counts.
  EXPECT_EQ(Units(Parse(L"x \"--\" /quiet -- a").setupArguments), L"a");
}

// The run's own arguments, as typed, for an elevated run of its own.
TEST(CommandLineTest, ArgumentsAreTheRestAfterTheProgramName) {
  EXPECT_EQ(Units(Parse(L"\"C:\\a b\\x.exe\"\t /LOG=\"l g\"  -- /q ").arguments),
            L"/LOG=\"l g\"  -- /q ");
  EXPECT_EQ(Parse(L"x.exe  ").arguments.length, 0);
}

TEST(CommandLineTest, OptionsAnyCaseQuotedOrNot) {
  for (const wchar_t* line : {L"x /S", L"x /s", L"x \"/S\"", L"x a /S b"})
    EXPECT_TRUE(Parse(line).silent) << line;
  EXPECT_EQ(LogPath(LR"(x /log=C:\l.txt)"), LR"(C:\l.txt)");
  EXPECT_EQ(LogPath(LR"(x "/LOG=C:\a b\l.txt" /S)"), LR"(C:\a b\l.txt)");
  EXPECT_EQ(LogPath(LR"(x /LOG="C:\a b\l.txt"  /S)"), LR"(C:\a b\l.txt)");
  EXPECT_EQ(LogPath(LR"(x /LOG=a\"b /S)"), LR"(a"b)");
  EXPECT_EQ(LogPath(L"x /LOG=a /LOG=b"), L"b");  // the last one
  EXPECT_TRUE(Parse(L"x /LOG=a /S").silent);
  for (const wchar_t* line : {L"x /WAITALL", L"x /s \"/WaitAll\""})
    EXPECT_TRUE(Parse(line).waitAll) << line;
  for (const wchar_t* line : {L"x /WAITALLx", L"x /WAIT", L"x -- /WAITALL"})
    EXPECT_FALSE(Parse(line).waitAll) << line;
}

// After the first unquoted `--` the rest goes to the setup program as typed,
// less the blanks that follow `--`; options there are the setup program's.
TEST(CommandLineTest, DoubleDashPassesTheRestVerbatim) {
  const struct {
    const wchar_t* line;
    const wchar_t* arguments;
    bool silent;
  } cases[] = {
      {LR"(x /S -- /quiet "INSTALLDIR=C:\Program Files\X" a\"b)",
       LR"(/quiet "INSTALLDIR=C:\Program Files\X" a\"b)", true},
      {L"x -- /S", L"/S", false},
      {L"x --\t  a  b \t", L"a  b \t", false},
      {L"x /S --", L"", true},
      {L"x /S --   ", L"", true},
      {L"x -- -- /LOG=l", L"-- /LOG=l", false},
      {L"x --a /S", L"", true},  // not exactly `--`
      {L"\"--\" /S -- b", L"b", true},  // the program name is no option
      {L"x \"\" \r- /S", L"", true},
  };
  for (const auto& each : cases) {
    const LauncherOptions options = Parse(each.line);
    EXPECT_EQ(Units(options.setupArguments), each.arguments) << each.line;
    EXPECT_EQ(options.silent, each.silent) << each.line;
    EXPECT_EQ(options.logFile.length, 0) << each.line;
  }
}

}  // namespace
