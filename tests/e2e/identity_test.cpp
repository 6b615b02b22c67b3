// An archive's identity as the platform reads it: the manifest through
// FindResourceW, the version information through GetFileVersionInfoW and
// VerQueryValueW, the icon through ExtractIconExW.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "launcher_driver.h"

namespace e2e {
namespace {

std::wstring ArchivePath(const std::string& name) { return Wide(DriverDirectory() + name); }

struct VersionSeen {
  std::string fileVersion;
  std::wstring productName, companyName, originalFilename;
};

std::wstring VersionString(const std::vector<char>& block, const wchar_t* key) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length)) return L"<none>";
  return static_cast<const wchar_t*>(value);
}

VersionSeen ReadVersion(const std::wstring& path) {
  VersionSeen seen;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (!size) return seen;
  std::vector<char> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return seen;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length))
    seen.fileVersion = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                       std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                       std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                       std::to_string(LOWORD(fixed->dwFileVersionLS));
  seen.productName = VersionString(block, L"ProductName");
  seen.companyName = VersionString(block, L"CompanyName");
  seen.originalFilename = VersionString(block, L"OriginalFilename");
  return seen;
}

const LPCWSTR ManifestType = MAKEINTRESOURCEW(24);  // RT_MANIFEST, wide

std::string Manifest(const std::wstring& path) {
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return "<not loaded>";
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), ManifestType);
  std::string text = found ? std::string(static_cast<const char*>(LockResource(LoadResource(module, found))),
                                         SizeofResource(module, found))
                           : "<none>";
  FreeLibrary(module);
  return text;
}

// The widths of the large and the small icon the shell extracts, 0 for none.
std::pair<int, int> IconWidths(const std::wstring& path) {
  HICON large = nullptr, small = nullptr;
  if (ExtractIconExW(path.c_str(), 0, &large, &small, 1) == 0) return {0, 0};
  const auto width = [](HICON icon) {
    ICONINFO info = {};
    BITMAP bitmap = {};
    if (!icon || !GetIconInfo(icon, &info)) return 0;
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
    return static_cast<int>(bitmap.bmWidth);
  };
  return {width(large), width(small)};
}

struct Made {
  const char* archive;
  const char* how;
};

// Every archive carries the identity identity.exe was given: by the options
// themselves, copied from a setup program that has it (with every option at
// once), or by a resource editor that added it to the launcher image.
class ArchiveIdentity : public ::testing::TestWithParam<Made> {};

TEST_P(ArchiveIdentity, ReadsBackThroughThePlatformsOwnCalls) {
  const std::wstring archive = ArchivePath(GetParam().archive);
  ASSERT_NE(GetFileAttributesW(archive.c_str()), INVALID_FILE_ATTRIBUTES);
  const VersionSeen version = ReadVersion(archive);
  EXPECT_EQ(version.fileVersion, "1.2.3.4");
  EXPECT_EQ(version.productName, L"Halvex");
  EXPECT_EQ(version.companyName, L"Halvex developers");
  EXPECT_EQ(version.originalFilename, L"HalvexSetup.exe");
  EXPECT_EQ(ExtractIconExW(archive.c_str(), -1, nullptr, nullptr, 0), 1u);
  EXPECT_EQ(IconWidths(archive), std::make_pair(GetSystemMetrics(SM_CXICON),
                                                GetSystemMetrics(SM_CXSMICON)));
}

INSTANTIATE_TEST_SUITE_P(Archives, ArchiveIdentity,
                         ::testing::Values(Made{"identity.exe", "Options"},
                                           Made{"every-option.exe", "EveryOptionFromSetup"},
                                           Made{"resource-edited.exe", "ResourceEditor"}),
                         [](const auto& info) { return std::string(info.param.how); });

TEST(ArchiveManifest, RequestsTheLevelAndDeclaresWindows7To11) {
  const std::string manifest = Manifest(ArchivePath("identity.exe"));
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
  for (const char* os : {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                         "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
    EXPECT_NE(manifest.find(os), std::string::npos) << os;
}

}  // namespace
}  // namespace e2e
