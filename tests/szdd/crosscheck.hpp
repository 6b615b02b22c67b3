// The inputs that the SZDD output is checked on against the other
// implementations of the format.
#pragma once

#include "szdd/szdd.hpp"
#include "test_util.hpp"

namespace testutil {

struct Sample {
  std::string name;
  Bytes data;
};

// The edge inputs and a real binary.
inline std::vector<Sample> crosscheck_samples() {
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

// Each sample with its SZDD file, written by our compressor.
class CrossCheck : public ::testing::Test {
 protected:
  TempDir dir;
  std::vector<std::pair<Sample, fs::path>> files;
  void SetUp() override {
    for (auto& s : crosscheck_samples()) {
      ASSERT_FALSE(s.name == "oledb32" && s.data.empty()) << "wine32's DLLs are missing";
      const fs::path p = dir / (s.name + ".sz");
      write(p, szdd::compress(s.data));
      files.emplace_back(std::move(s), p);
    }
  }
};

// Streams that do not end where their header says: one followed by other
// bytes, one cut short. Every decoder reads to the end of its input.
inline std::vector<Bytes> streams_not_ending_at_their_size() {
  Bytes base = szdd::compress(random_bytes(30000, 5, 4));
  Bytes longer = base;
  const Bytes junk = {0xFF, 'j', 'u', 'n', 'k', 0x00, 0x10};
  longer.insert(longer.end(), junk.begin(), junk.end());
  const Bytes cut(base.begin(), base.end() - 101);
  return {longer, cut};
}

}  // namespace testutil
