#include "identity.hpp"

#include <algorithm>
#include <cstring>
#include <regex>

#include "pe_resources.hpp"

namespace halvex {

const std::array<const char*, 7> kVersionKeys = {
    "ProductName",     "CompanyName",    "FileDescription", "FileVersion",
    "ProductVersion",  "LegalCopyright", "OriginalFilename"};
const std::array<const char*, 3> kExecutionLevels = {"asInvoker", "highestAvailable",
                                                     "requireAdministrator"};

namespace {

// English (United States), and Unicode text: what the version information's
// one string table is named after, and the language of every resource the
// packer adds.
constexpr std::uint16_t kLanguage = 0x0409, kUnicodeCodePage = 1200;
constexpr char16_t kStringTableName[] = u"040904B0";
constexpr std::uint16_t kIdentityId = 1;
constexpr std::size_t kIcoHeader = 6, kIcoEntry = 16, kGroupEntry = 14;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t kFixedInfoSize = 52;

// --- text -------------------------------------------------------------------

std::u16string utf16_of(const std::string& utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<std::uint8_t>(utf8[i]);
    const int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0 || i + extra >= utf8.size())
      throw InvalidData("the text is not UTF-8");
    std::uint32_t code = extra ? lead & (0x3F >> extra) : lead;
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<std::uint8_t>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) throw InvalidData("the text is not UTF-8");
      code = code << 6 | (next & 0x3F);
    }
    i += 1 + extra;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 | code >> 10));
      out.push_back(static_cast<char16_t>(0xDC00 | (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

std::string utf8_of(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000)
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | code >> 6));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | code >> 12));
      out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | code >> 18));
      out.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

void append_text(Bytes& out, const std::u16string& text) {
  for (char16_t c : text) append16(out, c);
  append16(out, 0);
}

// --- version information: nodes of length, value length, type, key, value
// and children, each on a 4-byte boundary ------------------------------------

enum class ValueKind : std::uint16_t { binary = 0, text = 1 };

Bytes version_node(const std::u16string& key, ValueKind kind, std::uint16_t value_length,
                   ByteView value, const std::vector<Bytes>& children) {
  Bytes out(6, 0);
  put16(out, 2, value_length);
  put16(out, 4, static_cast<std::uint16_t>(kind));
  append_text(out, key);
  out.resize(align_up(out.size(), 4));
  out.insert(out.end(), value.begin(), value.end());
  for (const Bytes& child : children) {
    out.resize(align_up(out.size(), 4));
    out.insert(out.end(), child.begin(), child.end());
  }
  if (out.size() > 0xFFFF) throw InvalidData("the version information is longer than 65535 bytes");
  put16(out, 0, static_cast<std::uint32_t>(out.size()));
  return out;
}

Bytes string_node(const std::string& key, const std::string& value) {
  Bytes text;
  const std::u16string wide = utf16_of(value);
  append_text(text, wide);
  return version_node(utf16_of(key), ValueKind::text,
                      static_cast<std::uint16_t>(wide.size() + 1), text, {});
}

Bytes fixed_file_info(const VersionInfo& info) {
  Bytes out;
  const auto number = [&](const VersionNumber& v) {
    append32(out, static_cast<std::uint32_t>(v[0]) << 16 | v[1]);
    append32(out, static_cast<std::uint32_t>(v[2]) << 16 | v[3]);
  };
  append32(out, kFixedInfoSignature);
  append32(out, 0x00010000);  // structure version 1.0
  number(info.file_version);
  number(info.product_version);
  append32(out, 0x3F);     // every flag is meaningful, and
  append32(out, 0);        // none is set
  append32(out, 0x40004);  // VOS_NT_WINDOWS32
  append32(out, 1);        // VFT_APP
  append32(out, 0);        // no subtype
  append32(out, 0), append32(out, 0);  // no date
  return out;
}

struct VersionNode {
  std::u16string key;
  ByteView value;     // up to the first child, its padding included
  ByteView children;  // the rest of the node
};

VersionNode read_node(ByteView data) {
  if (data.size() < 6) throw InvalidData("the version information is truncated");
  const std::size_t length = u16(data, 0), value_length = u16(data, 2);
  const bool text = u16(data, 4) == static_cast<std::uint16_t>(ValueKind::text);
  if (length < 6 || length > data.size()) throw InvalidData("a version node's length is wrong");
  data = data.first(length);
  VersionNode node;
  std::size_t at = 6;
  for (; at + 1 < data.size() && u16(data, at); at += 2)
    node.key.push_back(static_cast<char16_t>(u16(data, at)));
  at = std::min(align_up(at + 2, 4), data.size());
  // Writers disagree on whether a text's length counts characters or bytes.
  const std::size_t value_end = std::min(data.size(), align_up(at + (text ? 2 : 1) * value_length, 4));
  node.value = data.subspan(at, value_end - at);
  node.children = data.subspan(value_end);
  return node;
}

// Calls `visit` on each child node of `children`.
template <typename Visit>
void for_each_node(ByteView children, Visit visit) {
  while (children.size() >= 6 && u16(children, 0)) {
    const VersionNode node = read_node(children);
    visit(node);
    children = children.subspan(std::min(children.size(), align_up(u16(children, 0), 4)));
  }
}

std::string text_value(ByteView value) {
  std::u16string out;
  for (std::size_t at = 0; at + 1 < value.size() && u16(value, at); at += 2)
    out.push_back(static_cast<char16_t>(u16(value, at)));
  return utf8_of(out);
}

VersionNumber read_version_number(ByteView d, std::size_t at) {
  return {static_cast<std::uint16_t>(u16(d, at + 2)), static_cast<std::uint16_t>(u16(d, at)),
          static_cast<std::uint16_t>(u16(d, at + 6)), static_cast<std::uint16_t>(u16(d, at + 4))};
}

VersionNumber parse_version_number(const std::string& key, const std::string& value) {
  static const std::regex leading(R"(^(\d{1,5})(?:\.(\d{1,5}))?(?:\.(\d{1,5}))?(?:\.(\d{1,5}))?)");
  std::smatch m;
  if (!std::regex_search(value, m, leading))
    throw InvalidData(key + " must begin with a version number such as 1.2.3.4, not \"" +
                      value + "\"");
  VersionNumber out{};
  for (int i = 0; i < 4; ++i) {
    const unsigned long part = m[i + 1].matched ? std::stoul(m[i + 1].str()) : 0;
    if (part > 0xFFFF) throw InvalidData(key + ": each number must be at most 65535");
    out[i] = static_cast<std::uint16_t>(part);
  }
  return out;
}

// --- icons ------------------------------------------------------------------

bool starts_as_image(ByteView data) {
  static constexpr std::uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return (data.size() >= sizeof png && std::equal(png, png + sizeof png, data.begin())) ||
         (data.size() >= 40 && u32(data, 0) == 40);
}

Bytes group_icon(const Icon& icon) {
  Bytes out;
  append16(out, 0), append16(out, 1), append16(out, static_cast<std::uint32_t>(icon.size()));
  for (std::size_t i = 0; i < icon.size(); ++i) {
    const IconImage& image = icon[i];
    out.insert(out.end(), {image.width, image.height, image.colors, 0});
    append16(out, image.planes), append16(out, image.bit_count);
    append32(out, static_cast<std::uint32_t>(image.data.size()));
    append16(out, static_cast<std::uint32_t>(i + 1));
  }
  return out;
}

const Resource* first_named(const std::vector<Resource>& all, std::uint16_t type,
                            std::uint16_t name) {
  for (const Resource& r : all)
    if (r.type == ResourceKey{type} && r.name == ResourceKey{name}) return &r;
  return nullptr;
}

Icon icon_of_group(const std::vector<Resource>& all, ByteView group) {
  if (group.size() < kIcoHeader || u16(group, 2) != 1)
    throw InvalidData("the icon group is damaged");
  const std::size_t count = u16(group, 4);
  if (!count || kIcoHeader + kGroupEntry * count > group.size())
    throw InvalidData("the icon group is damaged");
  Icon icon;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kIcoHeader + kGroupEntry * i;
    const auto id = static_cast<std::uint16_t>(u16(group, at + 12));
    const Resource* image = first_named(all, kIconType, id);
    if (!image)
      throw InvalidData("the icon group names icon " + std::to_string(id) +
                        ", which the image lacks");
    icon.push_back({group[at], group[at + 1], group[at + 2],
                    static_cast<std::uint16_t>(u16(group, at + 4)),
                    static_cast<std::uint16_t>(u16(group, at + 6)), image->data});
  }
  return icon;
}

Resource resource(std::uint16_t type, std::uint16_t name, Bytes data) {
  return {type, name, kLanguage, std::move(data), 0};
}

void remove_type(std::vector<Resource>& all, std::uint16_t type) {
  std::erase_if(all, [&](const Resource& r) { return r.type == ResourceKey{type}; });
}

}  // namespace

Icon parse_ico(ByteView file) {
  if (file.size() < kIcoHeader || u16(file, 0) != 0)
    throw InvalidData("not an icon file (no icon directory)");
  if (u16(file, 2) != 1)
    throw InvalidData(u16(file, 2) == 2 ? "a cursor file, not an icon"
                                        : "not an icon file (the directory's type is not 1)");
  const std::size_t count = u16(file, 4);
  if (!count) throw InvalidData("the icon file holds no image");
  const std::size_t directory_end = kIcoHeader + kIcoEntry * count;
  if (directory_end > file.size()) throw InvalidData("the icon directory is truncated");
  Icon icon;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kIcoHeader + kIcoEntry * i;
    const std::uint64_t size = u32(file, at + 8), offset = u32(file, at + 12);
    const std::string which = "image " + std::to_string(i + 1) + ": ";
    if (!size || offset < directory_end || offset + size > file.size())
      throw InvalidData(which + "its data lies outside the file");
    const ByteView data = file.subspan(offset, size);
    if (!starts_as_image(data)) throw InvalidData(which + "neither a PNG nor a bitmap");
    icon.push_back({file[at], file[at + 1], file[at + 2],
                    static_cast<std::uint16_t>(u16(file, at + 4)),
                    static_cast<std::uint16_t>(u16(file, at + 6)), Bytes(data.begin(), data.end())});
  }
  return icon;
}

void set_version_field(VersionInfo& info, const std::string& setting) {
  const auto equals = setting.find('=');
  const std::string key = setting.substr(0, equals);
  if (equals == std::string::npos ||
      std::find(kVersionKeys.begin(), kVersionKeys.end(), key) == kVersionKeys.end()) {
    std::string keys;
    for (const char* k : kVersionKeys) keys += std::string(keys.empty() ? "" : ", ") + k;
    throw InvalidData("\"" + setting + "\" is not KEY=VALUE with KEY one of " + keys);
  }
  const std::string value = setting.substr(equals + 1);
  utf16_of(value);  // refuses what is not UTF-8
  if (key == "FileVersion") info.file_version = parse_version_number(key, value);
  if (key == "ProductVersion") info.product_version = parse_version_number(key, value);
  const auto found = std::find_if(info.strings.begin(), info.strings.end(),
                                  [&](const auto& field) { return field.first == key; });
  if (found != info.strings.end())
    found->second = value;
  else
    info.strings.emplace_back(key, value);
}

Bytes encode_version_info(const VersionInfo& info) {
  std::vector<Bytes> strings;
  for (const auto& [key, value] : info.strings) strings.push_back(string_node(key, value));
  const Bytes table = version_node(kStringTableName, ValueKind::text, 0, {}, strings);
  Bytes translation;
  append16(translation, kLanguage), append16(translation, kUnicodeCodePage);
  const Bytes var = version_node(u"Translation", ValueKind::binary, 4, translation, {});
  return version_node(u"VS_VERSION_INFO", ValueKind::binary, kFixedInfoSize, fixed_file_info(info),
                      {version_node(u"StringFileInfo", ValueKind::text, 0, {}, {table}),
                       version_node(u"VarFileInfo", ValueKind::text, 0, {}, {var})});
}

VersionInfo decode_version_info(ByteView data) {
  const VersionNode root = read_node(data);
  if (root.key != u"VS_VERSION_INFO") throw InvalidData("the version information has no root");
  VersionInfo info;
  if (root.value.size() >= kFixedInfoSize && u32(root.value, 0) == kFixedInfoSignature) {
    info.file_version = read_version_number(root.value, 8);
    info.product_version = read_version_number(root.value, 16);
  }
  bool table_read = false;
  for_each_node(root.children, [&](const VersionNode& part) {
    if (part.key != u"StringFileInfo") return;
    for_each_node(part.children, [&](const VersionNode& table) {
      if (std::exchange(table_read, true)) return;
      for_each_node(table.children, [&](const VersionNode& field) {
        info.strings.emplace_back(utf8_of(field.key), text_value(field.value));
      });
    });
  });
  return info;
}

std::string manifest_for(const std::string& level) {
  return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level=")" +
         level + R"(" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application>
      <!-- Windows 7, 8, 8.1, and 10 and 11 -->
      <supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>
      <supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>
      <supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>
      <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
    </application>
  </compatibility>
</assembly>
)";
}

std::optional<std::string> execution_level_of(ByteView manifest) {
  // Plain searches: a pattern matcher recurses once per character, and a
  // program's manifest may be long.
  const std::string text(manifest.begin(), manifest.end());
  const std::size_t element = text.find("requestedExecutionLevel");
  if (element == std::string::npos) return std::nullopt;
  const std::string tag = text.substr(element, text.find('>', element) - element);
  for (std::size_t at = tag.find("level"); at != std::string::npos; at = tag.find("level", at + 1)) {
    std::size_t value = tag.find_first_not_of(" \t\r\n", at + 5);
    if (value == std::string::npos || tag[value] != '=') continue;
    value = tag.find_first_not_of(" \t\r\n", value + 1);
    if (value == std::string::npos || (tag[value] != '"' && tag[value] != '\'')) continue;
    const std::size_t end = tag.find(tag[value], value + 1);
    if (end != std::string::npos) return tag.substr(value + 1, end - value - 1);
  }
  return std::nullopt;
}

Identity identity_of(const std::vector<Resource>& resources) {
  Identity identity;
  for (const Resource& r : resources) {
    if (r.type == ResourceKey{kIconGroupType} && !identity.icon)
      identity.icon = icon_of_group(resources, r.data);
    else if (r.type == ResourceKey{kVersionType} && !identity.version)
      identity.version = decode_version_info(r.data);
    else if (r.type == ResourceKey{kManifestType} && !identity.execution_level)
      identity.execution_level = execution_level_of(r.data);
  }
  return identity;
}

std::vector<Resource> with_identity(std::vector<Resource> resources, const Identity& identity) {
  if (identity.icon) {
    remove_type(resources, kIconType);
    remove_type(resources, kIconGroupType);
    for (std::size_t i = 0; i < identity.icon->size(); ++i)
      resources.push_back(
          resource(kIconType, static_cast<std::uint16_t>(i + 1), (*identity.icon)[i].data));
    resources.push_back(resource(kIconGroupType, kIdentityId, group_icon(*identity.icon)));
  }
  if (identity.version) {
    remove_type(resources, kVersionType);
    resources.push_back(resource(kVersionType, kIdentityId, encode_version_info(*identity.version)));
  }
  if (identity.execution_level) {
    remove_type(resources, kManifestType);
    const std::string manifest = manifest_for(*identity.execution_level);
    resources.push_back(
        resource(kManifestType, kIdentityId, Bytes(manifest.begin(), manifest.end())));
  }
  return resources;
}

std::string version_text(const VersionNumber& v) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
         std::to_string(v[3]);
}

}  // namespace halvex
