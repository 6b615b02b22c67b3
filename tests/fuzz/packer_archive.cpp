// libFuzzer target: halvex-pack's reading of whole archives (verify,
// verify --json, extract) on any bytes.
//  - verify either accepts, or refuses with a reason; its JSON verdict
//    parses and says the same, with the fields of the steps reached.
//  - The packer finds the payload where the launcher's own code does.
//  - extract gives exactly what the expander makes of the payload the
//    launcher would take; for an accepted archive that is what verify
//    expanded, to the header's size.
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "archive.hpp"
#include "self_archive.h"
#include "signed_archive.h"
#include "szdd/szdd.hpp"
#include "verify_report.hpp"

namespace {

using halvex::ArchiveSummary;
using halvex::Bytes;
using halvex::ByteView;

void check(bool ok) {
  if (!ok) std::abort();
}

// The payload as the launcher takes it, or nullopt without a marker.
std::optional<ByteView> LauncherPayload(ByteView archive) {
  const int size = static_cast<int>(archive.size());
  const int marker = FindPayloadMarker(archive.data(), size);
  if (!marker) return std::nullopt;
  const int start = marker - 1 + PayloadMarkerLength;
  return archive.subspan(start, PayloadEnd(archive.data(), size, start) - start);
}

struct Verdict {
  ArchiveSummary summary;
  Bytes expanded;
  std::string error;  // empty when accepted
};

Verdict Verify(ByteView archive) {
  Verdict v;
  try {
    halvex::verify_archive_into(archive, v.summary, &v.expanded);
  } catch (const halvex::InvalidData& e) {
    v.error = e.what();
    check(!v.error.empty());
  }
  return v;
}

void CheckJson(const Verdict& v) {
  const auto j = nlohmann::json::parse(halvex::verify_report_json("archive.exe", v.summary, v.error));
  check(j.at("ok") == v.error.empty() && j.contains("error") == !v.error.empty());
  if (!v.error.empty()) check(j.at("error") == v.error);
  check(j.at("archive_size").is_null() == (v.summary.reached < ArchiveSummary::Step::read));
  check(j.at("payload_size").is_null() == (v.summary.reached < ArchiveSummary::Step::layout));
  check(j.at("expanded_size").is_null() == (v.summary.reached < ArchiveSummary::Step::payload));
  if (v.error.empty()) check(j.at("expanded_size") == v.expanded.size());
}

// What the expander makes of the launcher's payload; nullopt when it is no
// SZDD data.
std::optional<Bytes> Expanded(ByteView payload) {
  try {
    return szdd::expand(payload);
  } catch (const szdd::Error&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView archive(data, size);
  const Verdict v = Verify(archive);
  CheckJson(v);

  const auto launcher = LauncherPayload(archive);
  check(launcher.has_value() == halvex::find_marker(archive).has_value());
  std::size_t marker_at = 0;
  if (launcher) {
    const ByteView packer = halvex::payload_of(archive, &marker_at);
    check(packer.data() == launcher->data() && packer.size() == launcher->size());
  }
  const auto expected = launcher ? Expanded(*launcher) : std::nullopt;

  std::optional<Bytes> extracted;
  szdd::ExpandInfo info;
  try {
    extracted = halvex::extract_payload(archive, &info);
  } catch (const halvex::InvalidData& e) {
    check(std::strlen(e.what()) > 0);
  }
  check(extracted == expected);

  if (v.error.empty()) {
    const ArchiveSummary& s = v.summary;
    check(extracted && *extracted == v.expanded && info.exact());
    check(s.reached == ArchiveSummary::Step::payload && s.image_size == marker_at &&
          s.payload_offset() + s.payload_size + s.certificate_size == size &&
          s.expanded_size == v.expanded.size() && s.trailing_bytes == 0);
  }
  return 0;
}
