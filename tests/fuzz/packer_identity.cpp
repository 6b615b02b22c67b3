// libFuzzer target: halvex-pack's reading of what a vendor hands it for an
// archive's identity, on any bytes, each reader accepting or refusing with
// InvalidData:
//  - as an .ico file: an accepted icon, written as the archive's icon
//    resources and read back, is the same icon;
//  - as version information: what is decoded encodes and decodes to itself;
//  - as a program (a setup program, or a stub): its resources, written into
//    its resource section and read back, stay the same when written again.
#include <cstdlib>

#include "identity.hpp"
#include "pe_resources.hpp"

namespace {

using namespace halvex;

void check(bool ok) {
  if (!ok) std::abort();
}

void IconRoundTrip(ByteView data) {
  Icon icon;
  try {
    icon = parse_ico(data);
  } catch (const InvalidData&) {
    return;
  }
  Identity wanted;
  wanted.icon = icon;
  check(identity_of(with_identity({}, wanted)) == wanted);
}

void VersionRoundTrip(ByteView data) {
  VersionInfo decoded;
  Bytes encoded;
  try {
    decoded = decode_version_info(data);
    encoded = encode_version_info(decoded);
  } catch (const InvalidData&) {
    return;
  }
  check(decode_version_info(encoded) == decoded);
}

void ResourcesRoundTrip(ByteView data) {
  Bytes written;
  try {
    const std::vector<Resource> resources = read_resources(data);
    identity_of(resources);
    written = replace_resources(data, resources);
  } catch (const InvalidData&) {
    return;
  }
  const std::vector<Resource> read_back = read_resources(written);
  check(read_resources(replace_resources(written, read_back)) == read_back);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView bytes(data, size);
  IconRoundTrip(bytes);
  VersionRoundTrip(bytes);
  ResourcesRoundTrip(bytes);
  return 0;
}
