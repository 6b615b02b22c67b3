#include "signed_archive.h"

namespace {

// Offsets in the PE32 headers. The certificate table is data directory 4; its
// "address" is a file offset, not a virtual address.
constexpr unsigned NewHeaderField = 0x3C;
constexpr unsigned OptionalHeader = 24;  // behind "PE\0\0" and the file header
constexpr unsigned Magic = OptionalHeader;
constexpr unsigned DirectoryCount = OptionalHeader + 92;
constexpr unsigned CertificateEntry = OptionalHeader + 128;
constexpr unsigned HeadersEnd = CertificateEntry + 8;
constexpr unsigned Pe32Magic = 0x10B;
constexpr unsigned CertificateDirectory = 4;

// Header fields are little-endian and need not be aligned; both builds run
// on little-endian machines. A fixed-size copy compiles to one unaligned
// load, and unlike a cast to a less aligned type it is defined for any
// address under every compiler.
unsigned Read32(const unsigned char* at) {
  unsigned value;
  __builtin_memcpy(&value, at, sizeof value);
  return value;
}

unsigned Read16(const unsigned char* at) {
  unsigned short value;
  __builtin_memcpy(&value, at, sizeof value);
  return value;
}

}  // namespace

int PayloadEnd(const unsigned char* archive, int size, int payloadOffset) {
  const unsigned total = size;
  // Unsigned comparisons throughout: no header value can point outside.
  if (total < HeadersEnd) return size;
  const unsigned header = Read32(archive + NewHeaderField);
  if (header > total - HeadersEnd) return size;
  const unsigned char* pe = archive + header;
  if (Read16(pe + Magic) != Pe32Magic ||
      Read32(pe + DirectoryCount) <= CertificateDirectory)
    return size;
  const unsigned tableStart = Read32(pe + CertificateEntry);
  const unsigned tableSize = Read32(pe + CertificateEntry + 4);
  if (tableSize > total || tableStart != total - tableSize ||
      tableStart < unsigned(payloadOffset))
    return size;
  return tableStart;
}
