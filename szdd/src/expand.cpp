// Expansion of SZDD mode "A" data, as LZ32 does it: decode to the end of the
// input, ignoring the header's size; an item cut off by the end of the input
// produces nothing.  The output buffer is the ring: it keeps 4,096 bytes of
// history in front of the new bytes (blanks at first), so a match copies from
// `pos - distance` and never leaves the buffer.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "szdd/szdd.hpp"

namespace szdd {
namespace {

constexpr std::size_t kStreamBuffer = 64 * 1024;

class Decoder {
 public:
  Decoder(const Header& h, std::uint64_t header_end)
      : want_(h.expanded_size) {
    if (want_ == 0) size_reached_at_ = header_end;
  }

  // Output buffer management: buf_[0, kRingSize) is history; bytes
  // [emit_from_, pos_) are new and not yet handed out.
  std::vector<std::uint8_t> buf_;
  std::size_t pos_ = kRingSize;
  std::size_t emit_from_ = kRingSize;

  void init(std::size_t capacity) {
    buf_.assign(kRingSize + capacity, kRingFill);
  }

  // Decodes whole flag groups from in[0, n).  When !final, stops before a
  // group that might not be complete in this piece (fewer than 17 bytes
  // left).  `offset` is the file offset of in[0].  Returns bytes consumed.
  // `room` is called before each group and must leave at least 144 bytes of
  // space after pos_.
  template <class Room>
  std::size_t run(const std::uint8_t* in, std::size_t n, bool final,
                  std::uint64_t offset, Room&& room) {
    std::size_t i = 0;
    while (i < n && (final || n - i >= kMaxGroupInput)) {
      room();
      std::uint8_t* out = buf_.data();
      std::size_t pos = pos_;
      unsigned flags = in[i++];
      for (int k = 0; k < 8; ++k, flags >>= 1) {
        if (flags & 1) {
          if (i >= n) return cut(pos, n);
          out[pos++] = in[i++];
          ring_ = (ring_ + 1) & 0xFFF;
          ++total_;
        } else {
          if (n - i < 2) return cut(pos, n);
          const unsigned b1 = in[i], b2 = in[i + 1];
          i += 2;
          const unsigned src = b1 | (b2 & 0xF0u) << 4;
          const unsigned len = (b2 & 0x0Fu) + kMinMatch;
          const std::size_t dist = ((ring_ - src - 1) & 0xFFF) + 1;  // 1..4096
          const std::uint8_t* from = out + pos - dist;
          std::uint8_t* to = out + pos;
          if (dist >= len) {
            std::memcpy(to, from, len);
          } else {
            for (unsigned j = 0; j < len; ++j) to[j] = from[j];
          }
          pos += len;
          ring_ = (ring_ + len) & 0xFFF;
          total_ += len;
        }
        stream_end_ = offset + i;
        if (total_ == want_ && !size_reached_at_) size_reached_at_ = offset + i;
      }
      pos_ = pos;
      if (limit_ && total_ > limit_)
        throw Error(ErrorKind::output_limit,
                    "expansion exceeds the limit of " + std::to_string(limit_) +
                        " bytes");
    }
    return i;
  }

  // The input ends inside an item: LZ32 stops there and so do we.
  std::size_t cut(std::size_t pos, std::size_t n) {
    pos_ = pos;
    return n;
  }

  void fill(ExpandInfo& info) const {
    info.expanded = total_;
    info.stream_end = stream_end_;
    info.size_reached_at = size_reached_at_;
  }

  std::uint64_t total_ = 0;
  std::uint64_t limit_ = 0;
  std::uint64_t want_;
  std::uint64_t stream_end_ = kHeaderSize;
  std::optional<std::uint64_t> size_reached_at_;
  unsigned ring_ = kRingStart;
};

}  // namespace

std::vector<std::uint8_t> expand(std::span<const std::uint8_t> file,
                                 ExpandInfo* info_out,
                                 const ExpandOptions& options) {
  ExpandInfo info;
  info.header = parse_header(file);
  info.input_bytes = file.size();
  const std::uint8_t* data = file.data() + kHeaderSize;
  const std::size_t n = file.size() - kHeaderSize;

  Decoder d(info.header, kHeaderSize);
  d.limit_ = options.max_output;
  // The real data bounds the output (at most 144 bytes per 17 input bytes);
  // the header's claim only helps to size the first allocation.
  const std::uint64_t bound = n / kMaxGroupInput * kMaxGroupOutput + kMaxGroupOutput;
  std::uint64_t first = std::min<std::uint64_t>(info.header.expanded_size, bound);
  if (d.limit_) first = std::min<std::uint64_t>(first, d.limit_);
  d.init(static_cast<std::size_t>(first) + 2 * kMaxGroupOutput);

  const std::size_t step = 1 << 20;
  auto room = [&] {
    if (d.buf_.size() - d.pos_ < kMaxGroupOutput)
      d.buf_.resize(d.buf_.size() + std::max<std::size_t>(d.buf_.size() / 2, 4096));
  };
  for (std::size_t done = 0;;) {
    const std::size_t end = std::min(n, done + step);
    const bool final = end == n;
    done += d.run(data + done, end - done, final, kHeaderSize + done, room);
    if (final) break;
    if (options.progress) options.progress(kHeaderSize + done, file.size());
  }
  d.fill(info);
  std::vector<std::uint8_t> out = std::move(d.buf_);
  out.resize(d.pos_);
  out.erase(out.begin(), out.begin() + kRingSize);
  if (info_out) *info_out = info;
  return out;
}

ExpandInfo expand(Source& source, Sink& sink, const ExpandOptions& options,
                  std::uint64_t total_input) {
  ExpandInfo info;
  std::vector<std::uint8_t> in(kStreamBuffer);
  std::size_t have = 0;
  bool eof = false;
  auto refill = [&] {
    while (!eof && have < in.size()) {
      const std::size_t got = source.read(in.data() + have, in.size() - have);
      if (got == 0) eof = true;
      have += got;
    }
  };
  refill();
  info.header = parse_header(std::span(in.data(), have));
  std::uint64_t offset = kHeaderSize;  // file offset of in[kHeaderSize... ]
  std::size_t start = kHeaderSize;

  Decoder d(info.header, kHeaderSize);
  d.limit_ = options.max_output;
  d.init(kStreamBuffer);
  auto flush = [&] {
    sink.write(d.buf_.data() + d.emit_from_, d.pos_ - d.emit_from_);
    std::memmove(d.buf_.data(), d.buf_.data() + d.pos_ - kRingSize, kRingSize);
    d.pos_ = d.emit_from_ = kRingSize;
  };
  auto room = [&] {
    if (d.buf_.size() - d.pos_ < kMaxGroupOutput) flush();
  };
  for (;;) {
    const std::size_t used = d.run(in.data() + start, have - start, eof, offset, room);
    offset += used;
    start += used;
    if (eof) break;
    // Keep the unfinished tail, read more.
    std::memmove(in.data(), in.data() + start, have - start);
    have -= start;
    start = 0;
    refill();
    if (options.progress) options.progress(offset, total_input);
  }
  sink.write(d.buf_.data() + d.emit_from_, d.pos_ - d.emit_from_);
  info.input_bytes = offset + (have - start);
  d.fill(info);
  return info;
}

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

class FileSource : public Source {
 public:
  FileSource(std::FILE* f, std::string name) : f_(f), name_(std::move(name)) {}
  std::size_t read(std::uint8_t* buf, std::size_t n) override {
    const std::size_t got = std::fread(buf, 1, n, f_);
    if (got < n && std::ferror(f_))
      throw Error(ErrorKind::io, name_ + ": read failed: " + std::strerror(errno));
    return got;
  }

 private:
  std::FILE* f_;
  std::string name_;
};

class FileSink : public Sink {
 public:
  FileSink(std::FILE* f, std::string name) : f_(f), name_(std::move(name)) {}
  void write(const std::uint8_t* data, std::size_t n) override {
    if (n && std::fwrite(data, 1, n, f_) != n)
      throw Error(ErrorKind::io, name_ + ": write failed: " + std::strerror(errno));
  }

 private:
  std::FILE* f_;
  std::string name_;
};

}  // namespace

ExpandInfo expand_file(const std::string& in_path, const std::string& out_path,
                       const ExpandOptions& options) {
  File in(std::fopen(in_path.c_str(), "rb"));
  if (!in) throw Error(ErrorKind::io, in_path + ": cannot open: " + std::strerror(errno));
  File out(std::fopen(out_path.c_str(), "wb"));
  if (!out)
    throw Error(ErrorKind::io, out_path + ": cannot create: " + std::strerror(errno));
  FileSource src(in.get(), in_path);
  FileSink dst(out.get(), out_path);
  ExpandInfo info = expand(src, dst, options);
  if (std::fclose(out.release()) != 0)
    throw Error(ErrorKind::io, out_path + ": write failed: " + std::strerror(errno));
  return info;
}

}  // namespace szdd
