// halvex-pack: the archive rules (unit) and the command line (end to end).
#include <algorithm>
#include <nlohmann/json.hpp>

#include "archive.hpp"
#include "szdd/szdd.hpp"
#include "test_util.hpp"

using namespace testutil;

namespace {

const std::string kPack = HALVEX_PACK;
const std::string kMarkerText = std::string("Archive ") + "sTaRT";

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A minimal PE32 program: headers in 512 bytes, one 512-byte section whose
// raw data holds `body`.
Bytes make_pe32(const Bytes& body = {}, std::uint16_t magic = 0x10B,
                std::uint16_t characteristics = 0x0102) {
  Bytes b(1024, 0);
  b[0] = 'M', b[1] = 'Z';
  put32(b, 0x3C, 0x40);
  b[0x40] = 'P', b[0x41] = 'E';
  put16(b, 0x44, 0x14C);            // i386
  put16(b, 0x46, 1);                // one section
  put16(b, 0x54, 224);              // optional header size
  put16(b, 0x56, characteristics);  // executable, 32-bit
  const std::size_t opt = 0x58;
  put16(b, opt, magic);
  put32(b, opt + 60, 512);  // SizeOfHeaders
  put32(b, opt + 92, 16);   // NumberOfRvaAndSizes
  const std::size_t sec = opt + 224;
  std::copy_n(".text", 5, b.begin() + static_cast<long>(sec));
  put32(b, sec + 16, 512);  // SizeOfRawData
  put32(b, sec + 20, 512);  // PointerToRawData
  std::copy(body.begin(), body.begin() + static_cast<long>(std::min<std::size_t>(body.size(), 512)),
            b.begin() + 512);
  return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class Pack : public ::testing::Test {
 protected:
  TempDir dir;
  Bytes setup = cat({make_pe32(), random_bytes(50000, 1, 7), Bytes(3000, 0)});
  Bytes payload = szdd::compress(setup);
  Bytes marker = text_of(kMarkerText);

  // What build makes: the parse whose archive length is a multiple of 8.
  Bytes aligned_payload(std::size_t stub_size) const {
    szdd::CompressOptions options;
    options.align_after = stub_size + kMarkerText.size();
    return szdd::compress(setup, options);
  }

  // An archive whose length is not a multiple of 8, as another tool would
  // make it.
  Bytes unaligned_archive() const {
    const Bytes stub = make_pe32();
    Bytes archive = cat({stub, marker, payload});
    for (std::size_t cut = 1; archive.size() % 8 == 0; ++cut)
      archive = cat({stub, marker, szdd::compress(Bytes(setup.begin(), setup.end() - cut))});
    return archive;
  }

  RunResult pack(const std::string& args) { return run(quote(kPack) + " " + args, dir.path()); }
  std::string p(const std::string& name) { return quote((dir / name).string()); }
  void write_files() {
    write(dir / "stub.exe", make_pe32());
    write(dir / "setup.exe", setup);
  }
  // verify --json: one JSON object on stdout, its verdict that of the exit
  // code. `shell` may set limits for the run first.
  nlohmann::json verify_json(const std::string& name, int expected_code,
                             const std::string& shell = "") {
    const RunResult r = run(shell + quote(kPack) + " verify --json " + p(name), dir.path());
    EXPECT_EQ(r.code, expected_code) << r.out << r.err;
    nlohmann::json j = nlohmann::json::parse(r.out, nullptr, /*allow_exceptions=*/false);
    EXPECT_TRUE(j.is_object()) << r.out;
    if (!j.is_object()) return nlohmann::json::object();
    EXPECT_EQ(j.value("ok", !expected_code), expected_code == 0) << r.out;
    EXPECT_EQ(j.contains("error"), expected_code != 0) << r.out;
    return j;
  }
  // verify must fail with exit code 1 and this reason, in text and in JSON.
  void expect_rejected(const Bytes& archive, const std::string& reason) {
    write(dir / "bad.exe", archive);
    const RunResult r = pack("verify " + p("bad.exe"));
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("bad.exe"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    const nlohmann::json j = verify_json("bad.exe", 1);
    EXPECT_NE(j.value("error", "").find(reason), std::string::npos) << j.dump();
    EXPECT_EQ(j.value("archive_size", 0u), archive.size()) << j.dump();
  }
};

}  // namespace

TEST(PackArchive, Pe32Rules) {
  EXPECT_EQ(halvex::parse_pe32(make_pe32()).image_end, 1024u);
  EXPECT_EQ(halvex::check_stub(make_pe32()).machine, 0x14C);
  EXPECT_THROW(halvex::parse_pe32(text_of("not a program at all, just text, long enough to pass the size check.")),
               halvex::InvalidData);
  EXPECT_THROW(halvex::parse_pe32(make_pe32({}, 0x20B)), halvex::InvalidData);        // PE32+
  EXPECT_THROW(halvex::parse_pe32(make_pe32({}, 0x10B, 0x2102)), halvex::InvalidData);  // DLL
  const Bytes full = make_pe32();
  EXPECT_THROW(halvex::check_stub(Bytes(full.begin(), full.begin() + 900)), halvex::InvalidData);
  EXPECT_THROW(halvex::check_stub(make_pe32(text_of("xx" + kMarkerText))), halvex::InvalidData);
  // Half a marker, or the letters in another case, are no marker.
  EXPECT_NO_THROW(halvex::check_stub(make_pe32(text_of("Archive sTaRt Archive  sTaRT"))));
}

TEST(PackArchive, MarkerFirstOccurrenceWins) {
  const auto m = halvex::payload_marker();
  EXPECT_EQ(Bytes(m.begin(), m.end()), text_of(kMarkerText));
  const Bytes two = cat({text_of("abc"), text_of(kMarkerText), text_of(kMarkerText)});
  EXPECT_EQ(halvex::find_marker(two), 3u);
  EXPECT_EQ(halvex::find_marker(text_of("Archive STaRT")), std::nullopt);
}

TEST_F(Pack, BuildVerifyExtract) {
  write_files();
  RunResult r = pack("build " + p("setup.exe") + " -o " + p("out.exe") + " --stub " + p("stub.exe"));
  ASSERT_EQ(r.code, 0) << r.err;
  const Bytes archive = read(dir / "out.exe");
  EXPECT_EQ(archive, cat({make_pe32(), marker, aligned_payload(1024)}));
  EXPECT_EQ(archive.size() % 8, 0u);
  r = pack("verify " + p("out.exe"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("image size:    1024"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("expanded size: " + std::to_string(setup.size())), std::string::npos);
  EXPECT_NE(r.out.find("ratio:"), std::string::npos);
  r = pack("extract " + p("out.exe") + " -o " + p("setup.out"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read(dir / "setup.out"), setup);
  // Nothing but the three files is left: no temporary files.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 6);  // + run.out, run.err
}

TEST_F(Pack, BuildPrecompressed) {
  write_files();
  write(dir / "setup.ex_", payload);
  RunResult r = pack("build " + p("setup.ex_") + " --precompressed -o " + p("out.exe") +
                     " --stub " + p("stub.exe"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read(dir / "out.exe"), cat({make_pe32(), marker, payload}));
  r = pack("build " + p("setup.exe") + " --precompressed -o " + p("out2.exe") + " --stub " + p("stub.exe"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("not an SZDD"), std::string::npos) << r.err;
  // A payload with bytes after its stream would not verify: refused.
  write(dir / "tail.ex_", cat({payload, text_of("tail")}));
  r = pack("build " + p("tail.ex_") + " --precompressed -o " + p("out2.exe") + " --stub " + p("stub.exe"));
  EXPECT_EQ(r.code, 1);
  EXPECT_FALSE(fs::exists(dir / "out2.exe"));
}

TEST_F(Pack, BuildRefusesBadInputsAndKeepsOut) {
  write_files();
  write(dir / "out.exe", text_of("previous"));
  write(dir / "empty", {});
  write(dir / "marked.exe", make_pe32(text_of(kMarkerText)));
  write(dir / "text.exe", text_of(std::string(100, 't')));
  const struct {
    std::string args;
    int code;
    std::string reason;
  } cases[] = {
      {"build " + p("empty") + " --stub " + p("stub.exe"), 1, "empty"},
      {"build " + p("missing") + " --stub " + p("stub.exe"), 3, "missing"},
      {"build " + p("setup.exe") + " --stub " + p("marked.exe"), 1, "marker"},
      {"build " + p("setup.exe") + " --stub " + p("text.exe"), 1, "MZ"},
      {"build " + p("setup.exe") + " --stub " + p("missing"), 3, "cannot open"},
      {"build " + p("setup.exe"), 2, "output"},  // no -o: usage error
  };
  for (const auto& c : cases) {
    const RunResult r = pack(c.args + (c.code == 2 ? "" : " -o " + p("out.exe")));
    EXPECT_EQ(r.code, c.code) << c.args << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.args << ": " << r.err;
    EXPECT_EQ(read(dir / "out.exe"), text_of("previous")) << c.args;
  }
  // An unwritable target: an I/O error, and no temporary file left behind.
  const RunResult r = pack("build " + p("setup.exe") + " --stub " + p("stub.exe") + " -o " +
                           p("no/such/dir/out.exe"));
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find("out.exe"), std::string::npos) << r.err;
}

TEST_F(Pack, VerifyRejectsBadArchives) {
  const Bytes stub = make_pe32();
  expect_rejected(cat({stub, payload}), "no marker");
  expect_rejected(cat({make_pe32(cat({marker, payload})), marker, payload}), "inside the PE image");
  expect_rejected(cat({stub, marker}), "payload is empty");
  expect_rejected(cat({stub, marker, marker, payload}), "not an SZDD");
  expect_rejected(cat({stub, marker, Bytes(payload.begin(), payload.end() - 1000)}), "truncated");
  Bytes damaged = payload;
  damaged[8] = 'Q';
  expect_rejected(cat({stub, marker, damaged}), "mode");
  damaged = payload;
  damaged[2] = 'X';
  expect_rejected(cat({stub, marker, damaged}), "not an SZDD");
  expect_rejected(cat({stub, marker, payload, text_of("junk")}), "after the end of the stream");
  expect_rejected(cat({text_of(std::string(200, 'x')), marker, payload}), "not a PE32");
  const RunResult r = pack("verify " + p("missing.exe"));
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find("missing.exe"), std::string::npos);
}

TEST_F(Pack, ExtractDecodesLikeLz32) {
  // Trailing bytes: extract gives what LZ32 gives, and warns.
  const Bytes odd = cat({payload, text_of("\xff" "junk")});
  write(dir / "odd.exe", cat({make_pe32(), marker, odd}));
  RunResult r = pack("extract " + p("odd.exe") + " -o " + p("x"));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("warning"), std::string::npos);
  EXPECT_EQ(read(dir / "x"), szdd::expand(odd));
  write(dir / "none.exe", make_pe32());
  r = pack("extract " + p("none.exe") + " -o " + p("y"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no marker"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "y"));
}

TEST_F(Pack, CompressAndExpand) {
  write_files();
  RunResult r = pack("compress --stats " + p("setup.exe") + " " + p("setup.ex_"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read(dir / "setup.ex_"), payload);
  EXPECT_NE(r.out.find("optimum of the cost model: " + std::to_string(payload.size())), std::string::npos)
      << r.out;
  r = pack("expand " + p("setup.ex_") + " " + p("back"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read(dir / "back"), setup);
  r = pack("expand " + p("setup.exe") + " " + p("nope"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("setup.exe: not an SZDD"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "nope"));
  r = pack("compress --last-char e " + p("setup.exe") + " " + p("named.ex_"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read(dir / "named.ex_")[9], 'e');
}

TEST_F(Pack, HelpAndUsage) {
  for (const std::string cmd : {"", "build ", "verify ", "extract ", "compress ", "expand "}) {
    const RunResult r = pack(cmd + "--help");
    EXPECT_EQ(r.code, 0) << cmd;
    EXPECT_NE(r.out.find("Exit codes"), std::string::npos) << cmd << r.out;
  }
  EXPECT_EQ(pack("").code, 2);
  EXPECT_EQ(pack("frobnicate").code, 2);
  EXPECT_EQ(pack("verify").code, 2);
  EXPECT_EQ(pack("compress a").code, 2);
}

// The built-in stub is the launcher image of the windows build.
TEST_F(Pack, DefaultStubIsTheLauncherImage) {
  const fs::path launcher = fs::path(HALVEX_WINDOWS_BUILD) / "launcher" / "halvex-launcher.exe";
  ASSERT_TRUE(fs::exists(launcher)) << launcher << " is missing: build the windows preset first";
  write_files();
  RunResult r = pack("build " + p("setup.exe") + " -o " + p("HalvexSetup.exe"));
  ASSERT_EQ(r.code, 0) << r.err;
  const Bytes image = read(launcher);
  EXPECT_EQ(read(dir / "HalvexSetup.exe"), cat({image, marker, aligned_payload(image.size())}));
  r = pack("verify " + p("HalvexSetup.exe"));
  EXPECT_EQ(r.code, 0) << r.err;
}

// Signing as Authenticode does it: the certificate table goes at the end of
// the file, named by data directory 4 of the image's header, after zero
// padding up to a multiple of 8.
Bytes sign(Bytes archive, std::size_t table_size = 1456) {
  while (archive.size() % 8) archive.push_back(0);
  const std::size_t entry = 0x58 + 96 + 4 * 8;  // of make_pe32's header
  put32(archive, entry, static_cast<std::uint32_t>(archive.size()));
  put32(archive, entry + 4, static_cast<std::uint32_t>(table_size));
  const Bytes table = random_bytes(table_size, 99);
  archive.insert(archive.end(), table.begin(), table.end());
  return archive;
}

TEST_F(Pack, SignedArchiveVerifiesAndExtractsUpToTheTable) {
  write_files();
  ASSERT_EQ(pack("build -q " + p("setup.exe") + " -o " + p("out.exe") + " --stub " + p("stub.exe")).code, 0);
  const Bytes built = read(dir / "out.exe");
  const Bytes signed_archive = sign(built);
  ASSERT_EQ(signed_archive.size(), built.size() + 1456) << "signing padded a built archive";
  write(dir / "signed.exe", signed_archive);
  RunResult r = pack("verify " + p("signed.exe"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("certificate table of 1456 bytes"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("payload size:  " + std::to_string(built.size() - 1024 - 13)),
            std::string::npos) << r.out;
  r = pack("extract " + p("signed.exe") + " -o " + p("setup.out"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_EQ(read(dir / "setup.out"), setup);
}

TEST_F(Pack, ArchivePaddedByTheSignerIsRefusedWithTheReason) {
  const Bytes unaligned = unaligned_archive();
  write(dir / "plain.exe", unaligned);
  RunResult r = pack("verify " + p("plain.exe"));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("not a multiple of 8"), std::string::npos) << r.out;
  expect_rejected(sign(unaligned), "zero bytes lie between the end of the compressed stream");
  expect_rejected(sign(unaligned), "trailing bytes");
}

TEST_F(Pack, CertificateEntriesTheLauncherIgnoresChangeNothing) {
  const Bytes stub = make_pe32();
  const Bytes archive = cat({stub, marker, aligned_payload(stub.size())});
  const std::size_t entry = 0x58 + 96 + 4 * 8;
  // The stub's own table, before the marker: the payload runs to the end.
  Bytes own = archive;
  put32(own, entry, 512);
  put32(own, entry + 4, 256);
  write(dir / "own.exe", own);
  EXPECT_EQ(pack("verify " + p("own.exe")).code, 0);
  // A table that does not end at the end of the file, or reaches past it,
  // is no signature: the bytes behind the stream are payload.
  for (const std::uint32_t size : {1000u, 2000u}) {
    Bytes elsewhere = cat({archive, random_bytes(1456, 5)});
    put32(elsewhere, entry, static_cast<std::uint32_t>(archive.size()));
    put32(elsewhere, entry + 4, size);
    expect_rejected(elsewhere, "after the end of the stream");
  }
}

TEST_F(Pack, VerifyJsonReportsTheSummary) {
  write_files();
  ASSERT_EQ(pack("build -q " + p("setup.exe") + " -o " + p("out.exe") + " --stub " + p("stub.exe")).code, 0);
  const Bytes built = read(dir / "out.exe");
  nlohmann::json j = verify_json("out.exe", 0);
  EXPECT_EQ(j["file"], (dir / "out.exe").string());
  EXPECT_EQ(j["archive_size"], built.size());
  EXPECT_EQ(j["image_size"], 1024);
  EXPECT_EQ(j["payload_offset"], 1037);
  EXPECT_EQ(j["payload_size"], built.size() - 1037);
  EXPECT_EQ(j["expanded_size"], setup.size());
  EXPECT_NEAR(j["ratio_percent"].get<double>(), 100.0 * (built.size() - 1037) / setup.size(), 0.005);
  EXPECT_EQ(j["signed"], false);
  EXPECT_EQ(j["certificate_table_size"], 0);
  EXPECT_EQ(j["padded_if_signed"], false);
  EXPECT_EQ(j["trailing_bytes"], 0);

  write(dir / "signed.exe", sign(built));
  j = verify_json("signed.exe", 0);
  EXPECT_EQ(j["signed"], true);
  EXPECT_EQ(j["certificate_table_size"], 1456);
  EXPECT_EQ(j["payload_size"], built.size() - 1037) << "the table counted as payload";

  // Valid, but a signer would pad it.
  write(dir / "unaligned.exe", unaligned_archive());
  EXPECT_EQ(verify_json("unaligned.exe", 0)["padded_if_signed"], true);
}

TEST_F(Pack, VerifyJsonOfARefusalNamesWhatWasFound) {
  // The signer's padding: the layout and the stream were read, and the
  // padding is counted.
  const Bytes unaligned = unaligned_archive();
  write(dir / "padded.exe", sign(unaligned));
  nlohmann::json j = verify_json("padded.exe", 1);
  EXPECT_EQ(j["trailing_bytes"], 8 - unaligned.size() % 8);
  EXPECT_EQ(j["signed"], true);

  // No marker: only the size is known.
  write(dir / "plain.exe", make_pe32());
  j = verify_json("plain.exe", 1);
  EXPECT_EQ(j["archive_size"], make_pe32().size());
  for (const char* unknown : {"image_size", "payload_size", "expanded_size", "signed", "trailing_bytes"})
    EXPECT_TRUE(j[unknown].is_null()) << unknown << " in " << j.dump();

  // Unreadable: an I/O error, nothing known.
  j = verify_json("missing.exe", 3);
  EXPECT_NE(j.value("error", "").find("missing.exe"), std::string::npos) << j.dump();
  EXPECT_TRUE(j["archive_size"].is_null()) << j.dump();

  // Out of memory: an internal error, still reported. The file (sparse)
  // needs four times the memory the run may take.
  write(dir / "huge.exe", {});
  fs::resize_file(dir / "huge.exe", std::uintmax_t{4} << 30);
  j = verify_json("huge.exe", 4, "ulimit -v 1048576; ");
  EXPECT_EQ(j.value("error", ""), "out of memory") << j.dump();
  EXPECT_TRUE(j["archive_size"].is_null()) << j.dump();
}

TEST_F(Pack, VerifyJsonEscapesAnyFileName) {
  write_files();
  const std::string name = "quote\"back\\slash\ttab.exe";
  ASSERT_EQ(pack("build -q " + p("setup.exe") + " -o " + p(name) + " --stub " + p("stub.exe")).code, 0);
  EXPECT_EQ(verify_json(name, 0)["file"], (dir / name).string());
}
