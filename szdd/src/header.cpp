#include <algorithm>
#include <cstdio>

#include "szdd/szdd.hpp"

namespace szdd {

bool has_magic(std::span<const std::uint8_t> data) noexcept {
  return data.size() >= kMagic.size() &&
         std::equal(kMagic.begin(), kMagic.end(), data.begin());
}

Header parse_header(std::span<const std::uint8_t> data) {
  if (data.empty())
    throw Error(ErrorKind::bad_magic, "empty file, not an SZDD compressed file");
  const std::size_t k = std::min(data.size(), kMagic.size());
  if (!std::equal(data.begin(), data.begin() + k, kMagic.begin()))
    throw Error(ErrorKind::bad_magic,
                "not an SZDD compressed file (no SZDD signature)");
  if (data.size() < kHeaderSize)
    throw Error(ErrorKind::truncated_header,
                "truncated SZDD header: " + std::to_string(data.size()) +
                    " of 14 bytes");
  if (data[8] != kModeA) {
    char buf[64];
    std::snprintf(buf, sizeof buf,
                  "unsupported SZDD compression mode 0x%02X (only 'A' = 0x41)",
                  static_cast<unsigned>(data[8]));
    throw Error(ErrorKind::bad_mode, buf);
  }
  Header h;
  h.mode = data[8];
  h.last_char = data[9];
  h.expanded_size = static_cast<std::uint32_t>(data[10]) |
                    static_cast<std::uint32_t>(data[11]) << 8 |
                    static_cast<std::uint32_t>(data[12]) << 16 |
                    static_cast<std::uint32_t>(data[13]) << 24;
  return h;
}

std::array<std::uint8_t, kHeaderSize> make_header(const Header& h) {
  std::array<std::uint8_t, kHeaderSize> out{};
  std::copy(kMagic.begin(), kMagic.end(), out.begin());
  out[8] = h.mode;
  out[9] = h.last_char;
  for (int i = 0; i < 4; ++i)
    out[10 + i] = static_cast<std::uint8_t>(h.expanded_size >> (8 * i));
  return out;
}

std::string ExpandInfo::problem() const {
  const std::uint64_t want = header.expanded_size;
  const std::uint64_t tail = input_bytes - stream_end;
  std::string s;
  if (expanded < want) {
    s = "truncated data: it expands to " + std::to_string(expanded) +
        " bytes, the header names " + std::to_string(want);
    if (tail)
      s += " (the last " + std::to_string(tail) +
           " byte(s) do not form a complete item)";
  } else if (expanded > want) {
    if (size_reached_at)
      s = std::to_string(input_bytes - *size_reached_at) +
          " byte(s) after the end of the stream at offset " +
          std::to_string(*size_reached_at) + " (the header's size " +
          std::to_string(want) + " is reached there; decoding to the end of "
          "the file gives " + std::to_string(expanded) + " bytes)";
    else
      s = "the data expands to " + std::to_string(expanded) +
          " bytes, more than the header's " + std::to_string(want);
  } else if (tail) {
    s = std::to_string(tail) + " trailing byte(s) after the end of the stream at offset " +
        std::to_string(stream_end);
  }
  return s;
}

}  // namespace szdd
