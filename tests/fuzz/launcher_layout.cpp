// libFuzzer target: the launcher's own layout code (the marker search and
// the payload's end in a signed archive) on any bytes.
//  - The marker found is the first occurrence, as a plain search finds it.
//  - The payload range lies inside the data.
//  - A certificate entry that names no table ending the file changes
//    nothing: the result equals that of the same bytes with no entry.
//  - A real table appended behind the bytes ends the payload where it
//    starts, and the marker stays where it was.
// Every buffer handed over has exactly its size, so ASan reports any read
// behind it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "self_archive.h"
#include "signed_archive.h"

namespace {

using Bytes = std::vector<unsigned char>;

void check(bool ok) {
  if (!ok) std::abort();
}

std::uint32_t get32(const Bytes& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }
void put16(Bytes& b, std::size_t at, std::uint16_t v) { std::memcpy(b.data() + at, &v, 2); }

// The reference: the marker's halves joined, then a plain search.
int ReferenceMarker(const Bytes& b) {
  unsigned char marker[PayloadMarkerLength];
  std::memcpy(marker, MarkerHead, MarkerHeadLength);
  std::memcpy(marker + MarkerHeadLength, MarkerTail, MarkerTailLength);
  const auto it = std::search(b.begin(), b.end(), marker, marker + PayloadMarkerLength);
  return it == b.end() ? 0 : static_cast<int>(it - b.begin()) + 1;
}

struct Layout {
  int marker;  // 1-based, 0 = none
  int end;     // of the payload
  bool operator==(const Layout&) const = default;
};

// The launcher's reading; without a marker the payload offset is taken
// from the caller, so that the table rule is exercised on any bytes.
Layout LayoutOf(const Bytes& b, int fallbackOffset) {
  const int size = static_cast<int>(b.size());
  const int marker = FindPayloadMarker(b.data(), size);
  check(marker == ReferenceMarker(b));
  const int offset = marker ? marker - 1 + PayloadMarkerLength : fallbackOffset;
  const int end = PayloadEnd(b.data(), size, offset);
  check(end == size || (offset <= end && end <= size));
  return {marker, end};
}

// Where the certificate entry of the PE header named at 0x3C lies, if the
// whole header fits in the bytes.
constexpr std::size_t kOptionalHeader = 24, kCertificateEntry = kOptionalHeader + 128;
bool EntryAt(const Bytes& b, std::size_t& header) {
  if (b.size() < 0x40) return false;
  header = get32(b, 0x3C);
  return header <= b.size() && b.size() - header >= kCertificateEntry + 8;
}

// The same bytes, with the certificate entry set to (start, size).
Bytes WithEntry(Bytes b, std::size_t header, std::uint32_t start, std::uint32_t size) {
  put32(b, header + kCertificateEntry, start);
  put32(b, header + kCertificateEntry + 4, size);
  return b;
}

bool Overlaps(int marker, std::size_t at, std::size_t length) {
  if (!marker) return false;
  const std::size_t m = static_cast<std::size_t>(marker - 1);
  return m < at + length && at < m + PayloadMarkerLength;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes bytes(data, data + size);
  const int fallback = size ? data[0] % (size + 1) : 0;
  const Layout plain = LayoutOf(bytes, fallback);

  std::size_t header;
  if (!EntryAt(bytes, header)) return 0;
  const std::size_t entry = header + kCertificateEntry;
  // A marker inside the edited entry would move; such bytes say nothing here.
  if (Overlaps(plain.marker, entry, 8)) return 0;
  const int offset = plain.marker ? plain.marker - 1 + PayloadMarkerLength : fallback;
  const std::uint64_t total = size;

  // Entries that name no table ending the file behind the payload's start.
  const Layout none = LayoutOf(WithEntry(bytes, header, 0, 0), fallback);
  check(none.marker == plain.marker && none.end == static_cast<int>(size));
  const std::uint32_t own_start = get32(bytes, entry), own_size = get32(bytes, entry + 4);
  const std::uint64_t elsewhere[][2] = {
      {total - 16, 4096},                     // beyond the end
      {total / 2, total / 2 - 1},             // short of the end
      {0, total},                             // the whole file
      {offset - 1u, total - offset + 1},      // from before the payload
      {own_start, own_size + 1u},             // the input's own, one longer
      {own_start - 1u, own_size},             // the input's own, one earlier
  };
  for (const auto& [start, length] : elsewhere) {
    if (start + length == total && start >= static_cast<std::uint64_t>(offset)) continue;
    const Bytes moved = WithEntry(bytes, header, static_cast<std::uint32_t>(start),
                                  static_cast<std::uint32_t>(length));
    // New entry bytes may complete a marker of their own: another archive.
    if (ReferenceMarker(moved) != plain.marker) continue;
    check(LayoutOf(moved, fallback) == none);
  }

  // A real table appended: a PE32 header that names one behind the bytes.
  const std::uint32_t table_size = 8 + data[size - 1];
  Bytes signed_bytes = WithEntry(bytes, header, static_cast<std::uint32_t>(size), table_size);
  put16(signed_bytes, header + kOptionalHeader, 0x10B);    // PE32 magic
  put32(signed_bytes, header + kOptionalHeader + 92, 16);  // directory count
  // The magic may land on the header's own offset, or make or break a marker.
  if (get32(signed_bytes, 0x3C) != header || ReferenceMarker(signed_bytes) != plain.marker)
    return 0;
  signed_bytes.resize(size + table_size, 0);
  check(LayoutOf(signed_bytes, fallback) == Layout{plain.marker, static_cast<int>(size)});
  return 0;
}
