#include "pe_resources.hpp"

#include <algorithm>
#include <bit>
#include <map>

namespace halvex {
namespace {

constexpr unsigned kResourceDirectory = 2;
constexpr std::uint32_t kSubdirectory = 0x80000000u;
constexpr std::size_t kDirectoryHeader = 16, kEntrySize = 8, kDataEntrySize = 16;
// More entries than any real program has; a directory whose entries all
// name the same subdirectory would otherwise multiply them.
constexpr std::size_t kMostEntries = 65536;

// Reads the directory tree: type, name and language, each one level.
class DirectoryReader {
 public:
  DirectoryReader(ByteView image, const PeInfo& pe, std::uint32_t rva) : image_(image), pe_(pe) {
    const PeSection* section = section_of(rva);
    if (!section) throw InvalidData("the resource directory lies outside the file's sections");
    base_ = section->raw_pointer + (rva - section->virtual_address);
    limit_ = std::min<std::uint64_t>(std::uint64_t{section->raw_pointer} + section->raw_size,
                                     image.size());
  }

  std::vector<Resource> read() {
    std::vector<Resource> out;
    for_each_entry(0, [&](const ResourceKey& type, std::uint32_t types) {
      for_each_entry(subdirectory(types), [&](const ResourceKey& name, std::uint32_t names) {
        for_each_entry(subdirectory(names), [&](const ResourceKey& language, std::uint32_t leaf) {
          if (leaf & kSubdirectory) throw InvalidData("a resource directory nests too deep");
          if (!std::holds_alternative<std::uint16_t>(language))
            throw InvalidData("a resource's language is a name, not a number");
          out.push_back(data_entry(type, name, std::get<std::uint16_t>(language), leaf));
        });
      });
    });
    return out;
  }

 private:
  const PeSection* section_of(std::uint32_t rva) const {
    for (const PeSection& s : pe_.section_table)
      if (rva >= s.virtual_address && rva < std::uint64_t{s.virtual_address} + s.raw_size) return &s;
    return nullptr;
  }

  std::uint64_t checked(std::uint64_t offset, std::uint64_t size) const {
    if (base_ + offset + size > limit_)
      throw InvalidData("the resource directory runs past its section");
    return base_ + offset;
  }

  static std::uint32_t subdirectory(std::uint32_t to) {
    if (!(to & kSubdirectory)) throw InvalidData("a resource directory ends too early");
    return to & ~kSubdirectory;
  }

  template <typename Visit>
  void for_each_entry(std::uint32_t directory, Visit visit) {
    const std::uint64_t at = checked(directory, kDirectoryHeader);
    const std::uint32_t count = u16(image_, at + 12) + u16(image_, at + 14);
    const std::uint64_t entries = checked(directory + kDirectoryHeader, kEntrySize * count);
    for (std::uint32_t i = 0; i < count; ++i) {
      if (++visited_ > kMostEntries) throw InvalidData("too many resource directory entries");
      const std::uint32_t name = u32(image_, entries + kEntrySize * i);
      visit(key(name), u32(image_, entries + kEntrySize * i + 4));
    }
  }

  ResourceKey key(std::uint32_t name) const {
    if (!(name & kSubdirectory)) {
      if (name > 0xFFFF) throw InvalidData("a resource number above 65535");
      return static_cast<std::uint16_t>(name);
    }
    const std::uint32_t offset = name & ~kSubdirectory;
    const std::uint64_t length = u16(image_, checked(offset, 2));
    const std::uint64_t text = checked(offset + 2, 2 * length);
    std::u16string out;
    for (std::uint64_t i = 0; i < length; ++i)
      out.push_back(static_cast<char16_t>(u16(image_, text + 2 * i)));
    return out;
  }

  Resource data_entry(const ResourceKey& type, const ResourceKey& name, std::uint16_t language,
                      std::uint32_t entry) {
    const std::uint64_t at = checked(entry, kDataEntrySize);
    const std::uint32_t rva = u32(image_, at), size = u32(image_, at + 4);
    const auto offset = pe_.offset_of(rva, size);
    if (!offset || *offset + size > image_.size())
      throw InvalidData("a resource's data lies outside the file's sections");
    // Resources never share their data in a real program: more data than
    // the file holds means a directory made to multiply it.
    if ((data_bytes_ += size) > image_.size()) throw InvalidData("the resources' data overlap");
    const auto data = image_.subspan(*offset, size);
    return {type, name, language, Bytes(data.begin(), data.end()), u32(image_, at + 8)};
  }

  ByteView image_;
  const PeInfo& pe_;
  std::uint64_t base_ = 0, limit_ = 0;
  std::size_t visited_ = 0;
  std::uint64_t data_bytes_ = 0;
};

// The order the platform's lookup expects: names (compared without regard
// to ASCII case) before numbers, numbers ascending.
struct KeyOrder {
  static std::u16string upper(const std::u16string& s) {
    std::u16string out = s;
    for (char16_t& c : out)
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return out;
  }
  bool operator()(const ResourceKey& a, const ResourceKey& b) const {
    if (a.index() != b.index()) return a.index() > b.index();  // names first
    if (const auto* x = std::get_if<std::uint16_t>(&a)) return *x < std::get<std::uint16_t>(b);
    return upper(std::get<std::u16string>(a)) < upper(std::get<std::u16string>(b));
  }
};

using LanguageMap = std::map<std::uint16_t, const Resource*>;
using NameMap = std::map<ResourceKey, LanguageMap, KeyOrder>;
using TypeMap = std::map<ResourceKey, NameMap, KeyOrder>;

// Lays out a resource section: the three levels of directories, the data
// entries, the names, then each resource's data on an 8-byte boundary.
class SectionWriter {
 public:
  SectionWriter(const std::vector<Resource>& resources, std::uint32_t rva) : rva_(rva) {
    for (const Resource& r : resources) tree_[r.type][r.name][r.language] = &r;
  }

  Bytes write() {
    std::size_t directories = directory_size(tree_.size()), entries = 0, strings = 0;
    for (const auto& [type, names] : tree_) {
      directories += directory_size(names.size());
      strings += string_size(type);
      for (const auto& [name, languages] : names) {
        directories += directory_size(languages.size());
        strings += string_size(name);
        entries += languages.size();
      }
    }
    next_directory_ = directory_size(tree_.size());
    next_entry_ = directories;
    next_string_ = next_entry_ + kDataEntrySize * entries;
    out_.assign(next_string_ + strings, 0);
    write_types();
    return std::move(out_);
  }

 private:
  static std::size_t directory_size(std::size_t entries) {
    return kDirectoryHeader + kEntrySize * entries;
  }
  static bool is_name(const ResourceKey& key) { return std::holds_alternative<std::u16string>(key); }
  static bool is_name(std::uint16_t) { return false; }
  static std::size_t string_size(const ResourceKey& key) {
    const auto* name = std::get_if<std::u16string>(&key);
    return name ? 2 + 2 * name->size() : 0;
  }

  // Writes a directory's header and returns where its entries go.
  template <typename Map>
  std::size_t begin_directory(std::size_t at, const Map& map) {
    const auto named = std::count_if(map.begin(), map.end(),
                                     [](const auto& kv) { return is_name(kv.first); });
    put16(out_, at + 12, static_cast<std::uint32_t>(named));
    put16(out_, at + 14, static_cast<std::uint32_t>(map.size() - named));
    return at + kDirectoryHeader;
  }

  static std::uint32_t key_field(std::uint16_t language) { return language; }
  std::uint32_t key_field(const ResourceKey& key) {
    if (const auto* id = std::get_if<std::uint16_t>(&key)) return *id;
    const auto& name = std::get<std::u16string>(key);
    const std::size_t at = next_string_;
    put16(out_, at, static_cast<std::uint32_t>(name.size()));
    for (std::size_t i = 0; i < name.size(); ++i) put16(out_, at + 2 + 2 * i, name[i]);
    next_string_ += string_size(key);
    return static_cast<std::uint32_t>(at) | kSubdirectory;
  }

  template <typename Map, typename Child>
  void write_directory(std::size_t at, const Map& map, Child child) {
    std::size_t entry = begin_directory(at, map);
    for (const auto& [key, value] : map) {
      put32(out_, entry, key_field(key));
      put32(out_, entry + 4, child(value));
      entry += kEntrySize;
    }
  }

  std::uint32_t new_directory(std::size_t entries) {
    const std::size_t at = next_directory_;
    next_directory_ += directory_size(entries);
    return static_cast<std::uint32_t>(at);
  }

  void write_types() {
    write_directory(0, tree_, [&](const NameMap& names) {
      const std::uint32_t at = new_directory(names.size());
      write_directory(at, names, [&](const LanguageMap& languages) {
        const std::uint32_t inner = new_directory(languages.size());
        write_directory(inner, languages, [&](const Resource* r) { return write_data(*r); });
        return inner | kSubdirectory;
      });
      return at | kSubdirectory;
    });
  }

  std::uint32_t write_data(const Resource& r) {
    const std::size_t entry = next_entry_;
    next_entry_ += kDataEntrySize;
    const std::size_t at = align_up(out_.size(), 8);
    out_.resize(at);
    out_.insert(out_.end(), r.data.begin(), r.data.end());
    put32(out_, entry, static_cast<std::uint32_t>(rva_ + at));
    put32(out_, entry + 4, static_cast<std::uint32_t>(r.data.size()));
    put32(out_, entry + 8, r.code_page);
    return static_cast<std::uint32_t>(entry);
  }

  std::uint32_t rva_;
  TypeMap tree_;
  Bytes out_;
  std::size_t next_directory_ = 0, next_entry_ = 0, next_string_ = 0;
};

// Offsets in the optional header of a PE32 image.
constexpr std::size_t kSizeOfInitializedData = 8, kFileAlignment = 36, kSectionAlignment = 32,
                      kSizeOfImage = 56, kCheckSum = 64;

const PeSection& resource_section(ByteView image, const PeInfo& pe) {
  const auto directory = pe.directory(image, kResourceDirectory);
  const std::uint32_t rva = directory.first;
  if (!rva || !directory.second) throw InvalidData("the image has no resource section");
  const auto found = std::find_if(pe.section_table.begin(), pe.section_table.end(),
                                  [&](const PeSection& s) { return s.virtual_address == rva; });
  if (found == pe.section_table.end())
    throw InvalidData("the resource directory does not begin a section of its own");
  for (const PeSection& s : pe.section_table) {
    if (&s == &*found) continue;
    if (s.virtual_address >= found->virtual_address || s.raw_pointer >= found->raw_pointer)
      throw InvalidData("the resource section is not the image's last section");
    // Rewriting the section must change no other section's bytes or addresses.
    if (std::uint64_t{s.virtual_address} + std::max(s.virtual_size, s.raw_size) >
            found->virtual_address ||
        (s.raw_size && std::uint64_t{s.raw_pointer} + s.raw_size > found->raw_pointer))
      throw InvalidData("another section overlaps the resource section");
  }
  return *found;
}

}  // namespace

std::vector<Resource> read_resources(ByteView image) {
  const PeInfo pe = parse_pe32(image);
  const auto [rva, size] = pe.directory(image, kResourceDirectory);
  if (!rva || !size) return {};
  return DirectoryReader(image, pe, rva).read();
}

std::vector<Resource> resources_of_type(const std::vector<Resource>& all, const ResourceKey& type) {
  std::vector<Resource> out;
  std::copy_if(all.begin(), all.end(), std::back_inserter(out),
               [&](const Resource& r) { return r.type == type; });
  return out;
}

Bytes replace_resources(ByteView image, const std::vector<Resource>& resources) {
  const PeInfo pe = parse_pe32(image);
  if (pe.certificate_size)
    throw InvalidData("the image is signed: changing its resources would break its signature; "
                      "give an unsigned launcher image, and sign the archive once it is built");
  const PeSection& old = resource_section(image, pe);
  const std::uint64_t opt = pe.optional_header;
  const std::uint32_t file_alignment = u32(image, opt + kFileAlignment);
  const std::uint32_t section_alignment = u32(image, opt + kSectionAlignment);
  // As the format allows them: a power of two from 512 to 64 KiB for the
  // file, no less for the sections.
  const bool aligned = std::has_single_bit(file_alignment) && file_alignment >= 512 &&
                       file_alignment <= 0x10000 && std::has_single_bit(section_alignment) &&
                       section_alignment >= file_alignment;
  if (!aligned || std::uint64_t{old.raw_pointer} + old.raw_size > image.size())
    throw InvalidData("the image's alignments or its resource section are damaged");

  Bytes section = SectionWriter(resources, old.virtual_address).write();
  const auto virtual_size = static_cast<std::uint32_t>(section.size());
  section.resize(align_up(section.size(), file_alignment));
  const auto raw_size = static_cast<std::uint32_t>(section.size());

  Bytes out(image.begin(), image.begin() + old.raw_pointer);
  out.insert(out.end(), section.begin(), section.end());
  out.insert(out.end(), image.begin() + old.raw_pointer + old.raw_size, image.end());
  put32(out, old.header_offset + 8, virtual_size);
  put32(out, old.header_offset + 16, raw_size);
  put32(out, opt + 96 + 8 * kResourceDirectory + 4, virtual_size);
  put32(out, opt + kSizeOfInitializedData,
        u32(out, opt + kSizeOfInitializedData) + raw_size - old.raw_size);
  put32(out, opt + kSizeOfImage,
        static_cast<std::uint32_t>(
            align_up(std::uint64_t{old.virtual_address} + virtual_size, section_alignment)));
  put32(out, opt + kCheckSum, pe_checksum(out, opt + kCheckSum));
  return out;
}

std::uint32_t pe_checksum(ByteView image, std::size_t field) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < image.size(); i += 2) {
    if (i >= field && i < field + 4) continue;
    sum += image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + image.size());
}

}  // namespace halvex
