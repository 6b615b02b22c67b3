// Our output against the other implementations of the format on this host:
// Debian's msexpand and libmspack; and its size against mscompress. Windows'
// own LZ32 is checked under Wine, in lz32_crosscheck_test.cpp.
#include <mspack.h>

#include "crosscheck.hpp"

using namespace testutil;

namespace {

// libmspack's SZDD decompressor, file to file.
bool mspack_expand(const fs::path& in, const fs::path& out) {
  msszdd_decompressor* d = mspack_create_szdd_decompressor(nullptr);
  if (!d) return false;
  msszddd_header* h = d->open(d, const_cast<char*>(in.c_str()));
  bool ok = false;
  if (h) {
    ok = d->extract(d, h, const_cast<char*>(out.c_str())) == MSPACK_ERR_OK;
    d->close(d, h);
  }
  mspack_destroy_szdd_decompressor(d);
  return ok;
}

}  // namespace

TEST_F(CrossCheck, Msexpand) {
  for (const auto& [s, p] : files) {
    const testutil::RunResult r = run("msexpand < " + quote(p.string()) + " > " + quote((dir / "out").string()), dir.path());
    ASSERT_EQ(r.code, 0) << s.name << r.err;
    EXPECT_EQ(read(dir / "out"), s.data) << s.name;
  }
}

TEST_F(CrossCheck, Libmspack) {
  for (const auto& [s, p] : files) {
    ASSERT_TRUE(mspack_expand(p, dir / "out")) << s.name;
    EXPECT_EQ(read(dir / "out"), s.data) << s.name;
  }
}

// The compatibility facts that expand and extract build on: all three
// decode to the end of the input, whatever the header says.
TEST_F(CrossCheck, AllDecodeToTheEndOfTheInput) {
  for (const Bytes& f : streams_not_ending_at_their_size()) {
    write(dir / "odd.sz", f);
    const Bytes ours = szdd::expand(f);
    ASSERT_EQ(run("msexpand < " + quote((dir / "odd.sz").string()) + " > " +
                      quote((dir / "m").string()), dir.path()).code, 0);
    EXPECT_EQ(read(dir / "m"), ours);
    ASSERT_TRUE(mspack_expand(dir / "odd.sz", dir / "l"));
    EXPECT_EQ(read(dir / "l"), ours);
  }
}

// Never larger than mscompress (which is wrong below 16 bytes: not used there),
// and our expander reads what mscompress writes.
TEST_F(CrossCheck, NeverLargerThanMscompress) {
  for (const auto& [s, p] : files) {
    if (s.data.size() < 16) continue;
    const fs::path in = dir / s.name;
    write(in, s.data);
    ASSERT_EQ(run("mscompress " + quote(in.string()), dir.path()).code, 0) << s.name;
    const Bytes theirs = read(in.string() + "_");
    ASSERT_GE(theirs.size(), 14u);
    EXPECT_LE(fs::file_size(p), theirs.size()) << s.name;
    EXPECT_EQ(szdd::expand(theirs), s.data) << s.name;
  }
}
