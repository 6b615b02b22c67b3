// The SZDD codec on its own: header, round trips on the edge inputs,
// optimality against a brute-force parse, and the expander's safety.
#include <algorithm>
#include <cstring>

#include "szdd/szdd.hpp"
#include "test_util.hpp"

using namespace testutil;

namespace {

Bytes roundtrip(const Bytes& in, szdd::CompressStats* st = nullptr) {
  szdd::CompressStats local;
  const Bytes c = szdd::compress(in, {}, st ? st : &local);
  szdd::ExpandInfo info;
  const Bytes out = szdd::expand(c, &info);
  EXPECT_TRUE(info.exact()) << info.problem();
  EXPECT_EQ(out, in);
  EXPECT_EQ((st ? st : &local)->output_bytes, c.size());
  EXPECT_EQ((st ? st : &local)->optimum_bytes, c.size());
  return c;
}

// Longest match at every position by brute force over the ring model:
// output index j < 0 is an initial blank, distances 1..4096.
std::vector<std::uint8_t> brute_longest(const Bytes& in) {
  auto at = [&](long j) -> int { return j < 0 ? 0x20 : in[static_cast<std::size_t>(j)]; };
  const long n = static_cast<long>(in.size());
  std::vector<std::uint8_t> len(in.size(), 0);
  for (long i = 0; i < n; ++i) {
    const long limit = std::min<long>(18, n - i);
    long best = 0;
    for (long d = 1; d <= 4096 && best < limit; ++d) {
      long k = 0;
      while (k < limit && at(i - d + k) == in[static_cast<std::size_t>(i + k)]) ++k;
      best = std::max(best, k);
    }
    len[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(best >= 3 ? best : 0);
  }
  return len;
}

// Minimum size in bits over all parses, by plain forward dynamic programming.
std::uint64_t brute_optimum_bits(const Bytes& in) {
  const auto len = brute_longest(in);
  const std::size_t n = in.size();
  std::vector<std::uint64_t> cost(n + 1, UINT64_MAX);
  cost[0] = 0;
  for (std::size_t i = 0; i < n; ++i) {
    cost[i + 1] = std::min(cost[i + 1], cost[i] + 9);
    for (unsigned k = 3; k <= len[i]; ++k) cost[i + k] = std::min(cost[i + k], cost[i] + 17);
  }
  return cost[n];
}

Bytes header_with(std::uint32_t size, const Bytes& data) {
  szdd::Header h;
  h.expanded_size = size;
  const auto hdr = szdd::make_header(h);
  Bytes f(hdr.begin(), hdr.end());
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

}  // namespace

TEST(SzddHeader, ParsesAndRejectsWithReasons) {
  const Bytes good = header_with(1087171, {});
  EXPECT_EQ(szdd::parse_header(good).expanded_size, 1087171u);
  EXPECT_EQ(Bytes(good.begin(), good.begin() + 10),
            (Bytes{0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33, 0x41, 0x00}));
  EXPECT_EQ(Bytes(good.begin() + 10, good.end()), (Bytes{0xC3, 0x96, 0x10, 0x00}));

  auto kind = [](const Bytes& b) {
    try {
      szdd::parse_header(b);
    } catch (const szdd::Error& e) {
      return e.kind();
    }
    return szdd::ErrorKind::io;  // stands for "accepted"
  };
  EXPECT_EQ(kind({}), szdd::ErrorKind::bad_magic);
  EXPECT_EQ(kind(text_of("MZ\x90")), szdd::ErrorKind::bad_magic);
  EXPECT_EQ(kind(Bytes(good.begin(), good.begin() + 13)), szdd::ErrorKind::truncated_header);
  EXPECT_EQ(kind(Bytes(good.begin(), good.begin() + 5)), szdd::ErrorKind::truncated_header);
  Bytes mode_b = good;
  mode_b[8] = 'B';
  EXPECT_EQ(kind(mode_b), szdd::ErrorKind::bad_mode);
  Bytes kwaj = good;
  kwaj[0] = 'K';
  EXPECT_EQ(kind(kwaj), szdd::ErrorKind::bad_magic);
  try {
    szdd::parse_header(mode_b);
  } catch (const szdd::Error& e) {
    EXPECT_NE(std::string(e.what()).find("0x42"), std::string::npos) << e.what();
  }
}

TEST(SzddRoundTrip, EdgeInputs) {
  EXPECT_EQ(roundtrip({}).size(), 14u);  // header only
  EXPECT_EQ(roundtrip({0x41}).size(), 16u);
  roundtrip(random_bytes(17, 1));
  roundtrip(random_bytes(4096, 2));
  roundtrip(random_bytes(4096, 3, 4));
  roundtrip(random_bytes(65536, 4, 3));
  roundtrip(random_bytes(65536, 5));
  roundtrip(random_bytes(4097, 6, 2));
  for (std::size_t n : {1, 2, 3, 15, 16, 18, 19, 4095, 4110, 4111, 4112, 8191})
    roundtrip(Bytes(n, 0x20)), roundtrip(Bytes(n, 0)), roundtrip(random_bytes(n, 7 + n, 5));
}

TEST(SzddRoundTrip, LongOverlappingRuns) {
  szdd::CompressStats st;
  const Bytes zeros(200000, 0);
  roundtrip(zeros, &st);
  // A literal, then matches of 18 overlapping their own output.
  EXPECT_LE(st.literals, 2u);
  EXPECT_LE(st.matches, (200000 - 1 + 17) / 18);
  Bytes ab;
  for (int i = 0; i < 100000; ++i) ab.push_back(i % 2 ? 'b' : 'a');
  roundtrip(ab, &st);
  EXPECT_LE(st.literals, 3u);
  Bytes period7;
  for (int i = 0; i < 50000; ++i) period7.push_back(static_cast<std::uint8_t>("abcdefg"[i % 7]));
  roundtrip(period7);
}

TEST(SzddRoundTrip, DataStartingWithBlanksMatchesTheRing) {
  szdd::CompressStats st;
  const Bytes c = roundtrip(Bytes(18, ' '), &st);
  EXPECT_EQ(st.literals, 0u);  // one match into the pre-filled ring
  EXPECT_EQ(st.matches, 1u);
  EXPECT_EQ(c.size(), 14u + 1 + 2);
  Bytes b(5000, ' ');
  const Bytes tail = random_bytes(3000, 8);
  b.insert(b.end(), tail.begin(), tail.end());
  roundtrip(b, &st);
  EXPECT_LE(st.literals, 3000u);  // every blank comes from a match
}

TEST(SzddRoundTrip, RandomAndText) {
  roundtrip(random_bytes(300000, 9));
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "Line " + std::to_string(i * 7919 % 1000) + " of the setup log.\n";
  roundtrip(text_of(text));
}

TEST(SzddRoundTrip, RealBinaries) {
  for (const char* name : {"comdlg32.dll", "oledb32.dll"}) {
    const Bytes in = read(wine_dll(name));
    ASSERT_GT(in.size(), 500000u) << wine_dll(name) << " missing (Debian package wine32)";
    const Bytes c = roundtrip(in);
    EXPECT_LT(c.size(), in.size() / 2);
  }
}

TEST(SzddOptimal, MatchFinderIsExact) {
  for (std::uint32_t seed = 0; seed < 6; ++seed) {
    Bytes in = random_bytes(seed < 3 ? 700 : 6000, seed, seed % 3 + 2);
    if (seed == 4) std::fill(in.begin(), in.begin() + 100, ' ');
    EXPECT_EQ(szdd::longest_matches(in), brute_longest(in)) << "seed " << seed;
  }
}

TEST(SzddOptimal, EqualsBruteForceOptimum) {
  for (std::uint32_t seed = 0; seed < 40; ++seed) {
    Bytes in = random_bytes(50 + seed * 10, seed, seed % 4 + 2);
    if (seed % 5 == 0) in.insert(in.begin(), seed, ' ');
    szdd::CompressStats st;
    const Bytes c = roundtrip(in, &st);
    const std::uint64_t bits = brute_optimum_bits(in);
    EXPECT_EQ(st.optimum_bits, bits) << "seed " << seed;
    EXPECT_EQ(c.size(), 14 + (bits + 7) / 8) << "seed " << seed;
  }
}

TEST(SzddExpand, DecodesToTheEndLikeLz32) {
  const Bytes in = random_bytes(20000, 10, 6);
  const Bytes c = szdd::compress(in);
  // Every cut gives a prefix of the data: a cut item gives nothing.
  for (std::size_t cut = 14; cut < c.size(); cut += 37) {
    szdd::ExpandInfo info;
    const Bytes out = szdd::expand(std::span(c.data(), cut), &info);
    ASSERT_LE(out.size(), in.size());
    EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin()));
    EXPECT_FALSE(info.exact());
    EXPECT_NE(info.problem().find("truncated"), std::string::npos) << info.problem();
  }
  // Bytes after the stream become junk output (they continue the last flag
  // group), and are reported.
  Bytes junk = c;
  junk.push_back(0xFF);
  junk.push_back('X');
  junk.push_back('Y');
  szdd::ExpandInfo info;
  const Bytes out = szdd::expand(junk, &info);
  EXPECT_GT(out.size(), in.size());
  EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin()));
  EXPECT_EQ(info.size_reached_at, c.size());
  EXPECT_NE(info.problem().find("after the end of the stream"), std::string::npos) << info.problem();
  // The same after a stream whose last flag group is full: then the first
  // junk byte is a flag byte.
  Bytes full = szdd::compress(text_of("abcdefgh"));  // flag byte and 8 literals
  ASSERT_EQ(full.size(), 14u + 9);
  full.push_back(0x01);
  full.push_back('X');
  EXPECT_EQ(szdd::expand(full, &info), text_of("abcdefghX"));
  // A lone flag byte there: same output, still not exact.
  full.pop_back();
  EXPECT_EQ(szdd::expand(full, &info), text_of("abcdefgh"));
  EXPECT_FALSE(info.exact());
  EXPECT_NE(info.problem().find("trailing"), std::string::npos) << info.problem();
}

TEST(SzddExpand, MemoryIsBoundedByTheData) {
  // The header claims 4 GiB - 1; the data makes 3 bytes.
  const Bytes f = header_with(0xFFFFFFFFu, {0x07, 'a', 'b', 'c'});
  szdd::ExpandInfo info;
  EXPECT_EQ(szdd::expand(f, &info), text_of("abc"));
  EXPECT_NE(info.problem().find("truncated"), std::string::npos);
  // Matches only: 144 bytes for every 17, never more.
  Bytes m;
  for (int g = 0; g < 1000; ++g) {
    m.push_back(0);
    for (int k = 0; k < 8; ++k) m.push_back(0xF0), m.push_back(0xFF);
  }
  EXPECT_EQ(szdd::expand(header_with(0, m)).size(), 144000u);
  szdd::ExpandOptions lim;
  lim.max_output = 10000;
  EXPECT_THROW(szdd::expand(header_with(0, m), nullptr, lim), szdd::Error);
}

TEST(SzddExpand, MatchesReadTheBlankRingAndWrap) {
  // Ring position 0xFF0 is where writing starts: the literal lands there;
  // a match from 0xFE0 gives three initial blanks, and a match of 5 from
  // 0xFF0 reads its own first byte back (overlap).
  const Bytes f = header_with(0, {0x01, 'Q', 0xE0, 0xF0, 0xF0, 0xF2});
  EXPECT_EQ(szdd::expand(f), text_of("Q   Q   Q"));
}

namespace {
struct ChunkSource : szdd::Source {
  const Bytes& d;
  std::size_t at = 0, step;
  ChunkSource(const Bytes& data, std::size_t s) : d(data), step(s) {}
  std::size_t read(std::uint8_t* buf, std::size_t n) override {
    n = std::min({n, step, d.size() - at});
    std::memcpy(buf, d.data() + at, n);
    at += n;
    return n;
  }
};
struct VecSink : szdd::Sink {
  Bytes out;
  void write(const std::uint8_t* p, std::size_t n) override { out.insert(out.end(), p, p + n); }
};
}  // namespace

TEST(SzddExpand, StreamingEqualsMemory) {
  const Bytes in = random_bytes(700000, 11, 5);
  Bytes c = szdd::compress(in);
  c.push_back(0x00);  // a trailing partial item
  c.push_back(0x12);
  szdd::ExpandInfo mem_info;
  const Bytes mem = szdd::expand(c, &mem_info);
  for (std::size_t step : {1u, 7u, 4096u, 1u << 20}) {
    ChunkSource src(c, step);
    VecSink sink;
    const szdd::ExpandInfo info = szdd::expand(src, sink);
    EXPECT_EQ(sink.out, mem) << step;
    EXPECT_EQ(info.expanded, mem_info.expanded);
    EXPECT_EQ(info.stream_end, mem_info.stream_end);
    EXPECT_EQ(info.size_reached_at, mem_info.size_reached_at);
    EXPECT_EQ(info.input_bytes, c.size());
  }
  EXPECT_TRUE(std::equal(in.begin(), in.end(), mem.begin()));
  EXPECT_FALSE(mem_info.exact());
}

TEST(SzddExpand, FileToFile) {
  TempDir dir;
  const Bytes in = random_bytes(300000, 12, 7);
  write(dir / "a.sz", szdd::compress(in));
  const auto info = szdd::expand_file((dir / "a.sz").string(), (dir / "a").string());
  EXPECT_TRUE(info.exact());
  EXPECT_EQ(read(dir / "a"), in);
  EXPECT_THROW(szdd::expand_file((dir / "missing").string(), (dir / "b").string()), szdd::Error);
}

// The aligned parse: the file, behind `before` bytes, ends on a multiple of
// 8, it is the smallest such file (no parse is below the optimum, so the
// least size with the right remainder is the optimum's size rounded up to
// it), and it still expands to the input with nothing after the stream.
TEST(SzddAligned, SmallestFileOfEachRemainder) {
  const std::vector<Bytes> inputs = {
      random_bytes(40000, 3, 4), random_bytes(300000, 4, 16),
      text_of(std::string(5000, 'a') + "The quick brown fox jumps over the lazy dog. " +
              std::string(700, ' ')),
      read(wine_dll("kernel32.dll"))};
  for (const Bytes& input : inputs) {
    ASSERT_FALSE(input.empty());
    for (std::uint64_t before = 23552 + 13; before < 23552 + 13 + 8; ++before) {
      szdd::CompressOptions options;
      options.align_after = before;
      szdd::CompressStats stats;
      const Bytes file = szdd::compress(input, options, &stats);
      const std::uint64_t least =
          stats.optimum_bytes + (8 - (before + stats.optimum_bytes) % 8) % 8;
      SCOPED_TRACE(testing::Message() << input.size() << " bytes behind " << before);
      EXPECT_TRUE(stats.aligned);
      EXPECT_EQ((before + file.size()) % 8, 0u);
      EXPECT_EQ(file.size(), least);
      EXPECT_EQ(stats.output_bytes, file.size());
      szdd::ExpandInfo info;
      EXPECT_EQ(szdd::expand(file, &info), input);
      EXPECT_TRUE(info.exact()) << info.problem();
    }
  }
}

TEST(SzddAligned, InputsWithoutAFittingParseKeepTheOptimum) {
  // One byte has one parse only: a flag byte and a literal.
  for (std::uint64_t before = 0; before < 8; ++before) {
    szdd::CompressOptions options;
    options.align_after = before;
    szdd::CompressStats stats;
    const Bytes file = szdd::compress(text_of("x"), options, &stats);
    EXPECT_EQ(file.size(), szdd::kHeaderSize + 2);
    EXPECT_EQ(stats.aligned, (before + file.size()) % 8 == 0);
  }
}
