// libFuzzer target: the SZDD expander on any input must neither crash nor
// read or write out of bounds (ASan, UBSan), and memory and streaming
// expansion must agree, whatever pieces the source hands over.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "szdd/szdd.hpp"

namespace {

struct PieceSource : szdd::Source {
  const std::uint8_t* d;
  std::size_t n, at = 0, step;
  PieceSource(const std::uint8_t* data, std::size_t size, std::size_t s)
      : d(data), n(size), step(s) {}
  std::size_t read(std::uint8_t* buf, std::size_t want) override {
    want = std::min({want, step, n - at});
    if (want) std::memcpy(buf, d + at, want);
    at += want;
    return want;
  }
};

struct CollectSink : szdd::Sink {
  std::vector<std::uint8_t> out;
  void write(const std::uint8_t* p, std::size_t k) override { out.insert(out.end(), p, p + k); }
};

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> in(data, size);
  bool failed = false;
  szdd::ExpandInfo mem_info;
  std::vector<std::uint8_t> mem;
  try {
    mem = szdd::expand(in, &mem_info);
  } catch (const szdd::Error&) {
    failed = true;
  }
  if (!failed) {
    check(mem.size() <= size / szdd::kMaxGroupInput * szdd::kMaxGroupOutput +
                            szdd::kMaxGroupOutput);  // bounded by the data
    check(mem_info.expanded == mem.size() && mem_info.input_bytes == size);
    check(mem_info.stream_end <= size &&
          mem_info.size_reached_at.value_or(0) <= mem_info.stream_end);
    check(mem_info.exact() == mem_info.problem().empty());
  }

  PieceSource src(data, size, 1 + (size ? data[size - 1] % 64 : 0));
  CollectSink sink;
  try {
    const szdd::ExpandInfo info = szdd::expand(src, sink);
    check(!failed && sink.out == mem && info.stream_end == mem_info.stream_end &&
          info.size_reached_at == mem_info.size_reached_at && info.exact() == mem_info.exact());
  } catch (const szdd::Error&) {
    check(failed);
  }
  return 0;
}
