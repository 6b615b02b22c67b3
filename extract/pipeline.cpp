// The extraction pipeline: reads the self-archive whole, writes every byte
// after the marker into a new "setup.ex_" in the run's own workspace,
// expands that into a new "setup.exe" in pieces of 64 KiB through LZ32, and
// deletes "setup.ex_" again. Each failure shows its own message; one
// clean-up runs on every way out.

#include "extract.h"
#include "platform.h"
#include "signed_archive.h"

ProcessText CompressedSetupPath;

namespace {

constexpr DWORD PathBufferSize = MAX_PATH + 1;  // in units
constexpr DWORD FirstOwnPathSize = 512;
constexpr DWORD LongestPath = 32768;  // units, the platform's limit
constexpr int ExpansionPieceSize = 65536;
// Sizes are signed 32-bit: the whole self-archive must be below 2 GiB.
constexpr DWORD LargestArchiveSize = 0x7FFFFFFF;

// A block from the process heap, freed when the owner goes out of scope.
class HeapBlock {
 public:
  HeapBlock() = default;
  explicit HeapBlock(DWORD size) : bytes_(platform::HeapAlloc(size)) {}
  ~HeapBlock() {
    if (bytes_) platform::HeapFree(bytes_);
  }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;

  unsigned char* Bytes() const { return static_cast<unsigned char*>(bytes_); }
  bool Held() const { return bytes_ != nullptr; }
  void Allocate(DWORD size) { bytes_ = platform::HeapAlloc(size); }

 private:
  void* bytes_ = nullptr;
};

// What one run holds; its destructor is the pipeline's one clean-up.
struct PipelineResources {
  HANDLE fileSlot = INVALID_HANDLE_VALUE;  // the self-archive, later "setup.exe"
  HANDLE compressedFile = INVALID_HANDLE_VALUE;  // "setup.ex_"
  INT expansion = -1;  // from LZInit on, it holds "setup.ex_"
  HeapBlock expansionBuffer;

  PipelineResources() = default;
  PipelineResources(const PipelineResources&) = delete;
  PipelineResources& operator=(const PipelineResources&) = delete;

  ~PipelineResources() {
    CloseFileOnce(fileSlot);
    CloseCompressedFile();
    if (!CompressedSetupPath.Empty())
      platform::DeleteFileW(CompressedSetupPath.CString());
  }

  void CloseCompressedFile() {
    if (expansion >= 0) {
      platform::LZClose(expansion);
      expansion = -1;
      compressedFile = INVALID_HANDLE_VALUE;  // LZClose closed it
    }
    CloseFileOnce(compressedFile);
  }
};

bool Fail(const char* message) {
  ShowSetupError(message);
  return false;
}

int UnitsBeforeZero(const wchar_t* units, DWORD limit) {
  DWORD length = 0;
  while (length < limit && units[length] != 0) ++length;
  return static_cast<int>(length);
}

// The user's temporary path; empty when the platform reports none. A path
// longer than the usual buffer is asked for once more with the size the
// platform said it needs.
Text TemporaryPath() {
  wchar_t buffer[PathBufferSize];
  wchar_t* path = buffer;
  DWORD length = platform::GetTempPathW(PathBufferSize, buffer);
  HeapBlock larger;
  if (length >= PathBufferSize) {
    const DWORD needed = length;
    larger.Allocate(needed * sizeof(wchar_t));
    path = reinterpret_cast<wchar_t*>(larger.Bytes());
    length = larger.Held() ? platform::GetTempPathW(needed, path) : 0;
    if (length >= needed) length = 0;  // still too long: as if none
  }
  return Text(TextView{path, UnitsBeforeZero(path, length)});
}

}  // namespace

// A path that does not fit is asked for again with twice the room, so that a
// deep folder never gives a cut path.
Text OwnPath() {
  for (DWORD size = FirstOwnPathSize; size <= LongestPath; size *= 2) {
    HeapBlock buffer(size * sizeof(wchar_t));
    if (!buffer.Held()) break;
    auto* path = reinterpret_cast<wchar_t*>(buffer.Bytes());
    const DWORD length = platform::GetModuleFileNameW(path, size);
    if (length < size) return Text(TextView{path, static_cast<int>(length)});
  }
  return Text();
}

namespace {

// Sets `slot` to «<workspace>\<name>»; false when out of memory.
bool AssignWorkspaceFile(ProcessText& slot, TextView workspace, TextView name) {
  Text path = AddBackslash(workspace);
  path.Append(name);
  return !path.Failed() && AssignProcessText(slot, path.View());
}

// A write that reports success but wrote less than asked is a failure too:
// it would pass a truncated file on as complete.
bool WriteAll(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  return platform::WriteFile(file, data, size, &written) && written == size;
}

// The percentage after a full piece: 50 and half the expanded bytes' share
// of the compressed size, truncated, and 100 from where they reach it. The
// product 50 × expanded would overflow 32 bits on large payloads, so the
// share is counted by 50 additions of the expanded bytes, each remainder kept
// below the compressed size (below 2 GiB).
int ExpansionPercent(DWORD expanded, DWORD compressed) {
  if (expanded >= compressed) return 100;
  int percent = 50;
  DWORD rest = 0;
  for (int step = 0; step < 50; ++step) {
    rest += expanded;
    if (rest >= compressed) rest -= compressed, ++percent;
  }
  return percent;
}

bool ExpandPieces(HWND dialog, PipelineResources& held, int compressedSize) {
  // Counted only up to the compressed size, where the percentage is 100.
  DWORD expandedTotal = 0;
  for (;;) {
    PumpMessages();
    const INT count = platform::LZRead(
        held.expansion, reinterpret_cast<char*>(held.expansionBuffer.Bytes()),
        ExpansionPieceSize);
    PumpMessages();
    if (count < 0) return Fail(ErrorDecompressingSetupProgram);
    if (!WriteAll(held.fileSlot, held.expansionBuffer.Bytes(),
                  static_cast<DWORD>(count)))
      return Fail(ErrorDecompressingSetupProgram);
    if (expandedTotal < static_cast<DWORD>(compressedSize))
      expandedTotal += count;
    if (count != ExpansionPieceSize) return true;
    ShowProgress(dialog,
                 compressedSize > 0
                     ? ExpansionPercent(expandedTotal, compressedSize)
                     : ProgressPercent,
                 false);
  }
}

bool RunPipeline(HWND dialog, ProcessText& setupProgramPath,
                 PipelineResources& held) {
  const Text temporaryPath = TemporaryPath();
  if (temporaryPath.Empty())
    return Fail("I can not obtain path to temporary directory.");

  held.fileSlot = platform::CreateFileW(OwnPath().CString(), GENERIC_READ,
                                        FILE_SHARE_READ, OPEN_EXISTING);
  if (held.fileSlot == INVALID_HANDLE_VALUE)
    return Fail("Error opening source file archive.");

  // A failed size query answers all bits set; both it and a file of 2 GiB or
  // more would otherwise make a bogus reservation.
  const DWORD archiveSize = platform::GetFileSize(held.fileSlot);
  if (archiveSize > LargestArchiveSize)
    return Fail("Error reading source archive.");
  HeapBlock archive(archiveSize);
  if (!archive.Held())
    return Fail("Error allocating memory for install process.");
  DWORD read = 0;
  if (!platform::ReadFile(held.fileSlot, archive.Bytes(), archiveSize, &read) ||
      read != archiveSize)
    return Fail("Error reading source archive.");
  ShowProgress(dialog, 25, false);

  const int size = static_cast<int>(archiveSize);
  const int markerPosition = FindPayloadMarker(archive.Bytes(), size);
  if (markerPosition < 1) return Fail("Source file corrupted or invalid.");
  const int payloadStart = markerPosition + PayloadMarkerLength;  // 1-based

  if (CreateWorkspace(temporaryPath.View()) != 0) {
    CloseFileOnce(held.fileSlot);
    return Fail("Error creating temporary directory.");
  }
  const TextView workspace = WorkspaceDirectory.View();

  if (!AssignWorkspaceFile(CompressedSetupPath, workspace,
                           Literal(L"setup.ex_")))
    return Fail(ErrorAllocatingMemoryBuffers);
  held.compressedFile = platform::CreateFileW(
      CompressedSetupPath.CString(), GENERIC_READ | GENERIC_WRITE, 0,
      CREATE_NEW);
  if (held.compressedFile == INVALID_HANDLE_VALUE)
    return Fail(ErrorCreatingSetupProgram);
  PumpMessages();

  // Every byte after the marker, straight out of the archive data, up to the
  // certificate table of a signed archive.
  if (!WriteAll(held.compressedFile, archive.Bytes() + payloadStart - 1,
                static_cast<DWORD>(
                    PayloadEnd(archive.Bytes(), size, payloadStart - 1) -
                    payloadStart + 1)))
    return Fail("Error writing setup program.");
  ShowProgress(dialog, 50, false);
  PumpMessages();
  CloseFileOnce(held.fileSlot);

  if (!AssignWorkspaceFile(setupProgramPath, workspace,
                           Literal(L"setup.exe")))
    return Fail(ErrorAllocatingMemoryBuffers);
  held.fileSlot = platform::CreateFileW(setupProgramPath.CString(),
                                        GENERIC_WRITE, FILE_SHARE_READ,
                                        CREATE_NEW);
  if (held.fileSlot == INVALID_HANDLE_VALUE)
    return Fail(ErrorCreatingSetupProgram);

  held.expansionBuffer.Allocate(ExpansionPieceSize);
  if (!held.expansionBuffer.Held()) return Fail(ErrorAllocatingMemoryBuffers);

  platform::FlushFileBuffers(held.compressedFile);
  const int compressedSize =
      static_cast<int>(platform::GetFileSize(held.compressedFile));
  held.expansion = platform::LZInit(held.compressedFile);
  if (held.expansion < 0) return Fail(ErrorInitializingDecompression);
  platform::LZSeek(held.expansion, 0, 0);

  if (!ExpandPieces(dialog, held, compressedSize)) return false;
  ShowProgress(dialog, 100, true);
  held.CloseCompressedFile();
  return true;
}

}  // namespace

bool CloseFileOnce(HANDLE& file) {
  bool closed = true;
  if (file != INVALID_HANDLE_VALUE) closed = platform::CloseHandle(file) != 0;
  file = INVALID_HANDLE_VALUE;
  return closed;
}

void CloseHeldHandle(HANDLE& handle) {
  if (handle) platform::CloseHandle(handle);
  handle = nullptr;
}

bool ExtractSetupProgram(HWND dialog, ProcessText& setupProgramPath) {
  ShowProgress(dialog, 0, false);
  PipelineResources held;
  return RunPipeline(dialog, setupProgramPath, held);
}

void ReleaseExtractState() {
  ShownProgress = 0;
  CloseWorkspaceEntry();
  ReleaseProcessText(FirstCreatedDirectory);
  ReleaseProcessText(WorkspaceDirectory);
  ReleaseProcessText(CompressedSetupPath);
}
