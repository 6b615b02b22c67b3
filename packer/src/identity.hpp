// An archive's identity: its icon, its version information and the
// execution level its manifest requests, as resources of the launcher image.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bytes.hpp"

namespace halvex {

struct Resource;

struct IconImage {
  // The icon directory's entry (width and height 0 stand for 256).
  std::uint8_t width = 0, height = 0, colors = 0;
  std::uint16_t planes = 0, bit_count = 0;
  Bytes data;  // a PNG, or a BITMAPINFOHEADER and the pixels
  bool operator==(const IconImage&) const = default;
};
using Icon = std::vector<IconImage>;

// The images of an .ico file; throws InvalidData with the reason.
Icon parse_ico(ByteView file);

using VersionNumber = std::array<std::uint16_t, 4>;

struct VersionInfo {
  VersionNumber file_version{}, product_version{};
  // The string fields, UTF-8, in their order.
  std::vector<std::pair<std::string, std::string>> strings;
  bool operator==(const VersionInfo&) const = default;
};

// The string fields --version-info sets.
extern const std::array<const char*, 7> kVersionKeys;

// Sets a string field from "KEY=VALUE"; FileVersion and ProductVersion also
// set their fixed numbers from the value's leading numbers ("1.2.3").
// Throws InvalidData with the reason.
void set_version_field(VersionInfo& info, const std::string& setting);

Bytes encode_version_info(const VersionInfo& info);
// The fixed numbers and the first string table; throws InvalidData.
VersionInfo decode_version_info(ByteView data);

extern const std::array<const char*, 3> kExecutionLevels;
// An application manifest with the level (one of kExecutionLevels) and the
// supported-OS entries from Windows 7 to 11.
std::string manifest_for(const std::string& level);
// The level a manifest requests, if it names one.
std::optional<std::string> execution_level_of(ByteView manifest);

struct Identity {
  std::optional<Icon> icon;
  std::optional<VersionInfo> version;
  std::optional<std::string> execution_level;
  bool empty() const { return !icon && !version && !execution_level; }
  bool operator==(const Identity&) const = default;
};

// What an image's resources say; throws InvalidData when they contradict
// themselves (an icon group naming an icon that is missing, ...).
Identity identity_of(const std::vector<Resource>& resources);
// `resources` with the parts that `identity` sets replaced by it.
std::vector<Resource> with_identity(std::vector<Resource> resources, const Identity& identity);

std::string version_text(const VersionNumber& v);

}  // namespace halvex
