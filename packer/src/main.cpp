// halvex-pack: builds, verifies and unpacks Halvex self-archives, and
// compresses and expands single SZDD files.
//
// Exit codes:
//   0  success
//   1  invalid data: a verification failed, a file is not what it must be
//      (not SZDD, not a PE32 program, empty setup program, ...)
//   2  command-line usage error
//   3  I/O error: a file could not be read or written
//   4  internal error (out of memory, unexpected failure)
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "archive.hpp"
#include "embedded_stub.hpp"
#include "fileio.hpp"
#include "identity.hpp"
#include "pe_resources.hpp"
#include "szdd/szdd.hpp"
#include "verify_report.hpp"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace fs = std::filesystem;
using namespace halvex;

namespace {

enum Exit { kOk = 0, kInvalid = 1, kUsage = 2, kIo = 3, kInternal = 4 };

constexpr const char* kExitCodes =
    "Exit codes: 0 success, 1 invalid data (verification failed, wrong file "
    "type, ...), 2 usage error, 3 I/O error, 4 internal error.";

// An error about one file: "halvex-pack: FILE: reason".
struct FileError {
  Exit code;
  std::string file, reason;
};

[[noreturn]] void fail(Exit code, const fs::path& file, const std::string& reason) {
  throw FileError{code, describe(file), reason};
}

// What an unexpected failure is called, on stderr and in verify's report.
std::string internal_error_reason(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "out of memory";
  return std::string("internal error: ") + e.what();
}

void warn(const fs::path& file, const std::string& text) {
  std::fprintf(stderr, "halvex-pack: warning: %s: %s\n", describe(file).c_str(), text.c_str());
}

Bytes read_input(const fs::path& p) {
  try {
    return read_file(p);
  } catch (const IoError& e) {
    throw FileError{kIo, "", e.what()};
  }
}

void print_summary(const fs::path& archive, const ArchiveSummary& s) {
  std::printf("%s: valid self-archive\n", describe(archive).c_str());
  std::printf("  image size:    %" PRIu64 " bytes\n", s.image_size);
  std::printf("  payload at:    offset %" PRIu64 "\n", s.payload_offset());
  std::printf("  payload size:  %" PRIu64 " bytes\n", s.payload_size);
  std::printf("  expanded size: %" PRIu32 " bytes\n", s.expanded_size);
  std::printf("  ratio:         %.2f %%\n", s.ratio());
  if (s.certificate_size)
    std::printf("  signed:        certificate table of %" PRIu64
                " bytes; the payload ends where it begins\n",
                s.certificate_size);
  else if (s.padded_if_signed())
    std::printf("  signing:       the length is not a multiple of 8: a signer would pad it, "
                "and the setup program would get trailing bytes\n");
  std::fputs(identity_lines(s.identity).c_str(), stdout);
}

// Signing pads an archive to a multiple of 8 before it appends the
// certificate table, and the launcher would take that padding for payload.
constexpr const char* kUnalignedWarning =
    "the archive's length is not a multiple of 8: signing it would add padding "
    "that the setup program would get as trailing bytes";

std::string version_text() {
  return std::string("halvex-pack " HALVEX_VERSION "\nlauncher image: ") +
         std::to_string(halvex_default_stub_size) + " bytes, SHA-256 " +
         halvex_default_stub_sha256;
}

struct BuildArgs {
  fs::path setup, out, stub, icon;
  bool precompressed = false, quiet = false, identity_from_setup = false;
  std::vector<std::string> version_info;  // KEY=VALUE
  std::string execution_level;
};

// The icon and version information of the setup program itself.
Identity identity_of_setup(const BuildArgs& a, const Bytes& setup) {
  Identity found;
  try {
    const Bytes program = a.precompressed ? szdd::expand(setup) : setup;
    found = identity_of(read_resources(program));
  } catch (const InvalidData& e) {
    fail(kInvalid, a.setup, std::string("--identity-from-setup: ") + e.what());
  } catch (const szdd::Error& e) {
    fail(kInvalid, a.setup, std::string("--identity-from-setup: ") + e.what());
  }
  if (!found.icon && !found.version)
    fail(kInvalid, a.setup,
         "--identity-from-setup: the setup program has no icon and no version information");
  found.execution_level.reset();
  return found;
}

// What the options ask the archive's identity to be: the setup program's,
// then each option on top of it.
Identity requested_identity(const BuildArgs& a, const Bytes& setup) {
  Identity id = a.identity_from_setup ? identity_of_setup(a, setup) : Identity{};
  if (!a.icon.empty()) {
    try {
      id.icon = parse_ico(read_input(a.icon));
    } catch (const InvalidData& e) {
      fail(kInvalid, a.icon, std::string("refused as icon: ") + e.what());
    }
  }
  if (!a.version_info.empty()) {
    VersionInfo version = id.version.value_or(VersionInfo{});
    for (const std::string& setting : a.version_info) {
      try {
        set_version_field(version, setting);
      } catch (const InvalidData& e) {
        throw FileError{kUsage, "", std::string("--version-info: ") + e.what()};
      }
    }
    id.version = version;
  }
  if (!a.execution_level.empty()) id.execution_level = a.execution_level;
  return id;
}

// The stub with the identity in its resource section.
Bytes stamped_stub(const Bytes& stub, const fs::path& stub_name, const Identity& identity) {
  Bytes stamped;
  try {
    stamped = replace_resources(stub, with_identity(read_resources(stub), identity));
  } catch (const InvalidData& e) {
    fail(kInvalid, stub_name, std::string("cannot give the archive its identity: ") + e.what());
  }
  if (find_marker(stamped))
    fail(kInvalid, stub_name,
         "the identity would put the 13 marker bytes into the launcher image; the launcher "
         "would take them for the marker");
  return stamped;
}

int cmd_build(const BuildArgs& a) {
  Bytes stub;
  fs::path stub_name = a.stub;
  if (a.stub.empty()) {
    stub_name = "<built-in launcher image>";
    if (halvex_default_stub_size == 0)
      fail(kInvalid, stub_name,
           "this halvex-pack was built without the launcher image; give one with --stub");
    stub.assign(halvex_default_stub, halvex_default_stub + halvex_default_stub_size);
  } else {
    stub = read_input(a.stub);
  }
  try {
    check_stub(stub);
  } catch (const InvalidData& e) {
    fail(kInvalid, stub_name, std::string("refused as stub: ") + e.what());
  }

  const Bytes setup = read_input(a.setup);
  if (setup.empty()) fail(kInvalid, a.setup, "the setup program is empty");
  // Only when asked: otherwise the archive's image is the stub byte for byte.
  if (const Identity identity = requested_identity(a, setup); !identity.empty())
    stub = stamped_stub(stub, stub_name, identity);

  Bytes payload;
  szdd::CompressStats stats;
  if (a.precompressed) {
    try {
      szdd::parse_header(setup);
    } catch (const szdd::Error& e) {
      fail(kInvalid, a.setup, std::string("--precompressed: ") + e.what());
    }
    payload = setup;
  } else {
    ProgressBar bar("compressing", setup.size(), !a.quiet);
    szdd::CompressOptions o;
    o.progress = bar.callback();
    o.align_after = stub.size() + kMarkerSize;
    try {
      payload = szdd::compress(setup, o, &stats);
    } catch (const szdd::Error& e) {
      fail(kInvalid, a.setup, e.what());
    }
  }

  // Never write an archive that does not check out.
  const Bytes archive = join_archive(stub, payload);
  ArchiveSummary sum;
  try {
    Bytes expanded;
    sum = verify_archive(archive, a.precompressed ? nullptr : &expanded);
    if (!a.precompressed && expanded != setup)
      fail(kInternal, a.out, "internal error: the payload does not expand to the setup program");
  } catch (const InvalidData& e) {
    fail(kInvalid, a.precompressed ? fs::path(a.setup) : fs::path(a.out),
         std::string("the archive would be invalid: ") + e.what());
  }
  try {
    write_file_atomic(a.out, archive, /*durable=*/true);
  } catch (const IoError& e) {
    throw FileError{kIo, "", e.what()};
  }
  if (archive.size() % 8) warn(a.out, kUnalignedWarning);
  if (!a.quiet) {
    print_summary(a.out, sum);
    if (!a.precompressed)
      std::printf("  alignment:     %" PRIu64 " bytes above the optimum of %" PRIu64 "\n",
                  stats.output_bytes - stats.optimum_bytes, stats.optimum_bytes);
  }
  return kOk;
}

int cmd_verify(const fs::path& path, bool quiet, bool json) {
  ArchiveSummary sum;
  // With --json the report goes to stdout whatever the verdict; the error
  // still goes to stderr, and the exit code stays that of the text mode.
  const auto report = [&](const std::string& error) {
    if (json) std::printf("%s\n", verify_report_json(describe(path), sum, error).c_str());
  };
  try {
    verify_archive_into(read_input(path), sum);
  } catch (const FileError& e) {
    report(e.reason);
    throw;
  } catch (const InvalidData& e) {
    const std::string reason = std::string("verification failed: ") + e.what();
    report(reason);
    fail(kInvalid, path, reason);
  } catch (const std::exception& e) {
    report(internal_error_reason(e));
    throw;
  }
  report("");
  if (!quiet && !json) print_summary(path, sum);
  return kOk;
}

int cmd_extract(const fs::path& path, const fs::path& out, bool quiet) {
  const Bytes archive = read_input(path);
  szdd::ExpandInfo info;
  Bytes data;
  try {
    ProgressBar bar("expanding", archive.size(), !quiet);
    szdd::ExpandOptions o;
    o.progress = bar.callback();
    data = extract_payload(archive, &info, o);
  } catch (const InvalidData& e) {
    fail(kInvalid, path, e.what());
  }
  if (!info.exact()) warn(path, "payload: " + info.problem() + " (written as LZ32 expands it)");
  try {
    write_file_atomic(out, data);
  } catch (const IoError& e) {
    throw FileError{kIo, "", e.what()};
  }
  return kOk;
}

int cmd_compress(const fs::path& in, const fs::path& out, bool stats, bool quiet,
                 const std::string& last_char) {
  const Bytes data = read_input(in);
  szdd::CompressOptions o;
  if (!last_char.empty()) o.last_char = static_cast<std::uint8_t>(last_char[0]);
  szdd::CompressStats st;
  Bytes packed;
  {
    ProgressBar bar("compressing", data.size(), !quiet);
    o.progress = bar.callback();
    try {
      packed = szdd::compress(data, o, &st);
    } catch (const szdd::Error& e) {
      fail(kInvalid, in, e.what());
    }
  }
  try {
    write_file_atomic(out, packed);
  } catch (const IoError& e) {
    throw FileError{kIo, "", e.what()};
  }
  if (stats)
    std::printf("%s: %" PRIu64 " -> %" PRIu64 " bytes (%.2f %%); optimum of the cost model: %" PRIu64
                " bytes (%" PRIu64 " bits); %" PRIu64 " literals, %" PRIu64 " matches\n",
                describe(in).c_str(), st.input_bytes, st.output_bytes,
                st.input_bytes ? 100.0 * static_cast<double>(st.output_bytes) / static_cast<double>(st.input_bytes) : 0.0,
                st.optimum_bytes, st.optimum_bits, st.literals, st.matches);
  return kOk;
}

// File to file in bounded memory, into a temporary file beside OUT.
class AtomicSink : public szdd::Sink {
 public:
  explicit AtomicSink(AtomicFile& f) : f_(f) {}
  void write(const std::uint8_t* d, std::size_t n) override { f_.write(d, n); }

 private:
  AtomicFile& f_;
};

class FileSource : public szdd::Source {
 public:
  FileSource(std::FILE* f, std::string name) : f_(f), name_(std::move(name)) {}
  ~FileSource() override { std::fclose(f_); }
  std::size_t read(std::uint8_t* buf, std::size_t n) override {
    const std::size_t got = std::fread(buf, 1, n, f_);
    if (got < n && std::ferror(f_)) throw IoError(name_ + ": read failed");
    return got;
  }

 private:
  std::FILE* f_;
  std::string name_;
};

int cmd_expand(const fs::path& in, const fs::path& out, bool quiet) {
  std::error_code ec;
  if (fs::is_directory(in, ec)) fail(kIo, in, "is a directory");
  std::FILE* f = open_file(in, "rb");
  if (!f) fail(kIo, in, std::string("cannot open: ") + std::strerror(errno));
  FileSource src(f, describe(in));
  const auto size = fs::file_size(in, ec);
  szdd::ExpandInfo info;
  try {
    AtomicFile file(out);
    AtomicSink sink(file);
    ProgressBar bar("expanding", ec ? 0 : size, !quiet);
    szdd::ExpandOptions o;
    o.progress = bar.callback();
    info = szdd::expand(src, sink, o, ec ? 0 : size);
    file.commit();
  } catch (const szdd::Error& e) {
    fail(kInvalid, in, e.what());
  } catch (const IoError& e) {
    throw FileError{kIo, "", e.what()};
  }
  if (!info.exact()) warn(in, info.problem() + " (written as LZ32 expands it)");
  return kOk;
}

}  // namespace

// `argv` is UTF-8.
int run(int argc, char** argv) {
  CLI::App app{"halvex-pack: builds, verifies and unpacks Halvex self-archives "
               "(launcher image + marker + SZDD payload), and compresses and "
               "expands single SZDD files (compress.exe format, mode \"A\")."};
  app.footer(kExitCodes);
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Help on every command");
  app.set_version_flag("--version", version_text(),
                       "Print the version and the built-in launcher image's size and SHA-256");
  bool quiet = false;
  std::string path, out, in;  // file names, UTF-8

  BuildArgs b;
  std::string setup, stub;
  auto* build = app.add_subcommand("build", "Make a self-archive from a setup program");
  build->add_option("SETUP", setup, "The setup program (or, with --precompressed, its SZDD file)")
      ->required();
  build->add_option("-o,--output", out, "The self-archive to write")->required();
  build->add_option("--stub", stub,
                    "Launcher image to use instead of the built-in one (a PE32 program "
                    "without the marker bytes)");
  build->add_flag("--precompressed", b.precompressed,
                  "SETUP is already an SZDD file: take it as it is, after checking it");
  std::string icon;
  build->add_option("--icon", icon, "Give the archive this icon (an .ico file)");
  build->add_option("--version-info", b.version_info,
                    "Set a version information field, KEY=VALUE, KEY one of ProductName, "
                    "CompanyName, FileDescription, FileVersion, ProductVersion, LegalCopyright, "
                    "OriginalFilename; FileVersion and ProductVersion also set the fixed "
                    "numbers from their leading \"1.2.3.4\"; repeatable")
      ->take_last()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  build->add_flag("--identity-from-setup", b.identity_from_setup,
                  "Copy the setup program's icon and version information into the archive "
                  "(--icon and --version-info change them further)");
  build->add_option("--execution-level", b.execution_level,
                    "Give the archive a manifest requesting this execution level, and "
                    "declaring Windows 7 to 11 supported")
      ->check(CLI::IsMember(std::vector<std::string>(kExecutionLevels.begin(),
                                                     kExecutionLevels.end())));
  build->add_flag("-q,--quiet", b.quiet, "Print no summary and no progress");
  build->footer(kExitCodes);

  auto* verify = app.add_subcommand(
      "verify", "Check a self-archive without running it and print a summary");
  verify->add_option("ARCHIVE", path, "The self-archive")->required();
  bool json = false;
  verify->add_flag("-q,--quiet", quiet, "Print nothing; only the exit code tells");
  verify->add_flag("--json", json,
                   "Print the verdict and the summary as one JSON object on stdout, "
                   "valid archive or not");
  verify->footer(kExitCodes);

  auto* extract = app.add_subcommand(
      "extract", "Expand the setup program of a self-archive without running anything");
  extract->add_option("ARCHIVE", path, "The self-archive")->required();
  extract->add_option("-o,--output", out, "The file to write the setup program to")->required();
  extract->add_flag("-q,--quiet", quiet, "No progress bar");
  extract->footer(kExitCodes);

  bool stats = false;
  std::string last_char;
  auto* compress = app.add_subcommand("compress", "Compress one file into SZDD (optimal parse)");
  compress->add_option("IN", in, "File to compress")->required();
  compress->add_option("OUT", out, "SZDD file to write")->required();
  compress->add_flag("-s,--stats", stats,
                     "Print the sizes, the cost model's optimum and the item counts");
  compress->add_option("--last-char", last_char,
                       "Record this character as the last one of the file name (as compress -r)")
      ->check([](const std::string& s) { return s.size() == 1 ? "" : "one character"; });
  compress->add_flag("-q,--quiet", quiet, "No progress bar");
  compress->footer(kExitCodes);

  auto* expand = app.add_subcommand(
      "expand", "Expand one SZDD file, decoding to its end as Windows' LZ32 does");
  expand->add_option("IN", in, "SZDD file to expand")->required();
  expand->add_option("OUT", out, "File to write")->required();
  expand->add_flag("-q,--quiet", quiet, "No progress bar");
  expand->footer(kExitCodes);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kUsage;
  }

  try {
    b.setup = path_from_utf8(setup);
    b.out = path_from_utf8(out);
    b.stub = path_from_utf8(stub);
    b.icon = path_from_utf8(icon);
    if (*build) return cmd_build(b);
    if (*verify) return cmd_verify(path_from_utf8(path), quiet, json);
    if (*extract) return cmd_extract(path_from_utf8(path), path_from_utf8(out), quiet);
    if (*compress)
      return cmd_compress(path_from_utf8(in), path_from_utf8(out), stats, quiet, last_char);
    if (*expand) return cmd_expand(path_from_utf8(in), path_from_utf8(out), quiet);
  } catch (const FileError& e) {
    if (e.file.empty())
      std::fprintf(stderr, "halvex-pack: %s\n", e.reason.c_str());
    else
      std::fprintf(stderr, "halvex-pack: %s: %s\n", e.file.c_str(), e.reason.c_str());
    return e.code;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "halvex-pack: %s\n", internal_error_reason(e).c_str());
    return kInternal;
  }
  return kUsage;
}

#ifdef _WIN32
// The command line as Windows holds it, wide, handed on in UTF-8: the ANSI
// code page would turn a name in another script into question marks.
int wmain(int argc, wchar_t** wargv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, arg.data(), size, nullptr, nullptr);
    args.push_back(std::move(arg));
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return run(argc, argv.data());
}
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif
