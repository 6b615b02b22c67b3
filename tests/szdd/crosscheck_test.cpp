// Our output against the other implementations of the format: Windows' LZ32
// under Wine (through the lz32-expand oracle of the windows build), Debian's
// msexpand, libmspack; and its size against mscompress.
#include <mspack.h>

#include "szdd/szdd.hpp"
#include "test_util.hpp"

using namespace testutil;

namespace {

struct Sample {
  std::string name;
  Bytes data;
};

// The edge inputs of the issue and real binaries.
std::vector<Sample> samples() {
  std::vector<Sample> s = {
      {"empty", {}},
      {"one", {'x'}},
      {"seventeen", random_bytes(17, 1)},
      {"blanks", Bytes(5000, ' ')},
      {"ring4096", random_bytes(4096, 2, 3)},
      {"r65536", random_bytes(65536, 3, 5)},
      {"zeros", Bytes(100000, 0)},
      {"random", random_bytes(100000, 4)},
  };
  Bytes abc;
  for (int i = 0; i < 70000; ++i) abc.push_back(static_cast<std::uint8_t>("abcab"[i % 5]));
  s.push_back({"runs", abc});
  s.push_back({"oledb32", read(wine_dll("oledb32.dll"))});
  return s;
}

std::string lz32_oracle() {
  return std::string(HALVEX_WINDOWS_BUILD) + "/tests/windows/lz32-expand.exe";
}

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

class CrossCheck : public ::testing::Test {
 protected:
  TempDir dir;
  std::vector<std::pair<Sample, fs::path>> files;  // sample, its SZDD file
  void SetUp() override {
    for (auto& s : samples()) {
      ASSERT_FALSE(s.name == "oledb32" && s.data.empty()) << "wine32's DLLs are missing";
      const fs::path p = dir / (s.name + ".sz");
      write(p, szdd::compress(s.data));
      files.emplace_back(std::move(s), p);
    }
  }
};

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

TEST_F(CrossCheck, WineLz32) {
  ASSERT_TRUE(fs::exists(lz32_oracle()))
      << lz32_oracle() << " is missing: build the windows preset first";
  for (const auto& [s, p] : files) {
    const fs::path out = dir / (s.name + ".lz32");
    const testutil::RunResult r = run(std::string(HALVEX_SOURCE_DIR) + "/tools/wine-run.sh " +
                          quote(lz32_oracle()) + " " + quote(p.string()) + " " + quote(out.string()),
                      dir.path());
    ASSERT_EQ(r.code, 0) << s.name << r.err;
    EXPECT_EQ(read(out), s.data) << s.name;
  }
}

// The compatibility facts that expand and extract build on: all three
// decode to the end of the input, whatever the header says.
TEST_F(CrossCheck, AllDecodeToTheEndOfTheInput) {
  Bytes base = szdd::compress(random_bytes(30000, 5, 4));
  Bytes longer = base;
  const Bytes junk = {0xFF, 'j', 'u', 'n', 'k', 0x00, 0x10};
  longer.insert(longer.end(), junk.begin(), junk.end());
  const Bytes cut(base.begin(), base.end() - 101);
  for (const Bytes& f : {longer, cut}) {
    write(dir / "odd.sz", f);
    const Bytes ours = szdd::expand(f);
    ASSERT_EQ(run("msexpand < " + quote((dir / "odd.sz").string()) + " > " +
                      quote((dir / "m").string()), dir.path()).code, 0);
    EXPECT_EQ(read(dir / "m"), ours);
    ASSERT_TRUE(mspack_expand(dir / "odd.sz", dir / "l"));
    EXPECT_EQ(read(dir / "l"), ours);
    if (fs::exists(lz32_oracle())) {
      ASSERT_EQ(run(std::string(HALVEX_SOURCE_DIR) + "/tools/wine-run.sh " + quote(lz32_oracle()) +
                        " " + quote((dir / "odd.sz").string()) + " " + quote((dir / "w").string()),
                    dir.path()).code, 0);
      EXPECT_EQ(read(dir / "w"), ours);
    }
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
