// Our output against Windows' own LZ32, under Wine, through the lz32-expand
// oracle of the windows build.
#include "crosscheck.hpp"

using namespace testutil;

namespace {

// Expands IN into OUT with LZ32; the oracle's exit code.
int lz32_expand(const fs::path& in, const fs::path& out, const fs::path& scratch) {
  const std::string oracle = std::string(HALVEX_WINDOWS_BUILD) + "/tests/windows/lz32-expand.exe";
  EXPECT_TRUE(fs::exists(oracle)) << oracle << " is missing: build the windows preset first";
  const RunResult r = run(std::string(HALVEX_SOURCE_DIR) + "/tools/wine-run.sh " + quote(oracle) +
                              " " + quote(in.string()) + " " + quote(out.string()),
                          scratch);
  EXPECT_EQ(r.code, 0) << in << r.err;
  return r.code;
}

}  // namespace

TEST_F(CrossCheck, WineLz32) {
  for (const auto& [s, p] : files) {
    const fs::path out = dir / (s.name + ".lz32");
    ASSERT_EQ(lz32_expand(p, out, dir.path()), 0) << s.name;
    EXPECT_EQ(read(out), s.data) << s.name;
  }
}

TEST_F(CrossCheck, WineLz32DecodesToTheEndOfTheInput) {
  for (const Bytes& f : streams_not_ending_at_their_size()) {
    write(dir / "odd.sz", f);
    ASSERT_EQ(lz32_expand(dir / "odd.sz", dir / "w", dir.path()), 0);
    EXPECT_EQ(read(dir / "w"), szdd::expand(f));
  }
}
