// Where the payload of a self-archive ends: at the certificate table of a
// signed archive, at the end of the file in every other case.

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "signed_archive.h"

namespace {

constexpr std::uint32_t HeaderOffset = 0x80;
constexpr std::uint32_t OptionalHeader = HeaderOffset + 24;
constexpr std::uint32_t CertificateEntry = OptionalHeader + 128;

void Put32(std::vector<unsigned char>& bytes, std::size_t at,
           std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = (value >> (8 * i)) & 0xFF;
}

// PayloadEnd over a copy of `bytes` that ends right at an inaccessible page,
// so that any read behind the data crashes the test.
int GuardedPayloadEnd(const std::vector<unsigned char>& bytes,
                      int payloadOffset) {
  const std::size_t page = sysconf(_SC_PAGESIZE);
  const std::size_t pages = (bytes.size() + page - 1) / page + 1;
  void* mapped = mmap(nullptr, pages * page, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  EXPECT_NE(mapped, MAP_FAILED);
  auto* base = static_cast<unsigned char*>(mapped);
  unsigned char* guard = base + (pages - 1) * page;
  EXPECT_EQ(mprotect(guard, page, PROT_NONE), 0);
  unsigned char* data = guard - bytes.size();
  std::copy(bytes.begin(), bytes.end(), data);
  const int end =
      PayloadEnd(data, static_cast<int>(bytes.size()), payloadOffset);
  munmap(mapped, pages * page);
  return end;
}

// A launcher image of `imageSize` bytes with a PE32 header whose certificate
// entry says (start, size), followed by `payloadSize` bytes of "payload" and
// `tableSize` bytes of table. The marker is not needed here: the payload's
// start is passed in.
struct Archive {
  std::vector<unsigned char> bytes;
  int payloadOffset;

  Archive(int imageSize, int payloadSize, int tableSize)
      : bytes(imageSize + payloadSize + tableSize, 0xA5),
        payloadOffset(imageSize) {
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Put32(bytes, 0x3C, HeaderOffset);
    Put32(bytes, HeaderOffset, 0x00004550);  // "PE\0\0"
    bytes[OptionalHeader] = 0x0B;
    bytes[OptionalHeader + 1] = 0x01;
    Put32(bytes, OptionalHeader + 92, 16);  // NumberOfRvaAndSizes
    SetTable(tableSize ? imageSize + payloadSize : 0, tableSize);
  }
  void SetTable(std::uint32_t start, std::uint32_t size) {
    Put32(bytes, CertificateEntry, start);
    Put32(bytes, CertificateEntry + 4, size);
  }
  int Size() const { return static_cast<int>(bytes.size()); }
  int End() const { return GuardedPayloadEnd(bytes, payloadOffset); }
};

TEST(PayloadEnd, StopsWhereATableBehindThePayloadFillsTheRestOfTheFile) {
  Archive signedArchive(512, 1000, 1456);
  EXPECT_EQ(signedArchive.End(), 512 + 1000);
  // A table right behind the marker leaves an empty payload.
  Archive emptyPayload(512, 0, 8);
  EXPECT_EQ(emptyPayload.End(), 512);
}

TEST(PayloadEnd, WithoutAUsableTableThePayloadRunsToTheEndOfTheFile) {
  Archive unsigned_(512, 1000, 0);
  EXPECT_EQ(unsigned_.End(), unsigned_.Size());

  Archive archive(512, 1000, 1456);
  const int size = archive.Size();
  archive.SetTable(512 + 1000, 1000);  // ends before the end of the file
  EXPECT_EQ(archive.End(), size);
  archive.SetTable(512 + 1000, 2000);  // runs past the end of the file
  EXPECT_EQ(archive.End(), size);
  archive.SetTable(100, size - 100);  // starts inside the image, before the marker
  EXPECT_EQ(archive.End(), size);
  archive.SetTable(511, size - 511);  // one byte before the payload
  EXPECT_EQ(archive.End(), size);
  archive.SetTable(0xFFFFFFFF, size + 1);  // start + size wraps to the file's end
  EXPECT_EQ(archive.End(), size);
  archive.SetTable(size + 16, 0xFFFFFFF0);
  EXPECT_EQ(archive.End(), size);
  archive.SetTable(size, 0);  // an empty table at the very end
  EXPECT_EQ(archive.End(), size);
}

TEST(PayloadEnd, ADamagedOrTruncatedHeaderIsNeverReadOutsideTheData) {
  Archive good(512, 1000, 1456);
  const int size = good.Size();

  Archive wrongMagic = good;
  wrongMagic.bytes[OptionalHeader] = 0x0B;
  wrongMagic.bytes[OptionalHeader + 1] = 0x02;  // PE32+
  EXPECT_EQ(wrongMagic.End(), size);

  Archive fewDirectories = good;
  Put32(fewDirectories.bytes, OptionalHeader + 92, 4);
  EXPECT_EQ(fewDirectories.End(), size);

  const std::vector<unsigned char> header(
      good.bytes.begin() + HeaderOffset, good.bytes.begin() + HeaderOffset + 160);
  // The header offset wraps around, or points past the end of the file.
  for (std::uint32_t offset : {std::uint32_t(size), 0x80000000u, 0xFFFFFFF0u}) {
    Archive outside = good;
    Put32(outside.bytes, 0x3C, offset);
    EXPECT_EQ(outside.End(), size) << offset;
  }
  // A header that starts near the end, cut off by it: before the directory
  // count, inside it, inside the certificate entry, one byte short.
  for (std::size_t kept : {26, 118, 140, 159}) {
    Archive cutOff = good;
    std::copy(header.begin(), header.begin() + kept,
              cutOff.bytes.end() - kept);
    Put32(cutOff.bytes, 0x3C, size - kept);
    EXPECT_EQ(cutOff.End(), size) << kept;
  }
  // The last offset at which the whole entry still fits is read.
  Archive atEnd = good;
  std::copy(header.begin(), header.end(), atEnd.bytes.end() - 160);
  Put32(atEnd.bytes, 0x3C, size - 160);
  EXPECT_EQ(atEnd.End(), 512 + 1000);

  // Archives too short to hold the headers: each byte is only read inside.
  for (int cut : {0, 1, 0x3F, 0x40, 159}) {
    const std::vector<unsigned char> truncated(good.bytes.begin(),
                                               good.bytes.begin() + cut);
    EXPECT_EQ(GuardedPayloadEnd(truncated, 0), cut);
  }
}

}  // namespace
