// The resources of a PE32 image: read from its resource directory, and
// written as a new resource section into a copy of the image.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "archive.hpp"

namespace halvex {

// A resource type or name: a number, or a UTF-16 text.
using ResourceKey = std::variant<std::uint16_t, std::u16string>;

inline constexpr std::uint16_t kIconType = 3, kIconGroupType = 14, kVersionType = 16,
                               kManifestType = 24;

struct Resource {
  ResourceKey type, name;
  std::uint16_t language = 0;
  Bytes data;
  std::uint32_t code_page = 0;
  bool operator==(const Resource&) const = default;
};

// Every resource of `image`, in the order of its directory (none when it has
// no resource directory). Throws InvalidData when the directory is damaged.
std::vector<Resource> read_resources(ByteView image);

// The resources of type `type`.
std::vector<Resource> resources_of_type(const std::vector<Resource>& all, const ResourceKey& type);

// A copy of `image` whose resource section holds `resources` and nothing
// else, its headers fixed to describe it (section sizes, the resource
// directory, the image size, the checksum). The resource section must be the
// image's last section, as the platform's own resource editing requires; a
// signed image is refused, since the change would break its signature.
// Throws InvalidData with the reason.
Bytes replace_resources(ByteView image, const std::vector<Resource>& resources);

// The checksum the platform's MapFileAndCheckSum computes, over `image` with
// its own checksum field at `field` taken as zero.
std::uint32_t pe_checksum(ByteView image, std::size_t field);

}  // namespace halvex
