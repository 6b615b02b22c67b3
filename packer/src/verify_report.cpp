#include "verify_report.hpp"

#include <cmath>
#include <nlohmann/json.hpp>

namespace halvex {
namespace {

using Step = ArchiveSummary::Step;
using Json = nlohmann::ordered_json;  // the fields in the order of the text summary

// Two decimals, as the text summary shows it.
double rounded_ratio(const ArchiveSummary& s) { return std::round(s.ratio() * 100.0) / 100.0; }

Json known_if(bool reached, Json value) { return reached ? std::move(value) : Json(nullptr); }

}  // namespace

std::string verify_report_json(const std::string& file, const ArchiveSummary& s,
                               const std::string& error) {
  const bool layout = s.reached >= Step::layout, payload = s.reached >= Step::payload;
  Json j;
  j["file"] = file;
  j["ok"] = error.empty();
  if (!error.empty()) j["error"] = error;
  j["archive_size"] = known_if(s.reached >= Step::read, s.archive_size);
  j["image_size"] = known_if(layout, s.image_size);
  j["payload_offset"] = known_if(layout, s.payload_offset());
  j["payload_size"] = known_if(layout, s.payload_size);
  j["expanded_size"] = known_if(payload, s.expanded_size);
  j["ratio_percent"] = known_if(payload, rounded_ratio(s));
  j["signed"] = known_if(layout, s.certificate_size != 0);
  j["certificate_table_size"] = known_if(layout, s.certificate_size);
  j["padded_if_signed"] = known_if(layout, s.padded_if_signed());
  j["trailing_bytes"] = known_if(payload, s.trailing_bytes);
  // Invalid UTF-8 in a file name is replaced, never a reason to fail.
  return j.dump(2, ' ', false, Json::error_handler_t::replace);
}

}  // namespace halvex
