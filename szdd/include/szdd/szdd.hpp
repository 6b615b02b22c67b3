// SZDD ("compress.exe" / LZ32) compressed-file format, mode "A".
//
// Layout: a 14-byte header (magic 53 5A 44 44 88 F0 27 33, mode 'A', the
// last character of the expanded file's name or 0, the expanded size as
// unsigned 32-bit little-endian), then LZSS data over a 4,096-byte ring that
// starts filled with blanks (0x20) and whose write position starts at
// 4,096 - 16.  Each flag byte covers eight items, least significant bit first:
// 1 = one literal byte, 0 = a match of two bytes b1 b2, ring position
// b1 | (b2 & 0xF0) << 4, length (b2 & 0x0F) + 3.  Matches are copied byte by
// byte, so they may refer to the initial blanks and overlap their own output.
//
// Portable: standard C++ only, no platform headers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace szdd {

inline constexpr std::array<std::uint8_t, 8> kMagic = {0x53, 0x5A, 0x44, 0x44,
                                                       0x88, 0xF0, 0x27, 0x33};
inline constexpr std::size_t kHeaderSize = 14;
inline constexpr std::uint8_t kModeA = 0x41;
inline constexpr unsigned kRingSize = 4096;
inline constexpr unsigned kRingStart = kRingSize - 16;
inline constexpr std::uint8_t kRingFill = 0x20;
inline constexpr unsigned kMinMatch = 3;
inline constexpr unsigned kMaxMatch = 18;
// Cost model of the format, in bits: every item takes one flag bit.
inline constexpr unsigned kLiteralBits = 9;
inline constexpr unsigned kMatchBits = 17;
// Largest expansion of one flag group: 1 + 8 * 2 input bytes -> 8 * 18 bytes.
inline constexpr unsigned kMaxGroupInput = 17;
inline constexpr unsigned kMaxGroupOutput = 8 * kMaxMatch;

enum class ErrorKind {
  truncated_header,  // fewer than 14 bytes
  bad_magic,         // not an SZDD file
  bad_mode,          // SZDD, but not mode "A"
  too_large,         // input of 4 GiB or more cannot be described
  output_limit,      // expansion exceeded the caller's limit
  io,                // reading or writing failed
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& what)
      : std::runtime_error(what), kind_(kind) {}
  ErrorKind kind() const noexcept { return kind_; }

 private:
  ErrorKind kind_;
};

struct Header {
  std::uint8_t mode = kModeA;
  std::uint8_t last_char = 0;  // last character of the file name, 0 = none
  std::uint32_t expanded_size = 0;
};

// Parses and validates the 14-byte header; throws Error with a clear reason.
Header parse_header(std::span<const std::uint8_t> data);
// True when data starts with the 8-byte magic (mode not checked).
bool has_magic(std::span<const std::uint8_t> data) noexcept;
std::array<std::uint8_t, kHeaderSize> make_header(const Header& h);

// ---------------------------------------------------------------- compress

struct CompressOptions {
  std::uint8_t last_char = 0;
  // Called now and then with (positions done, total work); total is
  // 2 * input size (the match pass and the output pass).
  std::function<void(std::uint64_t, std::uint64_t)> progress;
  // When set: choose the parse so that this many bytes (what precedes the
  // file in its container) plus the file's length is a multiple of 8, at the
  // smallest size above the optimum that allows it.  Nothing is ever added
  // behind the stream: a decoder would take it for more data.
  std::optional<std::uint64_t> align_after;
};

struct CompressStats {
  std::uint64_t input_bytes = 0;
  std::uint64_t literals = 0;
  std::uint64_t matches = 0;
  std::uint64_t optimum_bits = 0;   // cost model's minimum: 9/literal, 17/match
  std::uint64_t optimum_bytes = 0;  // header + ceil(optimum_bits / 8)
  std::uint64_t output_bytes = 0;   // what was actually written
  // With align_after: false when no parse of the input has a fitting length
  // (tiny inputs); the output is then the optimum.
  bool aligned = false;
};

// Optimal parse: the output is the smallest SZDD mode "A" file for `input`.
std::vector<std::uint8_t> compress(std::span<const std::uint8_t> input,
                                   const CompressOptions& options = {},
                                   CompressStats* stats = nullptr);

// The longest match (length 0 when below 3, else 3..18) at every position of
// `input`, as the format allows it (4,096-byte window over the blank-filled
// ring).  Exposed for tests.
std::vector<std::uint8_t> longest_matches(std::span<const std::uint8_t> input);

// ---------------------------------------------------------------- expand

// What expansion found.  Like Windows' LZ32, expansion decodes to the end of
// the input and ignores the header's size; these fields tell how the stream
// relates to that size.
struct ExpandInfo {
  Header header;
  std::uint64_t input_bytes = 0;  // whole file, header included
  std::uint64_t expanded = 0;     // bytes produced
  // File offset just after the last complete item (header size if none).
  std::uint64_t stream_end = kHeaderSize;
  // File offset just after the item with which the output first reached
  // exactly header.expanded_size (nullopt if it never did at an item end).
  std::optional<std::uint64_t> size_reached_at;

  // True when the data expands to exactly the header's size and nothing
  // follows the stream.
  bool exact() const noexcept {
    return expanded == header.expanded_size && stream_end == input_bytes &&
           size_reached_at == input_bytes;
  }
  // Empty when exact(), else the reason in words.
  std::string problem() const;
};

struct ExpandOptions {
  // Stop with ErrorKind::output_limit beyond this many bytes (0 = no limit).
  std::uint64_t max_output = 0;
  std::function<void(std::uint64_t, std::uint64_t)> progress;  // (in, total)
};

// Memory to memory.  Memory use is bounded by the real input, never by the
// header's claim.
std::vector<std::uint8_t> expand(std::span<const std::uint8_t> file,
                                 ExpandInfo* info = nullptr,
                                 const ExpandOptions& options = {});

// Streaming interfaces for file to file expansion in bounded memory.
class Source {
 public:
  virtual ~Source() = default;
  // Up to n bytes; 0 only at the end.  Throws on failure.
  virtual std::size_t read(std::uint8_t* buf, std::size_t n) = 0;
};
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void write(const std::uint8_t* data, std::size_t n) = 0;
};

// Expands from source to sink with a fixed amount of memory (about 132 KiB).
// `total_input` is used only for progress reports (0 = unknown).
ExpandInfo expand(Source& source, Sink& sink, const ExpandOptions& options = {},
                  std::uint64_t total_input = 0);

// File to file through <cstdio>; throws Error(io) naming the file.
ExpandInfo expand_file(const std::string& in_path, const std::string& out_path,
                       const ExpandOptions& options = {});

}  // namespace szdd
