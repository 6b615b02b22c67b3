// Helpers shared by the SZDD and packer tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace testutil {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

inline Bytes random_bytes(std::size_t n, std::uint32_t seed, unsigned alphabet = 256) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng() % alphabet);
  return b;
}

inline Bytes text_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes read(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), {});
}

inline void write(const fs::path& p, const Bytes& b) {
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// A fresh directory for one test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "halvex-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

struct RunResult {
  int code = -1;
  std::string out, err;
};

inline std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a shell command line, capturing standard output and error.
inline RunResult run(const std::string& command, const fs::path& scratch) {
  const fs::path out = scratch / "run.out", err = scratch / "run.err";
  const int status =
      std::system(("{ " + command + "; } >" + quote(out.string()) + " 2>" + quote(err.string())).c_str());
  RunResult r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const Bytes o = read(out), e = read(err);
  r.out.assign(o.begin(), o.end());
  r.err.assign(e.begin(), e.end());
  return r;
}

// Real PE binaries (32-bit Windows DLLs from Debian's wine32 package).
inline fs::path wine_dll(const std::string& name) {
  return fs::path("/usr/lib/i386-linux-gnu/wine/i386-windows") / name;
}

}  // namespace testutil
