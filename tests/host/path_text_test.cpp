// Texts and the path operations. The same cases run natively and,
// built for Windows, under Wine over the process heap.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "path_text.h"
#include "text.h"

namespace {

TextView View(std::wstring_view bytes) {
  return {bytes.data(), static_cast<int>(bytes.size())};
}

std::wstring Units(const Text& text) {
  return std::wstring(text.View().units, static_cast<size_t>(text.Length()));
}

std::wstring Token(std::wstring_view text, int number,
                  const DelimiterSet& delimiters = BackslashDelimiters) {
  return Units(ExtractToken(View(text), number, delimiters));
}

DelimiterSet SetOf(std::wstring_view members) {
  DelimiterSet set{};
  for (wchar_t unit : members) set.words[unit >> 5] |= 1u << (unit & 31);
  return set;
}

using namespace std::string_literals;

TEST(TextTest, KeepsZeroBytesAndLengthAcrossAppends) {
  Text text(View(L"a\0b"s));
  text.Append(L'\0').Append(View(L"tail"));
  EXPECT_EQ(Units(text), L"a\0b\0tail"s);
  EXPECT_EQ(text.Length(), 8);
  // Still terminated for the platform, past the explicit length.
  EXPECT_EQ(text.CString()[8], L'\0');
}

TEST(TextTest, GrowsPastItsFirstCapacity) {
  Text text;
  std::wstring expected;
  for (int i = 0; i < 1000; ++i) {
    const wchar_t unit = static_cast<wchar_t>(L'a' + i % 26);
    text.Append(unit);
    expected += unit;
  }
  EXPECT_EQ(Units(text), expected);
  EXPECT_FALSE(text.Failed());
}

TEST(TextTest, MoveLeavesTheSourceEmpty) {
  Text source(View(L"C:\\Temp"));
  Text target(View(L"old"));
  target = std::move(source);
  EXPECT_EQ(Units(target), L"C:\\Temp");
  EXPECT_TRUE(source.Empty());
  EXPECT_STREQ(source.CString(), L"");
}

TEST(TextTest, ProcessTextCopiesAndReleases) {
  ProcessText slot{};
  ASSERT_TRUE(AssignProcessText(slot, View(L"first")));
  ASSERT_TRUE(AssignProcessText(slot, View(L"se\0cond"s)));
  EXPECT_EQ(std::wstring(slot.units, slot.length), L"se\0cond"s);
  ReleaseProcessText(slot);
  EXPECT_TRUE(slot.Empty());
  EXPECT_EQ(slot.units, nullptr);
}

TEST(StripTrailingBackslashesTest, DropsOnlyTheTrailingRun) {
  EXPECT_EQ(Units(StripTrailingBackslashes(View(L""))), L"");
  EXPECT_EQ(Units(StripTrailingBackslashes(View(L"\\\\\\"))), L"");
  EXPECT_EQ(Units(StripTrailingBackslashes(View(L"C:\\Temp\\\\Halvex\\"))),
            L"C:\\Temp\\\\Halvex");
  EXPECT_EQ(Units(StripTrailingBackslashes(View(L"\\Temp"))), L"\\Temp");
  EXPECT_EQ(Units(StripTrailingBackslashes(View(L"a/"))), L"a/");
  EXPECT_EQ(Units(StripTrailingBackslashes(View(L"a\0\\"s))), L"a\0"s);
}

TEST(AddBackslashTest, EndsInExactlyOneBackslash) {
  EXPECT_EQ(Units(AddBackslash(View(L""))), L"\\");
  EXPECT_EQ(Units(AddBackslash(View(L"\\\\"))), L"\\");
  EXPECT_EQ(Units(AddBackslash(View(L"C:"))), L"C:\\");
  EXPECT_EQ(Units(AddBackslash(View(L"C:\\Temp\\\\\\"))), L"C:\\Temp\\");
  EXPECT_EQ(Units(AddBackslash(View(L"C:\\Temp\\"))), L"C:\\Temp\\");
}

TEST(AddBackslashTest, LeavesTheCallersTextAlone) {
  const std::wstring path = L"C:\\Temp\\\\";
  Text joined = AddBackslash(View(path));
  joined.Append(View(L"Halvex"));
  EXPECT_EQ(Units(joined), L"C:\\Temp\\Halvex");
  EXPECT_EQ(path, L"C:\\Temp\\\\");
}

TEST(ExtractTokenTest, CountsTokensBetweenRunsOfDelimiters) {
  const std::wstring_view path = L"C:\\Temp\\\\Halvex\\";
  EXPECT_EQ(Token(path, 1), L"C:");
  EXPECT_EQ(Token(path, 2), L"Temp");
  EXPECT_EQ(Token(path, 3), L"Halvex");
  EXPECT_EQ(Token(path, 4), L"");
  EXPECT_EQ(Token(path, 0), L"");
  EXPECT_EQ(Token(path, -1), L"");
}

TEST(ExtractTokenTest, LeadingDelimitersBelongToNoToken) {
  const std::wstring_view path = L"\\\\server\\share\\dir";
  EXPECT_EQ(Token(path, 1), L"server");
  EXPECT_EQ(Token(path, 2), L"share");
  EXPECT_EQ(Token(path, 3), L"dir");
  EXPECT_EQ(Token(path, 4), L"");
}

TEST(ExtractTokenTest, ZeroBytesAreNeitherCopiedNorSeparators) {
  EXPECT_EQ(Token(L"a\0b\\c"s, 1), L"ab");
  EXPECT_EQ(Token(L"a\0b\\c"s, 2), L"c");
  EXPECT_EQ(Token(L"\0\\x"s, 1), L"x");
  EXPECT_EQ(Token(L"\0\0"s, 1), L"");
}

TEST(ExtractTokenTest, AZeroByteInTheSetIsADelimiter) {
  const DelimiterSet set = SetOf(L"\0\\"s);
  EXPECT_EQ(Token(L"a\0b\\c"s, 1, set), L"a");
  EXPECT_EQ(Token(L"a\0b\\c"s, 2, set), L"b");
  EXPECT_EQ(Token(L"a\0b\\c"s, 3, set), L"c");
}

TEST(ExtractTokenTest, OnlyMembersOfTheSetSeparate) {
  EXPECT_EQ(Token(L"a/b\\c", 1), L"a/b");
  const DelimiterSet set = SetOf(L"/;\xff");
  EXPECT_EQ(Token(L"x;y/\xffz\\w", 2, set), L"y");
  EXPECT_EQ(Token(L"x;y/\xffz\\w", 3, set), L"z\\w");
}

// U+015C and U+FF3C end in the backslash's byte, and a surrogate pair
// carries a character outside the Basic Multilingual Plane: none separates.
TEST(ExtractTokenTest, UnitsAboveTheSetNeverSeparate) {
  const std::wstring_view path = L"C:\\\x0418\x0432\x015C\xFF3C\xD83D\xDE00\\x";
  EXPECT_EQ(Token(path, 2), L"\x0418\x0432\x015C\xFF3C\xD83D\xDE00");
  EXPECT_EQ(Token(path, 3), L"x");
}

TEST(ExtractTokenTest, EmptyTextHasNoTokens) {
  for (int number : {-1, 0, 1, 2, 100}) EXPECT_EQ(Token(L"", number), L"");
}

TEST(ExtractTokenTest, EveryCallScansFromTheStart) {
  const std::wstring_view path = L"a\\b\\c";
  EXPECT_EQ(Token(path, 3), L"c");
  EXPECT_EQ(Token(path, 1), L"a");
  EXPECT_EQ(Token(path, 2), L"b");
}

}  // namespace
