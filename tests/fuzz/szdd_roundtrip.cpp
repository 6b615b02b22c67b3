// libFuzzer target: any input through the compressor must expand back to
// itself, exactly, and be as small as the compressor's cost model says.
// Slow (an optimal parse per input), so it runs apart from the expander's
// target.
#include <cstdlib>

#include "szdd/szdd.hpp"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> in(data, size);
  szdd::CompressStats st;
  const auto packed = szdd::compress(in, {}, &st);
  szdd::ExpandInfo info;
  check(szdd::expand(packed, &info) == std::vector<std::uint8_t>(data, data + size));
  check(info.exact() && packed.size() == st.optimum_bytes);
  return 0;
}
