// Texts and the byte-wise path operations. The same cases run natively and,
// built for Windows, under Wine over the process heap.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "path_text.h"
#include "text.h"

namespace {

TextView View(std::string_view bytes) {
  return {bytes.data(), static_cast<int>(bytes.size())};
}

std::string Bytes(const Text& text) {
  return std::string(text.View().bytes, static_cast<size_t>(text.Length()));
}

std::string Token(std::string_view text, int number,
                  const DelimiterSet& delimiters = BackslashDelimiters) {
  return Bytes(ExtractToken(View(text), number, delimiters));
}

DelimiterSet SetOf(std::string_view members) {
  DelimiterSet set{};
  for (unsigned char byte : members) set.words[byte >> 5] |= 1u << (byte & 31);
  return set;
}

using namespace std::string_literals;

TEST(TextTest, KeepsZeroBytesAndLengthAcrossAppends) {
  Text text(View("a\0b"s));
  text.Append('\0').Append(View("tail"));
  EXPECT_EQ(Bytes(text), "a\0b\0tail"s);
  EXPECT_EQ(text.Length(), 8);
  // Still terminated for the platform, past the explicit length.
  EXPECT_EQ(text.CString()[8], '\0');
}

TEST(TextTest, GrowsPastItsFirstCapacity) {
  Text text;
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    const char byte = static_cast<char>('a' + i % 26);
    text.Append(byte);
    expected += byte;
  }
  EXPECT_EQ(Bytes(text), expected);
  EXPECT_FALSE(text.Failed());
}

TEST(TextTest, MoveLeavesTheSourceEmpty) {
  Text source(View("C:\\Temp"));
  Text target(View("old"));
  target = std::move(source);
  EXPECT_EQ(Bytes(target), "C:\\Temp");
  EXPECT_TRUE(source.Empty());
  EXPECT_STREQ(source.CString(), "");
}

TEST(TextTest, ProcessTextCopiesAndReleases) {
  ProcessText slot{};
  ASSERT_TRUE(AssignProcessText(slot, View("first")));
  ASSERT_TRUE(AssignProcessText(slot, View("se\0cond"s)));
  EXPECT_EQ(std::string(slot.bytes, slot.length), "se\0cond"s);
  ReleaseProcessText(slot);
  EXPECT_TRUE(slot.Empty());
  EXPECT_EQ(slot.bytes, nullptr);
}

TEST(StripTrailingBackslashesTest, DropsOnlyTheTrailingRun) {
  EXPECT_EQ(Bytes(StripTrailingBackslashes(View(""))), "");
  EXPECT_EQ(Bytes(StripTrailingBackslashes(View("\\\\\\"))), "");
  EXPECT_EQ(Bytes(StripTrailingBackslashes(View("C:\\Temp\\\\Halvex\\"))),
            "C:\\Temp\\\\Halvex");
  EXPECT_EQ(Bytes(StripTrailingBackslashes(View("\\Temp"))), "\\Temp");
  EXPECT_EQ(Bytes(StripTrailingBackslashes(View("a/"))), "a/");
  EXPECT_EQ(Bytes(StripTrailingBackslashes(View("a\0\\"s))), "a\0"s);
}

TEST(AddBackslashTest, EndsInExactlyOneBackslash) {
  EXPECT_EQ(Bytes(AddBackslash(View(""))), "\\");
  EXPECT_EQ(Bytes(AddBackslash(View("\\\\"))), "\\");
  EXPECT_EQ(Bytes(AddBackslash(View("C:"))), "C:\\");
  EXPECT_EQ(Bytes(AddBackslash(View("C:\\Temp\\\\\\"))), "C:\\Temp\\");
  EXPECT_EQ(Bytes(AddBackslash(View("C:\\Temp\\"))), "C:\\Temp\\");
}

TEST(AddBackslashTest, LeavesTheCallersTextAlone) {
  const std::string path = "C:\\Temp\\\\";
  Text joined = AddBackslash(View(path));
  joined.Append(View("Halvex"));
  EXPECT_EQ(Bytes(joined), "C:\\Temp\\Halvex");
  EXPECT_EQ(path, "C:\\Temp\\\\");
}

TEST(ExtractTokenTest, CountsTokensBetweenRunsOfDelimiters) {
  const std::string_view path = "C:\\Temp\\\\Halvex\\";
  EXPECT_EQ(Token(path, 1), "C:");
  EXPECT_EQ(Token(path, 2), "Temp");
  EXPECT_EQ(Token(path, 3), "Halvex");
  EXPECT_EQ(Token(path, 4), "");
  EXPECT_EQ(Token(path, 0), "");
  EXPECT_EQ(Token(path, -1), "");
}

TEST(ExtractTokenTest, LeadingDelimitersBelongToNoToken) {
  const std::string_view path = "\\\\server\\share\\dir";
  EXPECT_EQ(Token(path, 1), "server");
  EXPECT_EQ(Token(path, 2), "share");
  EXPECT_EQ(Token(path, 3), "dir");
  EXPECT_EQ(Token(path, 4), "");
}

TEST(ExtractTokenTest, ZeroBytesAreNeitherCopiedNorSeparators) {
  EXPECT_EQ(Token("a\0b\\c"s, 1), "ab");
  EXPECT_EQ(Token("a\0b\\c"s, 2), "c");
  EXPECT_EQ(Token("\0\\x"s, 1), "x");
  EXPECT_EQ(Token("\0\0"s, 1), "");
}

TEST(ExtractTokenTest, AZeroByteInTheSetIsADelimiter) {
  const DelimiterSet set = SetOf("\0\\"s);
  EXPECT_EQ(Token("a\0b\\c"s, 1, set), "a");
  EXPECT_EQ(Token("a\0b\\c"s, 2, set), "b");
  EXPECT_EQ(Token("a\0b\\c"s, 3, set), "c");
}

TEST(ExtractTokenTest, OnlyMembersOfTheSetSeparate) {
  EXPECT_EQ(Token("a/b\\c", 1), "a/b");
  const DelimiterSet set = SetOf("/;\xff");
  EXPECT_EQ(Token("x;y/\xffz\\w", 2, set), "y");
  EXPECT_EQ(Token("x;y/\xffz\\w", 3, set), "z\\w");
}

TEST(ExtractTokenTest, EmptyTextHasNoTokens) {
  for (int number : {-1, 0, 1, 2, 100}) EXPECT_EQ(Token("", number), "");
}

TEST(ExtractTokenTest, EveryCallScansFromTheStart) {
  const std::string_view path = "a\\b\\c";
  EXPECT_EQ(Token(path, 3), "c");
  EXPECT_EQ(Token(path, 1), "a");
  EXPECT_EQ(Token(path, 2), "b");
}

}  // namespace
