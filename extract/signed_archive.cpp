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
// on little-endian machines, where one unaligned load reads them.
using Field32 = unsigned __attribute__((may_alias, aligned(1)));
using Field16 = unsigned short __attribute__((may_alias, aligned(1)));

unsigned Read32(const unsigned char* at) {
  return *reinterpret_cast<const Field32*>(at);
}

}  // namespace

int PayloadEnd(const unsigned char* archive, int size, int payloadOffset) {
  const unsigned total = size;
  // Unsigned comparisons throughout: no header value can point outside.
  if (total < HeadersEnd) return size;
  const unsigned header = Read32(archive + NewHeaderField);
  if (header > total - HeadersEnd) return size;
  const unsigned char* pe = archive + header;
  if (*reinterpret_cast<const Field16*>(pe + Magic) != Pe32Magic ||
      Read32(pe + DirectoryCount) <= CertificateDirectory)
    return size;
  const unsigned tableStart = Read32(pe + CertificateEntry);
  const unsigned tableSize = Read32(pe + CertificateEntry + 4);
  if (tableSize > total || tableStart != total - tableSize ||
      tableStart < unsigned(payloadOffset))
    return size;
  return tableStart;
}
