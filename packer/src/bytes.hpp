// Byte strings, little-endian fields in them, and the refusal of data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace halvex {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Refusal of the data itself (as opposed to an I/O failure).
class InvalidData : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline std::uint32_t u16(ByteView d, std::size_t at) {
  return static_cast<std::uint32_t>(d[at] | d[at + 1] << 8);
}
inline std::uint32_t u32(ByteView d, std::size_t at) {
  return u16(d, at) | u16(d, at + 2) << 16;
}
inline void put16(Bytes& d, std::size_t at, std::uint32_t v) {
  d[at] = static_cast<std::uint8_t>(v);
  d[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(Bytes& d, std::size_t at, std::uint32_t v) {
  put16(d, at, v & 0xFFFF);
  put16(d, at + 2, v >> 16);
}
inline void append16(Bytes& d, std::uint32_t v) {
  d.resize(d.size() + 2);
  put16(d, d.size() - 2, v);
}
inline void append32(Bytes& d, std::uint32_t v) {
  d.resize(d.size() + 4);
  put32(d, d.size() - 4, v);
}
inline std::size_t align_up(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

}  // namespace halvex
