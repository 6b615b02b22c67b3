// File access for halvex-pack: whole-file reads, atomic writes (temporary
// file beside the target, renamed when complete) and a progress bar.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace halvex {

// An I/O failure; the message names the file and the reason.
class IoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// File names are UTF-8 text in the packer, whatever the platform: the
// Windows build reads its command line wide, and nothing passes through the
// ANSI code page, which lacks most scripts.
std::string describe(const std::filesystem::path& p);  // for messages
std::filesystem::path path_from_utf8(const std::string& utf8);
std::FILE* open_file(const std::filesystem::path& p, const char* mode);
std::vector<std::uint8_t> read_file(const std::filesystem::path& p);

// Writes to "<target>.<random>.part" beside the target; commit() closes it
// (durable: after flushing it to the disk) and renames it over the target.
// Without commit() the temporary file is removed and the target left as it
// was.
class AtomicFile {
 public:
  explicit AtomicFile(std::filesystem::path target, bool durable = false);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void write(const std::uint8_t* data, std::size_t n);
  void commit();
  const std::filesystem::path& temp_path() const { return temp_; }

 private:
  std::filesystem::path target_, temp_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
  bool durable_;
};

void write_file_atomic(const std::filesystem::path& p, const std::vector<std::uint8_t>& data,
                       bool durable = false);

// True when standard error is a terminal.
bool stderr_is_terminal();

// A progress bar on standard error, shown only on a terminal and for work
// of at least `threshold` bytes; otherwise it does nothing.
class ProgressBar {
 public:
  static constexpr std::uint64_t kThreshold = 4u << 20;
  ProgressBar(std::string label, std::uint64_t size, bool enabled);
  ~ProgressBar();
  void update(std::uint64_t done, std::uint64_t total);
  std::function<void(std::uint64_t, std::uint64_t)> callback();

 private:
  std::string label_;
  bool on_;
  int shown_ = -1;
};

}  // namespace halvex
