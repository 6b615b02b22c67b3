// The built launcher image, read as Windows reads it: a PE32 GUI program
// whose only resource is dialog template 100, exactly as the dialog needs it.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string ImagePath = HALVEX_LAUNCHER_IMAGE_PATH;

std::vector<unsigned char> ReadImage() {
  std::ifstream file(ImagePath, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// Reads the fields of a classic DLGTEMPLATE and its items in order.
class TemplateReader {
 public:
  explicit TemplateReader(const void* at)
      : at_(static_cast<const unsigned char*>(at)) {}

  uint32_t Dword() { return Take<uint32_t>(); }
  uint16_t Word() { return Take<uint16_t>(); }
  int16_t Short() { return Take<int16_t>(); }
  // A string of WCHARs up to a zero, or 0xFFFF followed by an ordinal.
  std::string SzOrOrdinal() {
    if (Peek() == 0xFFFF) {
      Word();
      return "#" + std::to_string(Word());
    }
    std::string text;
    while (uint16_t c = Word()) text += static_cast<char>(c);
    return text;
  }
  void AlignDword() { offset_ = (offset_ + 3) & ~size_t{3}; }

 private:
  template <typename T>
  T Take() {
    T value;
    std::memcpy(&value, at_ + offset_, sizeof value);
    offset_ += sizeof value;
    return value;
  }
  uint16_t Peek() const {
    uint16_t value;
    std::memcpy(&value, at_ + offset_, sizeof value);
    return value;
  }

  const unsigned char* at_;
  size_t offset_ = 0;
};

struct Item {
  uint32_t style;
  int16_t x, y, cx, cy;
  uint16_t id;
  std::string classOrdinal;
  std::string text;
};

class LauncherImage : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExA(ImagePath.c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr) << ImagePath;
  }
  void TearDown() override { FreeLibrary(module_); }

  HMODULE module_ = nullptr;
};

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR found) {
  reinterpret_cast<std::vector<std::string>*>(found)->push_back(
      IS_INTRESOURCE(type) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(type))
                           : std::string(type));
  return TRUE;
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR found) {
  reinterpret_cast<std::vector<std::string>*>(found)->push_back(
      IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(name))
                           : std::string(name));
  return TRUE;
}

TEST_F(LauncherImage, HoldsDialogTemplate100AndNoOtherResource) {
  std::vector<std::string> types;
  EnumResourceTypesA(module_, CollectType, reinterpret_cast<LONG_PTR>(&types));
  EXPECT_EQ(types, std::vector<std::string>{"#5"});  // RT_DIALOG
  std::vector<std::string> names;
  EnumResourceNamesA(module_, RT_DIALOG, CollectName,
                     reinterpret_cast<LONG_PTR>(&names));
  EXPECT_EQ(names, std::vector<std::string>{"#100"});
}

TEST_F(LauncherImage, DialogTemplate100HasEveryFieldTheDialogNeeds) {
  HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(100), RT_DIALOG);
  ASSERT_NE(found, nullptr);
  TemplateReader read(LockResource(LoadResource(module_, found)));

  EXPECT_EQ(read.Dword(), 0x90C80040u);  // style: not DLGTEMPLATEEX's 0xFFFF0001
  EXPECT_EQ(read.Dword(), 0u);           // extended style
  EXPECT_EQ(read.Word(), 6);
  EXPECT_EQ(read.Short(), 61);
  EXPECT_EQ(read.Short(), 33);
  EXPECT_EQ(read.Short(), 216);
  EXPECT_EQ(read.Short(), 63);
  EXPECT_EQ(read.SzOrOrdinal(), "");  // no menu
  EXPECT_EQ(read.SzOrOrdinal(), "");  // the platform's dialog class
  EXPECT_EQ(read.SzOrOrdinal(), "Halvex setup");
  EXPECT_EQ(read.Word(), 9);
  EXPECT_EQ(read.SzOrOrdinal(), "MS Shell Dlg");

  const Item expected[] = {
      {0x50020000, 3, 3, 147, 18, 101, "#130",
       "This will prepare and run Halvex setup program."},
      {0x50010000, 171, 3, 40, 14, 111, "#128", "&Install"},
      {0x50010000, 171, 24, 40, 14, 110, "#128", "&Abort"},
      {0x50020000, 3, 23, 145, 19, 104, "#130",
       "Halvex is caching proxy server, that connects your LAN to Internet."},
      {0x50000007, 3, 46, 208, 1, 102, "#130", ""},
      {0x50020000, 3, 51, 165, 8, 103, "#130", "Decompressing setup : 0%"},
  };
  for (const Item& item : expected) {
    SCOPED_TRACE(item.id);
    read.AlignDword();
    EXPECT_EQ(read.Dword(), item.style);
    EXPECT_EQ(read.Dword(), 0u);  // extended style
    EXPECT_EQ(read.Short(), item.x);
    EXPECT_EQ(read.Short(), item.y);
    EXPECT_EQ(read.Short(), item.cx);
    EXPECT_EQ(read.Short(), item.cy);
    EXPECT_EQ(read.Word(), item.id);
    EXPECT_EQ(read.SzOrOrdinal(), item.classOrdinal);
    EXPECT_EQ(read.SzOrOrdinal(), item.text);
    EXPECT_EQ(read.Word(), 0);  // no creation data
  }
}

// The first occurrence of the marker wins, so a copy inside the image would
// be taken for the real one.
TEST(LauncherImageFile, HoldsTheMarkerHalvesApartButNeverJoined) {
  const std::vector<unsigned char> image = ReadImage();
  ASSERT_FALSE(image.empty());
  const std::string bytes(image.begin(), image.end());
  EXPECT_EQ(bytes.find("Archive sTaRT"), std::string::npos);
  EXPECT_NE(bytes.find("Archive "), std::string::npos);
  EXPECT_NE(bytes.find("sTaRT"), std::string::npos);
}

// The image as the file holds it, its headers and sections found through the
// platform's own structures.
class ImageFile {
 public:
  ImageFile() : bytes_(ReadImage()) {}
  bool Read() const { return bytes_.size() > sizeof(IMAGE_DOS_HEADER); }
  const IMAGE_NT_HEADERS32& Nt() const {
    return *At<IMAGE_NT_HEADERS32>(
        reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes_.data())->e_lfanew);
  }
  const IMAGE_DATA_DIRECTORY& Directory(int entry) const {
    return Nt().OptionalHeader.DataDirectory[entry];
  }
  // The file offset of `rva`, or 0 when no section's file bytes hold it.
  size_t OffsetOf(DWORD rva, DWORD size) const {
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(&Nt());
    for (int i = 0; i < Nt().FileHeader.NumberOfSections; ++i, ++section)
      if (rva >= section->VirtualAddress &&
          rva + size <= section->VirtualAddress + section->SizeOfRawData)
        return section->PointerToRawData + (rva - section->VirtualAddress);
    return 0;
  }
  template <typename T>
  const T* At(size_t offset) const {
    return reinterpret_cast<const T*>(bytes_.data() + offset);
  }

 private:
  std::vector<unsigned char> bytes_;
};

// Release checkers and exploit protection ("force randomization, require
// relocations") expect a relocatable image marked for ASLR, NX and terminal
// servers.
TEST(LauncherImageFile, IsRelocatableWithAslrNxAndTerminalServerAware) {
  const ImageFile image;
  ASSERT_TRUE(image.Read());
  EXPECT_EQ(image.Nt().FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED, 0);
  const WORD expected = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE |
                        IMAGE_DLLCHARACTERISTICS_NX_COMPAT |
                        IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE;
  EXPECT_EQ(image.Nt().OptionalHeader.DllCharacteristics & expected, expected);
  EXPECT_GT(image.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size, 0u);
}

// Every relocation patches an address inside the image that points inside
// the image, and none points into the resource directory: a resource editor
// rewrites it, so the code must address nothing there.
TEST(LauncherImageFile, EveryRelocationPointsInsideTheImageAndOutsideItsResources) {
  const ImageFile image;
  ASSERT_TRUE(image.Read());
  const IMAGE_OPTIONAL_HEADER32& header = image.Nt().OptionalHeader;
  const IMAGE_DATA_DIRECTORY& relocations =
      image.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC);
  const IMAGE_DATA_DIRECTORY& resources =
      image.Directory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
  const size_t table = image.OffsetOf(relocations.VirtualAddress, relocations.Size);
  ASSERT_NE(table, 0u);
  int patched = 0;
  for (DWORD at = 0; at < relocations.Size;) {
    const auto* block = image.At<IMAGE_BASE_RELOCATION>(table + at);
    ASSERT_GE(block->SizeOfBlock, sizeof(IMAGE_BASE_RELOCATION));
    ASSERT_LE(at + block->SizeOfBlock, relocations.Size);
    const auto* entry = image.At<WORD>(table + at + sizeof(IMAGE_BASE_RELOCATION));
    const size_t entries =
        (block->SizeOfBlock - sizeof(IMAGE_BASE_RELOCATION)) / sizeof(WORD);
    for (size_t i = 0; i < entries; ++i) {
      const int type = entry[i] >> 12;
      if (type == IMAGE_REL_BASED_ABSOLUTE) continue;  // padding
      SCOPED_TRACE(block->VirtualAddress + (entry[i] & 0xFFF));
      ASSERT_EQ(type, IMAGE_REL_BASED_HIGHLOW);
      const DWORD site = block->VirtualAddress + (entry[i] & 0xFFF);
      const size_t offset = image.OffsetOf(site, sizeof(DWORD));
      ASSERT_NE(offset, 0u) << "the patched address lies outside the file's sections";
      const DWORD target = *image.At<DWORD>(offset) - header.ImageBase;
      EXPECT_LT(target, header.SizeOfImage);
      EXPECT_FALSE(target >= resources.VirtualAddress &&
                   target < resources.VirtualAddress + resources.Size)
          << "the code addresses the resource section at " << target;
      ++patched;
    }
    at += block->SizeOfBlock;
  }
  EXPECT_GT(patched, 0);
}

// ADVAPI32 reads and sets the workspace's security; it is on every Windows.
TEST(LauncherImageFile, IsAPe32GuiProgramImportingOnlyKernel32User32Advapi32) {
  HMODULE image = LoadLibraryExA(ImagePath.c_str(), nullptr,
                                 DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(image, nullptr);
  auto base = reinterpret_cast<const unsigned char*>(image);
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  EXPECT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  EXPECT_EQ(nt->FileHeader.TimeDateStamp, 0u);  // reproducible builds

  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::vector<std::string> dlls;
  std::vector<std::string> ansiOutsideUser32;
  for (auto entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
           base + directory.VirtualAddress);
       entry->Name != 0; ++entry) {
    std::string name = reinterpret_cast<const char*>(base + entry->Name);
    for (char& c : name) c = static_cast<char>(toupper(c));
    dlls.push_back(name);
    // Paths go only through wide calls; the dialog's and the message box's
    // texts are ASCII, so USER32's ANSI calls are what may end in A.
    for (auto thunk = reinterpret_cast<const IMAGE_THUNK_DATA32*>(
             base + entry->OriginalFirstThunk);
         thunk->u1.AddressOfData != 0; ++thunk) {
      const std::string function = reinterpret_cast<const char*>(
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
              base + thunk->u1.AddressOfData)->Name);
      if (function.back() == 'A' && name != "USER32.DLL")
        ansiOutsideUser32.push_back(function);
    }
  }
  std::sort(dlls.begin(), dlls.end());
  EXPECT_EQ(dlls, (std::vector<std::string>{"ADVAPI32.DLL", "KERNEL32.DLL",
                                            "USER32.DLL"}));
  EXPECT_EQ(ansiOutsideUser32, std::vector<std::string>{});
  FreeLibrary(image);
}

}  // namespace
