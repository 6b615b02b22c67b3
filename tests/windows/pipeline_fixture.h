#pragma once
// Helpers for the Wine tests of the workspace, the status line and the
// pipeline: a scratch directory with the process's temporary path pointed
// into it, a window whose control 103 records every text it is given, files
// read and written whole, and crafted SZDD payloads.

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "account.h"
#include "directory_security.h"
#include "extract.h"
#include "fault_injection.h"

namespace test {

// A process-wide text of the launcher's, as UTF-8.
inline std::string Utf8(const ProcessText& text) {
  return platform::faults::Utf8(std::wstring(text.CString(), text.length));
}

inline std::string ReadWhole(const std::string& path) {
  std::string bytes;
  HANDLE file = ::CreateFileW(platform::Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(::GetFileSize(file, nullptr));
  DWORD read = 0;
  ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read,
             nullptr);
  ::CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

inline bool WriteWhole(const std::string& path, const std::string& bytes) {
  HANDLE file = ::CreateFileW(platform::Wide(path).c_str(), GENERIC_WRITE, 0,
                              nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool done = ::WriteFile(file, bytes.data(),
                                static_cast<DWORD>(bytes.size()), &written,
                                nullptr) &&
                    written == bytes.size();
  ::CloseHandle(file);
  return done;
}

// 0 when absent, else the entry's attributes with a bit that is always set.
inline DWORD Attributes(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes | 0x80000000u;
}
inline bool IsDirectory(const std::string& path) {
  return Attributes(path) & FILE_ATTRIBUTE_DIRECTORY;
}
inline bool IsFile(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A Unix path of the build tree as Wine's drive Z: shows it.
inline std::string FromUnix(std::string path) {
  for (char& byte : path)
    if (byte == '/') byte = '\\';
  return "Z:" + path;
}

// A fresh directory of the test's own under Wine's temporary path, with
// TMP and TEMP pointed at its "tmp" subdirectory for the test's duration.
// The launcher's process-wide state and the fault layer start empty.
class Scratch {
 public:
  Scratch() {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    root_ = std::string(base) + "halvex-test-" +
            std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(++count_) + "\\";
    std::error_code ignored;  // a leftover too deep to remove is no failure
    std::filesystem::remove_all(root_, ignored);
    ::CreateDirectoryA(root_.c_str(), nullptr);
    ::CreateDirectoryA(Temp().c_str(), nullptr);
    SetTemp(Temp());
    ReadRunAccount();
    platform::faults::Reset();
    ReleaseExtractState();
    ProgressPercent = 0;
  }
  ~Scratch() {
    platform::faults::Reset();
    ReleaseExtractState();
    ::SetEnvironmentVariableA("TMP", nullptr);
    ::SetEnvironmentVariableA("TEMP", nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  // Outside the temporary path: where a test keeps its own files.
  std::string Root() const { return root_; }
  // The temporary path the platform reports, with its trailing backslash.
  std::string Temp() const { return root_ + "tmp\\"; }
  std::string Workspace() const { return Temp() + "Halvex"; }
  std::string InWorkspace(const char* name) const {
    return Workspace() + "\\" + name;
  }
  static void SetTemp(const std::string& path) {
    ::SetEnvironmentVariableA("TMP", path.c_str());
    ::SetEnvironmentVariableA("TEMP", path.c_str());
  }
  // Names of the entries in the temporary path.
  std::vector<std::string> TempEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Temp()))
      names.push_back(entry.path().filename().string());
    return names;
  }

 private:
  static inline int count_ = 0;
  std::string root_;
};

// A hidden top-level window whose child 103 records every text set on it,
// standing in for the launcher's dialog.
class StatusWindow {
 public:
  StatusWindow() {
    Register("HalvexTestParent", ::DefWindowProcA);
    Register("HalvexTestStatus", Record);
    parent_ = ::CreateWindowExA(0, "HalvexTestParent", "", WS_OVERLAPPEDWINDOW,
                                0, 0, 300, 100, nullptr, nullptr, nullptr,
                                nullptr);
    ::CreateWindowExA(0, "HalvexTestStatus", "Decompressing setup : 0%",
                      WS_CHILD, 0, 0, 280, 20, parent_,
                      reinterpret_cast<HMENU>(StatusLineId), nullptr, nullptr);
    Texts().clear();
  }
  ~StatusWindow() { ::DestroyWindow(parent_); }
  StatusWindow(const StatusWindow&) = delete;
  StatusWindow& operator=(const StatusWindow&) = delete;

  HWND Handle() const { return parent_; }
  static std::vector<std::string>& Texts() {
    static std::vector<std::string> texts;
    return texts;
  }

 private:
  static void Register(const char* name, WNDPROC procedure) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.lpszClassName = name;
    ::RegisterClassA(&windowClass);  // fails harmlessly when already there
  }
  static LRESULT CALLBACK Record(HWND window, UINT message, WPARAM w,
                                 LPARAM l) {
    if (message == WM_SETTEXT)
      Texts().push_back(reinterpret_cast<const char*>(l));
    return ::DefWindowProcA(window, message, w, l);
  }

  HWND parent_;
};

inline std::string Progress(int percent, bool starting = false) {
  return "Decompressing setup : " + std::to_string(percent) + "%" +
         (starting ? " starting setup program ..." : "");
}

// The status texts of a successful run, with the percentage after each full
// piece computed in wide arithmetic; a percentage equal to the one before
// is not shown again.
inline std::vector<std::string> ExpectedTexts(int64_t expanded,
                                              int64_t compressed) {
  std::vector<std::string> texts = {Progress(0), Progress(25), Progress(50)};
  for (int64_t piece = 1; piece <= expanded / 65536; ++piece) {
    const int64_t percent =
        compressed > 0 ? piece * 65536 * 50 / compressed + 50 : 50;
    const std::string text =
        Progress(percent > 100 ? 100 : static_cast<int>(percent));
    if (text != texts.back()) texts.push_back(text);
  }
  texts.push_back(Progress(100, true));
  return texts;
}

// Byte `position` of a crafted payload's expanded data: a pattern with a
// period of its own, so that a match can copy it from one period back.
constexpr int CraftPeriod = 1000;
inline char CraftedByte(int64_t position) {
  const int phase = static_cast<int>(position % CraftPeriod);
  return static_cast<char>(phase * 37 + phase / 7);
}

// An SZDD file of exactly `compressedSize` bytes, header included, that
// expands to `expandedSize` bytes of CraftedByte: literals first, then
// matches of 3 to 18 bytes, each copying from one period back in the 4 KiB
// window. Empty when no mix of literals and matches fits.
inline std::string CraftedPayload(int64_t compressedSize,
                                  int64_t expandedSize) {
  constexpr int64_t header = 14;
  for (int64_t matches = 0; matches <= expandedSize / 3; ++matches) {
    // Literals so that header + literals + 2 * matches + flag bytes fits.
    const int64_t room = compressedSize - header - 2 * matches;
    for (int64_t literals = (room * 8 - matches) / 9 - 2;
         literals <= (room * 8 - matches) / 9 + 2; ++literals) {
      if (literals < CraftPeriod) continue;
      const int64_t flags = (literals + matches + 7) / 8;
      const int64_t matched = expandedSize - literals;
      if (literals + flags != room || matched < 3 * matches ||
          matched > 18 * matches || (matches == 0 && matched != 0))
        continue;
      std::string out = {'S', 'Z', 'D', 'D', '\x88', '\xf0', '\x27', '\x33',
                         'A', '\0'};
      for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>(expandedSize >> shift);
      int64_t position = 0;
      size_t flagAt = 0;
      for (int64_t item = 0; item < literals + matches; ++item) {
        if (item % 8 == 0) {
          flagAt = out.size();
          out += '\0';
        }
        if (item < literals) {
          out[flagAt] = static_cast<char>(out[flagAt] | (1 << (item % 8)));
          out += CraftedByte(position++);
          continue;
        }
        const int64_t index = item - literals;
        const int length = static_cast<int>(
            matched / matches + (index < matched % matches ? 1 : 0));
        const int source = static_cast<int>((0xFF0 + position - CraftPeriod) & 0xFFF);
        out += static_cast<char>(source & 0xFF);
        out += static_cast<char>(((source >> 4) & 0xF0) | (length - 3));
        position += length;
      }
      return out;
    }
  }
  return {};
}

// The launcher image followed by the marker and `payload`.
inline std::string SelfArchive(const std::string& payload) {
  return ReadWhole(FromUnix(HALVEX_LAUNCHER_IMAGE)) + "Archive sTaRT" + payload;
}

inline std::string PipelineData(const char* name) {
  return ReadWhole(FromUnix(std::string(HALVEX_PIPELINE_DATA) + "/" + name));
}

}  // namespace test
