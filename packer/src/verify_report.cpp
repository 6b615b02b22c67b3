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

std::string icon_size(const IconImage& image) {
  const auto side = [](std::uint8_t s) { return std::to_string(s ? s : 256); };
  return side(image.width) + "x" + side(image.height);
}

Json icon_json(const Icon& icon) {
  Json images = Json::array();
  for (const IconImage& image : icon)
    images.push_back({{"size", icon_size(image)}, {"bits_per_pixel", image.bit_count}});
  return images;
}

Json version_json(const VersionInfo& v) {
  Json strings = Json::object();
  for (const auto& [key, value] : v.strings) strings[key] = value;
  return {{"file_version", version_text(v.file_version)},
          {"product_version", version_text(v.product_version)},
          {"strings", strings}};
}

template <typename T, typename Convert>
Json optional_json(const std::optional<T>& value, Convert convert) {
  return value ? convert(*value) : Json(nullptr);
}

Json identity_json(const Identity& id) {
  return {{"icon", optional_json(id.icon, icon_json)},
          {"version_info", optional_json(id.version, version_json)},
          {"execution_level", optional_json(id.execution_level, [](auto& l) { return Json(l); })}};
}

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
  j["identity"] = known_if(layout, identity_json(s.identity));
  // Invalid UTF-8 in a file name is replaced, never a reason to fail.
  return j.dump(2, ' ', false, Json::error_handler_t::replace);
}

std::string identity_lines(const Identity& id) {
  std::string out;
  if (id.icon) {
    out += "  icon:          " + std::to_string(id.icon->size()) + " image(s):";
    for (const IconImage& image : *id.icon)
      out += " " + icon_size(image) + "/" + std::to_string(image.bit_count) + "-bit";
    out += "\n";
  }
  if (id.version) {
    out += "  file version:  " + version_text(id.version->file_version) + ", product version " +
           version_text(id.version->product_version) + "\n";
    for (const auto& [key, value] : id.version->strings)
      out += "    " + key + ": " + value + "\n";
  }
  if (id.execution_level) out += "  execution:     " + *id.execution_level + "\n";
  return out;
}

}  // namespace halvex
