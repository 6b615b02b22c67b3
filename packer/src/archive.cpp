#include "archive.hpp"

#include <algorithm>
#include <functional>

#include "pe_resources.hpp"
#include "signed_archive.h"

namespace halvex {
namespace {

// Stored apart, like the launcher's MarkerHead and MarkerTail, so that this
// source never needs the joined text.
constexpr char kMarkerHead[] = "Archive ";
constexpr char kMarkerTail[] = "sTaRT";

}  // namespace

std::array<std::uint8_t, kMarkerSize> payload_marker() {
  std::array<std::uint8_t, kMarkerSize> m{};
  std::copy(kMarkerHead, kMarkerHead + 8, m.begin());
  std::copy(kMarkerTail, kMarkerTail + 5, m.begin() + 8);
  return m;
}

std::optional<std::size_t> find_marker(ByteView data) {
  const auto m = payload_marker();
  const auto it = std::search(data.begin(), data.end(),
                              std::boyer_moore_horspool_searcher(m.begin(), m.end()));
  if (it == data.end()) return std::nullopt;
  return static_cast<std::size_t>(it - data.begin());
}

PeInfo parse_pe32(ByteView d) {
  if (d.size() < 64 || d[0] != 'M' || d[1] != 'Z')
    throw InvalidData("not a Windows program (no MZ header)");
  const std::uint64_t pe = u32(d, 0x3C);
  if (pe + 24 > d.size() || d[pe] != 'P' || d[pe + 1] != 'E' || d[pe + 2] || d[pe + 3])
    throw InvalidData("not a PE image (no PE signature at offset " + std::to_string(pe) + ")");
  PeInfo info;
  info.machine = static_cast<std::uint16_t>(u16(d, pe + 4));
  info.sections = static_cast<std::uint16_t>(u16(d, pe + 6));
  const std::uint32_t opt_size = u16(d, pe + 20);
  const std::uint32_t characteristics = u16(d, pe + 22);
  const std::uint64_t opt = pe + 24;
  if (opt_size < 96 || opt + opt_size > d.size())
    throw InvalidData("truncated PE optional header");
  const std::uint32_t magic = u16(d, opt);
  if (magic != 0x10B)
    throw InvalidData(magic == 0x20B ? "a PE32+ (64-bit) image, not PE32"
                                     : "not a PE32 image (optional header magic " +
                                           std::to_string(magic) + ")");
  if (!(characteristics & 0x0002)) throw InvalidData("PE image is not marked executable");
  if (characteristics & 0x2000) throw InvalidData("PE image is a DLL, not a program");
  std::uint64_t end = u32(d, opt + 60);  // SizeOfHeaders
  const std::uint64_t table = opt + opt_size;
  if (table + 40ull * info.sections > d.size()) throw InvalidData("truncated PE section table");
  for (unsigned s = 0; s < info.sections; ++s) {
    const std::uint64_t at = table + 40 * s;
    const PeSection section{u32(d, at + 8), u32(d, at + 12), u32(d, at + 16), u32(d, at + 20), at};
    if (section.raw_size)
      end = std::max(end, std::uint64_t{section.raw_pointer} + section.raw_size);
    info.section_table.push_back(section);
  }
  info.optional_header = opt;
  info.directories = std::min<std::uint32_t>(u32(d, opt + 92), (opt_size - 96) / 8);
  const auto [cert, cert_size] = info.directory(d, 4);  // a file offset, not an RVA
  if (cert && cert_size) info.certificate_offset = cert, info.certificate_size = cert_size;
  info.image_end = end;
  return info;
}

std::optional<std::uint64_t> PeInfo::offset_of(std::uint64_t rva, std::uint64_t size) const {
  for (const PeSection& s : section_table)
    if (rva >= s.virtual_address && rva + size <= std::uint64_t{s.virtual_address} + s.raw_size)
      return s.raw_pointer + (rva - s.virtual_address);
  return std::nullopt;
}

std::pair<std::uint32_t, std::uint32_t> PeInfo::directory(ByteView image, unsigned index) const {
  if (index >= directories) return {0, 0};
  const std::uint64_t at = optional_header + 96 + 8 * index;
  return {u32(image, at), u32(image, at + 4)};
}

PeInfo check_stub(ByteView stub) {
  const PeInfo pe = parse_pe32(stub);
  const std::uint64_t described = std::max(pe.image_end, pe.certificate_end());
  if (described > stub.size())
    throw InvalidData("truncated PE image: its headers describe " +
                      std::to_string(described) + " bytes, the file has " +
                      std::to_string(stub.size()));
  if (const auto at = find_marker(stub))
    throw InvalidData("the stub contains the 13 marker bytes at offset " +
                      std::to_string(*at) + "; the launcher would take them for the marker");
  return pe;
}

Bytes join_archive(ByteView stub, ByteView payload) {
  Bytes out;
  out.reserve(stub.size() + kMarkerSize + payload.size());
  const auto m = payload_marker();
  out.insert(out.end(), stub.begin(), stub.end());
  out.insert(out.end(), m.begin(), m.end());
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

ByteView payload_of(ByteView archive, std::size_t* marker_at) {
  const auto at = find_marker(archive);
  if (!at) throw InvalidData("no marker (\"Archive \" followed by \"sTaRT\"): not a self-archive");
  if (marker_at) *marker_at = *at;
  const std::size_t start = *at + kMarkerSize;
  // The launcher's own rule; it holds archives below 2 GiB only.
  if (archive.size() > 0x7FFFFFFF) return archive.subspan(start);
  const int end = PayloadEnd(archive.data(), static_cast<int>(archive.size()),
                             static_cast<int>(start));
  return archive.subspan(start, static_cast<std::size_t>(end) - start);
}

namespace {

// A signer pads the file with zero bytes to a multiple of 8 before it adds
// the table.  Such padding behind a stream that already gave the header's
// size would be decoded into trailing bytes of the setup program.
bool padded_by_signer(ByteView payload, std::uint64_t payload_offset,
                      const szdd::ExpandInfo& info) {
  if (!info.size_reached_at || *info.size_reached_at >= payload.size()) return false;
  const ByteView tail = payload.subspan(*info.size_reached_at);
  return tail.size() < 8 && (payload_offset + payload.size()) % 8 == 0 &&
         std::all_of(tail.begin(), tail.end(), [](std::uint8_t b) { return b == 0; });
}

// Payload bytes behind the end of the compressed stream: where the output
// reached the header's size, else the end of the last complete item.
std::uint64_t trailing_bytes_of(const szdd::ExpandInfo& info) {
  return info.input_bytes - info.size_reached_at.value_or(info.stream_end);
}

}  // namespace

void verify_archive_into(ByteView archive, ArchiveSummary& sum, Bytes* expanded,
                         const szdd::ExpandOptions& options) {
  sum = ArchiveSummary{};
  sum.archive_size = archive.size();
  sum.reached = ArchiveSummary::Step::read;
  std::size_t at = 0;
  const ByteView payload = payload_of(archive, &at);
  sum.image_size = at;
  sum.payload_size = payload.size();
  sum.certificate_size = archive.size() - sum.payload_offset() - payload.size();
  sum.reached = ArchiveSummary::Step::layout;
  PeInfo pe;
  try {
    pe = parse_pe32(archive.first(at));
  } catch (const InvalidData& e) {
    throw InvalidData(std::string("the bytes before the marker are not a PE32 program: ") +
                      e.what());
  }
  // The image's own certificate table counts as part of it when it lies
  // before the marker; a signed archive's table lies behind the payload.
  const std::uint64_t image_end = pe.certificate_end() <= at
                                      ? std::max(pe.image_end, pe.certificate_end())
                                      : pe.image_end;
  if (image_end > at)
    throw InvalidData("the first marker, at offset " + std::to_string(at) +
                      ", lies inside the PE image, which ends at " +
                      std::to_string(image_end));
  try {
    sum.identity = identity_of(read_resources(archive.first(at)));
  } catch (const InvalidData& e) {
    throw InvalidData(std::string("the image's resources: ") + e.what());
  }
  if (payload.empty()) throw InvalidData("the payload is empty: the marker ends the file");
  szdd::ExpandInfo info;
  Bytes data;
  try {
    data = szdd::expand(payload, &info, options);
  } catch (const szdd::Error& e) {
    throw InvalidData(std::string("payload: ") + e.what());
  }
  sum.expanded_size = info.header.expanded_size;
  sum.trailing_bytes = trailing_bytes_of(info);
  sum.reached = ArchiveSummary::Step::payload;
  if (sum.certificate_size && padded_by_signer(payload, sum.payload_offset(), info))
    throw InvalidData(
        "the signer padded the archive: " + std::to_string(sum.trailing_bytes) +
        " zero bytes lie between the end of the compressed stream and the certificate "
        "table; the launcher would write them into \"setup.ex_\" and the setup program "
        "would get trailing bytes.  Build the archive with halvex-pack build (its length "
        "is then a multiple of 8 and signing adds no padding), then sign it again");
  if (!info.exact()) throw InvalidData("payload: " + info.problem());
  if (expanded) *expanded = std::move(data);
}

ArchiveSummary verify_archive(ByteView archive, Bytes* expanded,
                              const szdd::ExpandOptions& options) {
  ArchiveSummary sum;
  verify_archive_into(archive, sum, expanded, options);
  return sum;
}

Bytes extract_payload(ByteView archive, szdd::ExpandInfo* info,
                      const szdd::ExpandOptions& options) {
  const ByteView payload = payload_of(archive);
  try {
    return szdd::expand(payload, info, options);
  } catch (const szdd::Error& e) {
    throw InvalidData(std::string("payload: ") + e.what());
  }
}

}  // namespace halvex
