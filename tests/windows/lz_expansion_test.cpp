// LZ32 as the pipeline drives it: LZInit on a file handle open for reading
// and writing, LZSeek to the start, LZRead in 65,536-byte pieces until a
// short one, LZClose. The pieces joined must be the original, byte for byte.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform.h"

namespace {

using Bytes = std::vector<char>;

const std::string FixtureDir = HALVEX_LZ_FIXTURES;
constexpr int PieceSize = 65536;

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
}

struct Expansion {
  std::vector<int> pieceSizes;
  Bytes data;
};

Expansion ExpandThroughLz32(const std::string& path) {
  Expansion result;
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
  // The pipeline hands the file over positioned at its end.
  SetFilePointer(file, 0, nullptr, FILE_END);
  const INT expansion = platform::LZInit(file);
  EXPECT_GE(expansion, 0);
  if (expansion < 0) return result;
  platform::LZSeek(expansion, 0, 0);
  Bytes piece(PieceSize);
  INT count;
  do {
    count = platform::LZRead(expansion, piece.data(), PieceSize);
    result.pieceSizes.push_back(count);
    if (count > 0) result.data.insert(result.data.end(), piece.begin(), piece.begin() + count);
  } while (count == PieceSize);
  platform::LZClose(expansion);
  // LZClose closed the file too: it can be deleted at once.
  EXPECT_TRUE(DeleteFileA(path.c_str())) << "still open: " << path;
  return result;
}

// A header of mode "A" for `size` expanded bytes, then `data`.
Bytes HandWritten(uint32_t size, const Bytes& data) {
  Bytes stream = {'S', 'Z', 'D', 'D', '\x88', '\xF0', '\x27', '\x33', 'A', 0,
                  static_cast<char>(size), static_cast<char>(size >> 8),
                  static_cast<char>(size >> 16), static_cast<char>(size >> 24)};
  stream.insert(stream.end(), data.begin(), data.end());
  return stream;
}

std::string Scratch(const std::string& name) {
  char directory[MAX_PATH];
  GetTempPathA(MAX_PATH, directory);
  return std::string(directory) + "halvex-lz-" + name;
}

TEST(LzExpansion, ExpandsMscompressOutputOfSeveralMegabytes) {
  const Bytes original = ReadFileBytes(FixtureDir + "/several-megabytes.bin");
  ASSERT_GT(original.size(), 2'000'000u);
  const std::string copy = Scratch("several.bin_");
  WriteFileBytes(copy, ReadFileBytes(FixtureDir + "/several-megabytes.bin_"));
  const Expansion expanded = ExpandThroughLz32(copy);
  EXPECT_TRUE(expanded.data == original);
  EXPECT_EQ(expanded.pieceSizes.size(), original.size() / PieceSize + 1);
}

TEST(LzExpansion, AnExactMultipleOfThePieceSizeEndsWithAReadOfZero) {
  const Bytes original = ReadFileBytes(FixtureDir + "/exact-pieces.bin");
  ASSERT_EQ(original.size(), 5u * PieceSize);
  const std::string copy = Scratch("exact.bin_");
  WriteFileBytes(copy, ReadFileBytes(FixtureDir + "/exact-pieces.bin_"));
  const Expansion expanded = ExpandThroughLz32(copy);
  EXPECT_TRUE(expanded.data == original);
  EXPECT_EQ(expanded.pieceSizes,
            (std::vector<int>{PieceSize, PieceSize, PieceSize, PieceSize, PieceSize, 0}));
}

TEST(LzExpansion, HandWrittenStreamsOfZeroAndOneByte) {
  const std::string empty = Scratch("empty.bin_");
  WriteFileBytes(empty, HandWritten(0, {}));
  EXPECT_EQ(ExpandThroughLz32(empty).pieceSizes, std::vector<int>{0});

  const std::string one = Scratch("one.bin_");
  WriteFileBytes(one, HandWritten(1, {'\x01', 'x'}));  // one literal
  const Expansion expanded = ExpandThroughLz32(one);
  EXPECT_EQ(expanded.data, Bytes{'x'});
  EXPECT_EQ(expanded.pieceSizes, std::vector<int>{1});
}

}  // namespace
