#include "fileio.hpp"

#include <cerrno>
#include <cstring>
#include <random>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace halvex {
namespace fs = std::filesystem;

std::string describe(const fs::path& p) {
  const std::u8string utf8 = p.u8string();
  return std::string(utf8.begin(), utf8.end());
}

fs::path path_from_utf8(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::FILE* open_file(const fs::path& p, const char* mode) {
#ifdef _WIN32
  std::wstring wmode(mode, mode + std::strlen(mode));
  return _wfopen(p.c_str(), wmode.c_str());
#else
  return std::fopen(p.c_str(), mode);
#endif
}

std::vector<std::uint8_t> read_file(const fs::path& p) {
  std::error_code ec;
  if (fs::is_directory(p, ec)) throw IoError(describe(p) + ": is a directory");
  std::FILE* f = open_file(p, "rb");
  if (!f) throw IoError(describe(p) + ": cannot open: " + std::strerror(errno));
  std::vector<std::uint8_t> data;
  const auto size = fs::file_size(p, ec);
  if (!ec) data.reserve(static_cast<std::size_t>(size));
  std::uint8_t buf[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(buf, 1, sizeof buf, f);
    data.insert(data.end(), buf, buf + got);
    if (got < sizeof buf) break;
  }
  const bool failed = std::ferror(f);
  const int err = errno;
  std::fclose(f);
  if (failed) throw IoError(describe(p) + ": read failed: " + std::strerror(err));
  return data;
}

AtomicFile::AtomicFile(fs::path target, bool durable)
    : target_(std::move(target)), durable_(durable) {
  std::error_code ec;
  if (fs::is_directory(target_, ec)) throw IoError(describe(target_) + ": is a directory");
  std::random_device rd;
  for (int attempt = 0; attempt < 16 && !file_; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.part", static_cast<unsigned>(rd()));
    temp_ = target_;
    temp_ += suffix;
    if (fs::exists(temp_, ec)) continue;
    file_ = open_file(temp_, "wb");
    if (!file_)
      throw IoError(describe(target_) + ": cannot create a temporary file beside it (" +
                    describe(temp_) + "): " + std::strerror(errno));
  }
  if (!file_) throw IoError(describe(target_) + ": cannot find a free temporary name");
}

AtomicFile::~AtomicFile() {
  if (file_) std::fclose(file_);
  if (!committed_) {
    std::error_code ec;
    fs::remove(temp_, ec);
  }
}

void AtomicFile::write(const std::uint8_t* data, std::size_t n) {
  if (n && std::fwrite(data, 1, n, file_) != n)
    throw IoError(describe(target_) + ": write failed (" + describe(temp_) +
                  "): " + std::strerror(errno));
}

void AtomicFile::commit() {
  if (std::fflush(file_) != 0)
    throw IoError(describe(target_) + ": write failed: " + std::strerror(errno));
  if (durable_) {
#ifdef _WIN32
    _commit(_fileno(file_));
#else
    fsync(fileno(file_));
#endif
  }
  const int rc = std::fclose(file_);
  file_ = nullptr;
  if (rc != 0) throw IoError(describe(target_) + ": write failed: " + std::strerror(errno));
#ifdef _WIN32
  if (!MoveFileExW(temp_.c_str(), target_.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    throw IoError(describe(target_) + ": cannot replace it with " + describe(temp_) +
                  " (Windows error " + std::to_string(GetLastError()) + ")");
#else
  if (std::rename(temp_.c_str(), target_.c_str()) != 0)
    throw IoError(describe(target_) + ": cannot rename " + describe(temp_) + " to it: " +
                  std::strerror(errno));
#endif
  committed_ = true;
}

void write_file_atomic(const fs::path& p, const std::vector<std::uint8_t>& data, bool durable) {
  AtomicFile f(p, durable);
  f.write(data.data(), data.size());
  f.commit();
}

bool stderr_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

ProgressBar::ProgressBar(std::string label, std::uint64_t size, bool enabled)
    : label_(std::move(label)), on_(enabled && size >= kThreshold && stderr_is_terminal()) {}

ProgressBar::~ProgressBar() {
  if (on_ && shown_ >= 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + 60, "");
}

void ProgressBar::update(std::uint64_t done, std::uint64_t total) {
  if (!on_ || total == 0) return;
  const int pct = static_cast<int>(100 * std::min(done, total) / total);
  if (pct == shown_) return;
  shown_ = pct;
  char bar[41];
  const int fill = pct * 40 / 100;
  for (int i = 0; i < 40; ++i) bar[i] = i < fill ? '#' : '.';
  bar[40] = 0;
  std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar, pct);
  std::fflush(stderr);
}

std::function<void(std::uint64_t, std::uint64_t)> ProgressBar::callback() {
  if (!on_) return {};
  return [this](std::uint64_t d, std::uint64_t t) { update(d, t); };
}

}  // namespace halvex
