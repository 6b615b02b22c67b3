// Self-archives: the launcher image, the 13-byte PayloadMarker, then an
// SZDD payload up to the end of the file (the marker is the only locator).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "bytes.hpp"
#include "identity.hpp"
#include "szdd/szdd.hpp"

namespace halvex {

inline constexpr std::size_t kMarkerSize = 13;
// The 13 marker bytes, joined from "Archive " and "sTaRT" as the launcher does.
std::array<std::uint8_t, kMarkerSize> payload_marker();
// First occurrence of the marker (the launcher's rule), or nullopt.
std::optional<std::size_t> find_marker(ByteView data);

struct PeSection {
  std::uint32_t virtual_size = 0, virtual_address = 0, raw_size = 0, raw_pointer = 0;
  std::uint64_t header_offset = 0;  // of its entry in the section table
};

struct PeInfo {
  std::uint16_t machine = 0;
  std::uint16_t sections = 0;
  std::uint64_t optional_header = 0;  // file offset
  std::uint32_t directories = 0;      // NumberOfRvaAndSizes, as far as the header holds them
  std::vector<PeSection> section_table;
  // End of the headers and the section raw data in the file.
  std::uint64_t image_end = 0;
  // The certificate table (data directory 4), a file offset and a size; 0, 0
  // when the image names none.
  std::uint64_t certificate_offset = 0, certificate_size = 0;
  std::uint64_t certificate_end() const { return certificate_offset + certificate_size; }
  // The file offset of `size` bytes at `rva`, when one section's file bytes
  // hold them all.
  std::optional<std::uint64_t> offset_of(std::uint64_t rva, std::uint64_t size) const;
  // The data directory's entry `index`: an RVA and a size; 0, 0 when absent.
  std::pair<std::uint32_t, std::uint32_t> directory(ByteView image, unsigned index) const;
};
// Parses a PE32 (not PE32+) program image; throws InvalidData with the reason.
PeInfo parse_pe32(ByteView image);

// Throws InvalidData unless `stub` is a complete PE32 program without the
// marker bytes.
PeInfo check_stub(ByteView stub);

Bytes join_archive(ByteView stub, ByteView payload);

struct ArchiveSummary {
  // How far verify got: the fields of a step not reached stay 0.
  enum class Step {
    none,     // the file was not read
    read,     // archive_size
    layout,   // the marker was found: image, payload and certificate table sizes
    payload,  // the payload was decoded: expanded_size, trailing_bytes
  };
  Step reached = Step::none;
  std::uint64_t archive_size = 0;
  std::uint64_t image_size = 0;        // bytes before the marker
  std::uint64_t payload_size = 0;      // bytes after it, up to a certificate table
  std::uint64_t certificate_size = 0;  // of a signed archive's table, else 0
  std::uint32_t expanded_size = 0;
  // Payload bytes behind the point where the stream gave the header's size
  // (or behind its last complete item): LZ32 would decode them into more
  // output.
  std::uint64_t trailing_bytes = 0;
  Identity identity;  // what the image's resources say, from the layout step on
  std::uint64_t payload_offset() const { return image_size + kMarkerSize; }
  double ratio() const {
    return expanded_size ? 100.0 * static_cast<double>(payload_size) / expanded_size : 0.0;
  }
  // A signer would pad the archive to a multiple of 8 before it appends the
  // table, and the setup program would get that padding as trailing bytes.
  bool padded_if_signed() const { return !certificate_size && archive_size % 8; }
};

// verify: marker found by the first-occurrence rule and behind the end of
// the PE image, valid payload header, payload expanding to exactly the
// header's size with nothing after the stream.  In a signed archive the
// payload ends where the certificate table begins, as the launcher sees it;
// zero bytes between the stream and the table (a signer's padding) are
// refused with that reason.  If `expanded` is given it
// receives the expanded data.  Throws InvalidData with the reason.
ArchiveSummary verify_archive(ByteView archive, Bytes* expanded = nullptr,
                              const szdd::ExpandOptions& options = {});
// The same, filling `summary` as far as it gets before a refusal, so that a
// report can say what was found.
void verify_archive_into(ByteView archive, ArchiveSummary& summary, Bytes* expanded = nullptr,
                         const szdd::ExpandOptions& options = {});

// extract: the payload after the first marker, expanded as LZ32 does
// (decode to the end).  Throws InvalidData when there is no marker or the
// payload is not SZDD; `info` tells whether it was exact.
Bytes extract_payload(ByteView archive, szdd::ExpandInfo* info = nullptr,
                      const szdd::ExpandOptions& options = {});

// The payload bytes as the launcher takes them: after the first marker, up to
// the certificate table of a signed archive or else to the end of the file.
// Throws InvalidData if there is no marker.
ByteView payload_of(ByteView archive, std::size_t* marker_at = nullptr);

}  // namespace halvex
