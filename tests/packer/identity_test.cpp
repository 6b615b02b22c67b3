// halvex-pack: an archive's identity (icon, version information, execution
// level), written into the archive's copy of the launcher image and read
// back from it.
#include <nlohmann/json.hpp>

#include "archive.hpp"
#include "identity.hpp"
#include "pe_resources.hpp"
#include "test_util.hpp"

using namespace testutil;

namespace {

const std::string kPack = HALVEX_PACK;
const fs::path kLauncher = fs::path(HALVEX_WINDOWS_BUILD) / "launcher" / "halvex-launcher.exe";

// An .ico file of square 32-bit bitmaps, one of each size.
Bytes make_ico(std::initializer_list<std::uint8_t> sides) {
  Bytes directory, images;
  halvex::append16(directory, 0), halvex::append16(directory, 1);
  halvex::append16(directory, static_cast<std::uint32_t>(sides.size()));
  const std::size_t first = 6 + 16 * sides.size();
  for (std::uint8_t side : sides) {
    Bytes image;
    for (std::uint32_t field : {40u, std::uint32_t{side}, 2u * side}) halvex::append32(image, field);
    halvex::append16(image, 1), halvex::append16(image, 32);
    image.resize(40 + 4 * side * side + 4 * side, side);  // pixels and the mask
    directory.insert(directory.end(), {side, side, 0, 0});
    halvex::append16(directory, 1), halvex::append16(directory, 32);
    halvex::append32(directory, static_cast<std::uint32_t>(image.size()));
    halvex::append32(directory, static_cast<std::uint32_t>(first + images.size()));
    images.insert(images.end(), image.begin(), image.end());
  }
  directory.insert(directory.end(), images.begin(), images.end());
  return directory;
}

halvex::Identity full_identity() {
  halvex::Identity id;
  id.icon = halvex::parse_ico(make_ico({16, 32}));
  halvex::VersionInfo version;
  for (const char* setting : {"ProductName=Halvex \xC3\x9C\xE2\x9C\x93 \xF0\x9D\x84\x9E",
                              "FileVersion=1.2.3.4", "ProductVersion=2.5 beta",
                              "CompanyName=Example Ltd"})
    halvex::set_version_field(version, setting);
  id.version = version;
  id.execution_level = "asInvoker";
  return id;
}

class Identity : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kLauncher)) << kLauncher << " is missing: build the windows preset first";
    write(dir / "setup.exe", launcher);  // a program with a dialog and no identity
    write(dir / "icon.ico", make_ico({16, 32, 48}));
  }
  RunResult pack(const std::string& args) { return run(quote(kPack) + " " + args, dir.path()); }
  std::string p(const std::string& name) { return quote((dir / name).string()); }
  nlohmann::json identity_json(const std::string& archive) {
    const RunResult r = pack("verify --json " + p(archive));
    EXPECT_EQ(r.code, 0) << r.err;
    return nlohmann::json::parse(r.out, nullptr, false).value("identity", nlohmann::json());
  }

  TempDir dir;
  const Bytes launcher = read(kLauncher);
};

}  // namespace

// The stamped image keeps its dialog, carries the identity, and its headers
// describe the new section as the loader and signing tools read them.
TEST_F(Identity, StampedImageReadsBackWithItsHeadersFixed) {
  const std::vector<halvex::Resource> before = halvex::read_resources(launcher);
  const halvex::Identity id = full_identity();
  const Bytes stamped = halvex::replace_resources(launcher, halvex::with_identity(before, id));

  const std::vector<halvex::Resource> after = halvex::read_resources(stamped);
  EXPECT_EQ(halvex::resources_of_type(after, std::uint16_t{5}), before);  // the dialog
  EXPECT_EQ(halvex::identity_of(after), id);
  EXPECT_EQ(halvex::identity_of(before), halvex::Identity{});
  EXPECT_EQ(halvex::version_text(id.version->product_version), "2.5.0.0");

  const halvex::PeInfo pe = halvex::check_stub(stamped);
  EXPECT_EQ(pe.image_end, stamped.size());
  const auto [rva, size] = pe.directory(stamped, 2);
  const halvex::PeSection& rsrc = pe.section_table.back();
  EXPECT_EQ(rva, rsrc.virtual_address);
  EXPECT_EQ(size, rsrc.virtual_size);
  const std::size_t opt = pe.optional_header;
  EXPECT_EQ(halvex::u32(stamped, opt + 56),  // SizeOfImage
            halvex::align_up(rsrc.virtual_address + rsrc.virtual_size, 0x1000));
  EXPECT_EQ(halvex::u32(stamped, opt + 64), halvex::pe_checksum(stamped, opt + 64));
  // The image as built: the checksum the linker wrote is the same sum.
  EXPECT_EQ(halvex::u32(launcher, opt + 64), halvex::pe_checksum(launcher, opt + 64));
}

// One command gives every part; --identity-from-setup takes icon and version
// information from a program that has them, and the options change them.
TEST_F(Identity, BuildStampsWhatIsAskedAndVerifyReportsIt) {
  RunResult r = pack("build -q " + p("setup.exe") + " -o " + p("a.exe") + " --icon " +
                     p("icon.ico") + " --version-info FileVersion=3.1 --version-info " +
                     quote("ProductName=Halvex Proxy") + " --execution-level requireAdministrator");
  ASSERT_EQ(r.code, 0) << r.err;
  nlohmann::json id = identity_json("a.exe");
  EXPECT_EQ(id["icon"].size(), 3u) << id;
  EXPECT_EQ(id["icon"][2]["size"], "48x48") << id;
  EXPECT_EQ(id["version_info"]["file_version"], "3.1.0.0") << id;
  EXPECT_EQ(id["version_info"]["strings"]["ProductName"], "Halvex Proxy") << id;
  EXPECT_EQ(id["execution_level"], "requireAdministrator") << id;
  r = pack("verify " + p("a.exe"));
  EXPECT_NE(r.out.find("execution:     requireAdministrator"), std::string::npos) << r.out;

  r = pack("build -q " + p("a.exe") + " -o " + p("b.exe") +
           " --identity-from-setup --version-info ProductVersion=9.0");
  ASSERT_EQ(r.code, 0) << r.err;
  const nlohmann::json copied = identity_json("b.exe");
  EXPECT_EQ(copied["icon"], id["icon"]);
  EXPECT_EQ(copied["version_info"]["strings"]["ProductName"], "Halvex Proxy") << copied;
  EXPECT_EQ(copied["version_info"]["product_version"], "9.0.0.0") << copied;
  EXPECT_TRUE(copied["execution_level"].is_null()) << copied;

  // Without the options: no identity, and the image as built (byte for
  // byte: DefaultStubIsTheLauncherImage).
  ASSERT_EQ(pack("build -q " + p("setup.exe") + " -o " + p("plain.exe")).code, 0);
  id = identity_json("plain.exe");
  EXPECT_TRUE(id["icon"].is_null() && id["version_info"].is_null() && id["execution_level"].is_null())
      << id;
}

// Each refusal names its reason and writes nothing.
TEST_F(Identity, RefusalsNameTheirReasonAndWriteNoArchive) {
  Bytes truncated = make_ico({16});
  truncated.resize(truncated.size() - 10);
  Bytes cursor = make_ico({16});
  cursor[2] = 2;
  Bytes no_image = make_ico({16});
  halvex::put16(no_image, 4, 0);
  Bytes not_a_picture = make_ico({16});
  not_a_picture[22] = 'x';
  // An icon's data goes into the image unchanged: marker bytes in it would
  // be found before the real marker.
  Bytes marked = make_ico({16});
  const std::string marker = std::string("Archive ") + "sTaRT";
  std::copy(marker.begin(), marker.end(), marked.begin() + 22 + 40);
  Bytes signed_stub = launcher;
  const std::size_t certificate = halvex::parse_pe32(launcher).optional_header + 96 + 4 * 8;
  halvex::put32(signed_stub, certificate, static_cast<std::uint32_t>(signed_stub.size()));
  halvex::put32(signed_stub, certificate + 4, 8);
  signed_stub.resize(signed_stub.size() + 8);
  write(dir / "signed.exe", signed_stub);

  const struct {
    std::string name;
    Bytes icon;
    std::string more;
    int code;
    std::string reason;
  } cases[] = {
      {"truncated", truncated, "", 1, "image 1: its data lies outside the file"},
      {"cursor", cursor, "", 1, "a cursor file, not an icon"},
      {"empty", {}, "", 1, "not an icon file"},
      {"no image", no_image, "", 1, "holds no image"},
      {"not a picture", not_a_picture, "", 1, "neither a PNG nor a bitmap"},
      {"marker", marked, "", 1, "would put the 13 marker bytes into the launcher image"},
      {"signed stub", make_ico({16}), " --stub " + p("signed.exe"), 1,
       "the image is signed: changing its resources would break its signature"},
      {"unknown key", make_ico({16}), " --version-info Colour=blue", 2, "KEY one of ProductName"},
      {"no number", make_ico({16}), " --version-info FileVersion=beta", 2,
       "FileVersion must begin with a version number"},
      {"from setup without identity", make_ico({16}), " --identity-from-setup", 1,
       "the setup program has no icon and no version information"},
      {"level", make_ico({16}), " --execution-level admin", 2, "admin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write(dir / "bad.ico", c.icon);
    const RunResult r = pack("build -q " + p("setup.exe") + " -o " + p("out.exe") + " --icon " +
                             p("bad.ico") + c.more);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.exe"));
  }
}

// The level as other tools write it: another quote, blanks, a namespace
// prefix; and none where the element or its level is missing.
TEST(ExecutionLevel, ReadFromManifestsOfOtherTools) {
  const struct {
    std::string manifest;
    std::optional<std::string> level;
  } cases[] = {
      {halvex::manifest_for("highestAvailable"), "highestAvailable"},
      {"<ms_asmv2:requestedExecutionLevel uiAccess='false' level = 'requireAdministrator'/>",
       "requireAdministrator"},
      {"<requestedExecutionLevel\n  level=\"asInvoker\"\n/>", "asInvoker"},
      {"<requestedExecutionLevel uiAccess=\"false\"/><other level=\"asInvoker\"/>", std::nullopt},
      {"<assembly/>", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(halvex::execution_level_of(text_of(c.manifest)), c.level) << c.manifest;
}
