// ExtractSetupProgram end to end under Wine: real self-archives made from the
// launcher image, payloads from mscompress or crafted to exact sizes, a real
// window for the status line, and every failure it reports.

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "pipeline_fixture.h"
#include "platform.h"

namespace {

namespace faults = platform::faults;
using faults::Action;
using faults::Call;
using faults::Inject;

constexpr int Piece = 65536;


class PipelineTest : public ::testing::Test {
 protected:
  ~PipelineTest() override { ReleaseProcessText(setupProgramPath); }

  void UseArchive(const std::string& bytes) {
    ASSERT_TRUE(test::WriteWhole(archivePath, bytes));
    archiveSize = bytes.size();
    faults::RedirectModuleFileName(archivePath);
  }
  bool Run() { return ExtractSetupProgram(status.Handle(), setupProgramPath); }
  const std::vector<std::string>& Texts() { return test::StatusWindow::Texts(); }

  // Sizes of the writes to files whose path holds `name`.
  static std::vector<unsigned> Writes(const std::string& name) {
    std::vector<unsigned> sizes;
    for (const auto& call : faults::Calls())
      if (call.call == Call::WriteFile &&
          call.subject.find(name) != std::string::npos)
        sizes.push_back(call.size);
    return sizes;
  }
  static int Allocations(unsigned size) {
    int count = 0;
    for (const auto& call : faults::Calls())
      count += call.call == Call::HeapAlloc && call.size == size;
    return count;
  }

  test::Scratch scratch;
  test::StatusWindow status;
  ProcessText setupProgramPath{};
  std::string archivePath = scratch.Root() + "archive.exe";
  size_t archiveSize = 0;
};

TEST_F(PipelineTest, ExpandsAnMscompressPayloadWithProgress) {
  const std::string expanded = test::PipelineData("numbers.bin");
  const std::string payload = test::PipelineData("numbers.bin_");
  ASSERT_GT(expanded.size(), 4u * Piece);
  UseArchive(test::SelfArchive(payload));

  EXPECT_TRUE(Run());

  EXPECT_EQ(test::ReadWhole(scratch.InWorkspace("setup.exe")), expanded);
  EXPECT_FALSE(test::IsFile(scratch.InWorkspace("setup.ex_")));
  EXPECT_EQ(Texts(), test::ExpectedTexts(expanded.size(), payload.size()));
  EXPECT_EQ(ProgressPercent, 100);
  EXPECT_EQ(test::Utf8(setupProgramPath), scratch.InWorkspace("setup.exe"));
  EXPECT_EQ(test::Utf8(CompressedSetupPath), scratch.InWorkspace("setup.ex_"));
  EXPECT_EQ(test::Utf8(FirstCreatedDirectory), scratch.Workspace());
  EXPECT_TRUE(faults::ErrorBoxes().empty());
  EXPECT_TRUE(faults::OpenFiles().empty());

  // The modes of the three files, in the order they are opened.
  const auto& opened = faults::FilesOpened();
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened[0].path, archivePath);
  EXPECT_EQ(opened[0].access, GENERIC_READ);
  EXPECT_EQ(opened[0].sharing, unsigned{FILE_SHARE_READ});
  EXPECT_EQ(opened[0].creation, unsigned{OPEN_EXISTING});
  EXPECT_EQ(opened[1].path, scratch.InWorkspace("setup.ex_"));
  EXPECT_EQ(opened[1].access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(opened[1].sharing, 0u);
  EXPECT_EQ(opened[1].creation, unsigned{CREATE_NEW});
  EXPECT_EQ(opened[2].path, scratch.InWorkspace("setup.exe"));
  EXPECT_EQ(opened[2].access, GENERIC_WRITE);
  EXPECT_EQ(opened[2].sharing, unsigned{FILE_SHARE_READ});
  EXPECT_EQ(opened[2].creation, unsigned{CREATE_NEW});

  // One read of the whole archive, one write of the payload, one buffer.
  EXPECT_EQ(faults::CountCalls(Call::ReadFile), 1);
  EXPECT_EQ(Allocations(archiveSize), 1);
  EXPECT_EQ(Writes("setup.ex_"), std::vector<unsigned>{unsigned(payload.size())});
  EXPECT_EQ(Allocations(Piece), 1);
  EXPECT_EQ(faults::CountCalls(Call::LZRead),
            static_cast<int>(expanded.size() / Piece + 1));
}

// The compressed and expanded sizes of the example self-archive.
TEST_F(PipelineTest, WorkedExampleShowsItsPercentages) {
  const std::string payload = test::CraftedPayload(575792, 1087171);
  ASSERT_EQ(payload.size(), 575792u);
  UseArchive(test::SelfArchive(payload));

  EXPECT_TRUE(Run());

  // The pieces after the eleventh all show 100%, which is shown once.
  std::vector<std::string> expected = {"0",  "25", "50", "55", "61", "67",
                                       "72", "78", "84", "89", "95", "100"};
  for (auto& percent : expected) percent = "Decompressing setup : " + percent + "%";
  expected.push_back("Decompressing setup : 100% starting setup program ...");
  EXPECT_EQ(Texts(), expected);

  std::vector<unsigned> pieces(16, Piece);
  pieces.push_back(38595);
  EXPECT_EQ(Writes("setup.exe"), pieces);
  const std::string setup = test::ReadWhole(scratch.InWorkspace("setup.exe"));
  ASSERT_EQ(setup.size(), 1087171u);
  for (size_t i = 0; i < setup.size(); ++i)
    ASSERT_EQ(setup[i], test::CraftedByte(i)) << "at byte " << i;
}

// A message that posts itself again whenever it is served notes how many
// pieces had been read by then.
std::set<int> ReadsWhenServed;
LRESULT CALLBACK NoteReads(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message != WM_APP) return ::DefWindowProcA(window, message, w, l);
  ReadsWhenServed.insert(faults::CountCalls(Call::LZRead));
  ::PostMessageA(window, WM_APP, 0, 0);
  return 0;
}

// The worked example shows 100% from the eleventh piece on, so only the
// serving between pieces reaches the queue while the last ones are read.
TEST_F(PipelineTest, MessagesAreServedBeforeEveryPiece) {
  UseArchive(test::SelfArchive(test::CraftedPayload(575792, 1087171)));
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = NoteReads;
  windowClass.lpszClassName = "HalvexTestReads";
  ::RegisterClassA(&windowClass);
  HWND window = ::CreateWindowExA(0, "HalvexTestReads", "", 0, 0, 0, 0, 0,
                                  HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  ReadsWhenServed.clear();
  ::PostMessageA(window, WM_APP, 0, 0);

  EXPECT_TRUE(Run());

  MSG message;
  while (::PeekMessageA(&message, window, WM_APP, WM_APP, PM_REMOVE)) {
  }
  ::DestroyWindow(window);
  for (int reads = 0; reads < 17; ++reads)
    EXPECT_EQ(ReadsWhenServed.count(reads), 1u) << "before read " << reads + 1;
}

TEST_F(PipelineTest, AnExactMultipleOfAPieceEndsWithAReadOfZero) {
  const std::string expanded = test::PipelineData("even.bin");
  ASSERT_EQ(expanded.size(), 2u * Piece);
  UseArchive(test::SelfArchive(test::PipelineData("even.bin_")));

  EXPECT_TRUE(Run());

  EXPECT_EQ(test::ReadWhole(scratch.InWorkspace("setup.exe")), expanded);
  EXPECT_EQ(faults::CountCalls(Call::LZRead), 3);
  EXPECT_EQ(Writes("setup.exe"), (std::vector<unsigned>{Piece, Piece, 0}));
  EXPECT_EQ(Texts().back(), test::Progress(100, true));
}

// LZ32 takes an empty file as uncompressed, with nothing in it.
TEST_F(PipelineTest, AMarkerAtTheVeryEndGivesAnEmptySetupProgram) {
  UseArchive(test::SelfArchive(""));

  EXPECT_TRUE(Run());

  EXPECT_TRUE(test::IsFile(scratch.InWorkspace("setup.exe")));
  EXPECT_EQ(test::ReadWhole(scratch.InWorkspace("setup.exe")), "");
  EXPECT_EQ(Writes("setup.ex_"), std::vector<unsigned>{0});
  EXPECT_FALSE(test::IsFile(scratch.InWorkspace("setup.ex_")));
  EXPECT_EQ(Texts(), test::ExpectedTexts(0, 0));
}

TEST_F(PipelineTest, OnlyTheFirstMarkerCounts) {
  const std::string payload = test::PipelineData("even.bin_");
  UseArchive(test::SelfArchive(payload + "Archive sTaRT trailing"));

  EXPECT_TRUE(Run());

  EXPECT_EQ(Writes("setup.ex_"),
            std::vector<unsigned>{unsigned(payload.size() + 22)});
  EXPECT_TRUE(faults::ErrorBoxes().empty());
}

// Both files go into the workspace the run created, never into a «Halvex»
// that was there already.
TEST_F(PipelineTest, AnExistingWorkspaceIsLeftAndBothFilesGoToTheRunsOwn) {
  ASSERT_TRUE(::CreateDirectoryA(scratch.Workspace().c_str(), nullptr));
  ASSERT_TRUE(test::WriteWhole(scratch.InWorkspace("setup.exe"), "theirs"));
  UseArchive(test::SelfArchive(test::PipelineData("numbers.bin_")));

  EXPECT_TRUE(Run());

  const std::string own = test::Utf8(WorkspaceDirectory);
  EXPECT_NE(own, scratch.Workspace());
  EXPECT_EQ(test::Utf8(setupProgramPath), own + "\\setup.exe");
  EXPECT_EQ(test::Utf8(CompressedSetupPath), own + "\\setup.ex_");
  EXPECT_EQ(test::ReadWhole(own + "\\setup.exe"),
            test::PipelineData("numbers.bin"));
  EXPECT_EQ(test::ReadWhole(scratch.InWorkspace("setup.exe")), "theirs");
}

TEST_F(PipelineTest, TrailingBackslashesOfTheTemporaryPathDoNotMatter) {
  UseArchive(test::SelfArchive(test::PipelineData("even.bin_")));
  const std::string bare = scratch.Temp().substr(0, scratch.Temp().size() - 1);
  for (const std::string& temp : {bare, bare + "\\", bare + "\\\\\\"}) {
    test::Scratch::SetTemp(temp);
    ::DeleteFileW(setupProgramPath.CString());
    ReleaseProcessText(setupProgramPath);
    RemoveWorkspace();
    EXPECT_TRUE(Run()) << temp;
    EXPECT_EQ(test::Utf8(setupProgramPath), scratch.InWorkspace("setup.exe")) << temp;
  }
  EXPECT_TRUE(faults::ErrorBoxes().empty());
}

// An unknown size of "setup.ex_" (the failure value, or one beyond the
// signed range) leaves the percentage at 50 while the pieces come.
TEST_F(PipelineTest, ACompressedSizeBelowOneKeepsFiftyPercent) {
  const std::string expanded = test::PipelineData("numbers.bin");
  UseArchive(test::SelfArchive(test::PipelineData("numbers.bin_")));
  for (Action action : {Action::Fail, Action::Short}) {
    test::StatusWindow::Texts().clear();
    Inject({Call::GetFileSize, action, "setup.ex_"});
    EXPECT_TRUE(Run());
    EXPECT_EQ(Texts(), test::ExpectedTexts(expanded.size(), 0));
    EXPECT_EQ(test::ReadWhole(scratch.InWorkspace("setup.exe")), expanded);
  }
}

// Past 42,949,672 expanded bytes, expanded total × 50 leaves the signed
// 32-bit range; the status line must still rise steadily.
TEST_F(PipelineTest, PercentagesStayRightForLargePayloads) {
  const int64_t expandedSize = 656LL * Piece + 1;
  const int64_t compressedSize = 14 + expandedSize + (expandedSize + 7) / 8;
  const std::string payload = test::CraftedPayload(compressedSize, expandedSize);
  ASSERT_EQ(static_cast<int64_t>(payload.size()), compressedSize);
  UseArchive(test::SelfArchive(payload));

  EXPECT_TRUE(Run());

  EXPECT_EQ(Texts(), test::ExpectedTexts(expandedSize, compressedSize));
  ASSERT_GE(Texts().size(), 2u);
  EXPECT_EQ(Texts()[Texts().size() - 2], test::Progress(94));
  EXPECT_EQ(test::Attributes(scratch.InWorkspace("setup.exe")) &&
                std::filesystem::file_size(scratch.InWorkspace("setup.exe")) ==
                    static_cast<uintmax_t>(expandedSize),
            true);
}

TEST_F(PipelineTest, ATemporaryPathTooLongForTheBufferIsAskedForAgain) {
  UseArchive(test::SelfArchive(test::PipelineData("even.bin_")));
  Inject({Call::GetTempPathW, Action::Short});

  EXPECT_TRUE(Run());

  std::vector<unsigned> sizes;
  for (const auto& call : faults::Calls())
    if (call.call == Call::GetTempPathW) sizes.push_back(call.size);
  EXPECT_EQ(sizes, (std::vector<unsigned>{261, 262}));
  EXPECT_EQ(test::Utf8(setupProgramPath), scratch.InWorkspace("setup.exe"));
}

// A self-archive deep in folders named in Cyrillic: its path, longer than the
// first buffer, is asked for again with more room, never cut short.
TEST_F(PipelineTest, AnOwnPathLongerThanTheFirstBufferIsReadWhole) {
  std::wstring folder = faults::Wide(scratch.Root());
  for (int level = 0; level < 12; ++level) {
    folder += std::wstring(40, L'\x0416') + L"\\";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  }
  archivePath = faults::Utf8(folder + L"archive.exe");
  ASSERT_GT(folder.size(), 512u);
  UseArchive(test::SelfArchive(test::PipelineData("even.bin_")));

  EXPECT_TRUE(Run());

  std::vector<unsigned> sizes;
  for (const auto& call : faults::Calls())
    if (call.call == Call::GetModuleFileNameW) sizes.push_back(call.size);
  EXPECT_EQ(sizes, (std::vector<unsigned>{512, 1024}));
  ASSERT_EQ(faults::FilesOpened().size(), 3u);
  EXPECT_EQ(faults::FilesOpened()[0].path, archivePath);
  EXPECT_EQ(test::ReadWhole(scratch.InWorkspace("setup.exe")),
            test::PipelineData("even.bin"));
}

TEST_F(PipelineTest, CloseFileOnceClosesAtMostOnce) {
  const std::wstring path = faults::Wide(scratch.Root() + "closed.txt");
  HANDLE file = platform::CreateFileW(path.c_str(), GENERIC_WRITE, 0,
                                      CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseFileOnce(file));
  EXPECT_EQ(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseFileOnce(file));
  EXPECT_EQ(faults::CountCalls(Call::CloseHandle), 1);

  file = platform::CreateFileW(path.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS);
  HANDLE kept = file;
  Inject({Call::CloseHandle, Action::Fail, "closed.txt"});
  EXPECT_FALSE(CloseFileOnce(file));
  EXPECT_EQ(file, INVALID_HANDLE_VALUE);
  ::CloseHandle(kept);
}

// --- every failure the pipeline reports ----------------------------------------

enum Holds : unsigned { Archive = 1, Compressed = 2, Expanded = 4 };
enum class Workspace { Untouched, Made, Unchecked };

struct Failure {
  const char* name;
  std::function<void(class FailureTest&)> prepare;
  const char* message;
  unsigned openFiles;
  bool expansionOpen;
  bool bufferHeld;
  Workspace workspace;
  int keptSetupSize;  // size of the partial "setup.exe" left, -1: none
};

void PrintTo(const Failure& failure, std::ostream* out) { *out << failure.name; }

class FailureTest : public PipelineTest,
                    public ::testing::WithParamInterface<Failure> {
 public:
  void Fail(Call call, const char* subject, Action action = Action::Fail,
            int skip = 0) {
    Inject({call, action, subject, 0, skip});
  }
  void FailAllocation(unsigned size) {
    Inject({Call::HeapAlloc, Action::Fail, "", size});
  }
  void SetArchive(const std::string& bytes) { UseArchive(bytes); }
  size_t ArchiveSize() const { return archiveSize; }
  const test::Scratch& Scratch() const { return scratch; }

 protected:
  unsigned HeldFiles(const std::vector<std::string>& paths) {
    unsigned held = 0;
    for (const auto& path : paths) {
      if (path == archivePath) held |= Holds::Archive;
      else if (path == scratch.InWorkspace("setup.ex_")) held |= Holds::Compressed;
      else if (path == scratch.InWorkspace("setup.exe")) held |= Holds::Expanded;
      else ADD_FAILURE() << "unexpected open file " << path;
    }
    return held;
  }
};

TEST_P(FailureTest, ShowsItsMessageAndCleansUp) {
  const Failure& row = GetParam();
  UseArchive(test::SelfArchive(test::PipelineData("numbers.bin_")));
  row.prepare(*this);

  EXPECT_FALSE(Run());

  ASSERT_EQ(faults::ErrorBoxes().size(), 1u);
  const faults::ErrorBox& box = faults::ErrorBoxes()[0];
  EXPECT_EQ(box.text, std::string("Setup aborted.\r") + row.message);
  EXPECT_EQ(box.caption, "Error");
  EXPECT_EQ(box.type, unsigned{MB_OK});
  EXPECT_FALSE(box.owned);
  EXPECT_EQ(HeldFiles(box.openFiles), row.openFiles);
  EXPECT_EQ(box.expansionOpen, row.expansionOpen);
  EXPECT_EQ(box.expansionBufferHeld, row.bufferHeld);

  // Afterwards everything is released and "setup.ex_" is gone.
  EXPECT_TRUE(faults::OpenFiles().empty());
  EXPECT_FALSE(test::IsFile(scratch.InWorkspace("setup.ex_")));
  if (row.keptSetupSize < 0) {
    EXPECT_FALSE(test::IsFile(scratch.InWorkspace("setup.exe")));
  } else {
    EXPECT_EQ(test::ReadWhole(scratch.InWorkspace("setup.exe")).size(),
              static_cast<size_t>(row.keptSetupSize));
  }
  if (row.workspace == Workspace::Untouched)
    EXPECT_TRUE(scratch.TempEntries().empty());
  if (row.workspace == Workspace::Made)
    EXPECT_TRUE(test::IsDirectory(scratch.Workspace()));
}

const char NoTempPath[] = "I can not obtain path to temporary directory.";
const char CannotOpen[] = "Error opening source file archive.";
const char CannotReserve[] = "Error allocating memory for install process.";
const char CannotRead[] = "Error reading source archive.";
const char Corrupted[] = "Source file corrupted or invalid.";
const char NoWorkspace[] = "Error creating temporary directory.";
const char CannotCreate[] = "Error creating setup program.";
const char CannotWrite[] = "Error writing setup program.";
const char NoBuffer[] = "Error allocating memory buffers.";
const char CannotInitialize[] = "Error initializing decompression routines.";
const char CannotDecompress[] = "Error decompressing setup program.";

const auto Untouched = Workspace::Untouched;
const auto Made = Workspace::Made;

const Failure Failures[] = {
    {"TempPathFails", [](FailureTest& t) { t.Fail(Call::GetTempPathW, ""); },
     NoTempPath, 0, false, false, Untouched, -1},
    {"TempPathTooLongTwice",
     [](FailureTest&) {
       Inject({Call::GetTempPathW, Action::Short, "", 0, 0, 2});
     },
     NoTempPath, 0, false, false, Untouched, -1},
    {"ArchiveCannotBeOpened",
     [](FailureTest& t) { t.Fail(Call::CreateFileW, "archive.exe"); },
     CannotOpen, 0, false, false, Untouched, -1},
    {"ArchiveIsMissing",
     [](FailureTest& t) {
       faults::RedirectModuleFileName(t.Scratch().Root() + "missing.exe");
     },
     CannotOpen, 0, false, false, Untouched, -1},
    {"ArchiveSizeUnknown",
     [](FailureTest& t) { t.Fail(Call::GetFileSize, "archive.exe"); },
     CannotRead, Archive, false, false, Untouched, -1},
    {"ArchiveOf2GiB",
     [](FailureTest& t) {
       t.Fail(Call::GetFileSize, "archive.exe", Action::Short);
     },
     CannotRead, Archive, false, false, Untouched, -1},
    {"ArchiveDataCannotBeReserved",
     [](FailureTest& t) { t.FailAllocation(unsigned(t.ArchiveSize())); },
     CannotReserve, Archive, false, false, Untouched, -1},
    {"ArchiveReadFails",
     [](FailureTest& t) { t.Fail(Call::ReadFile, "archive.exe"); },
     CannotRead, Archive, false, false, Untouched, -1},
    {"ArchiveReadIsShort",
     [](FailureTest& t) { t.Fail(Call::ReadFile, "archive.exe", Action::Short); },
     CannotRead, Archive, false, false, Untouched, -1},
    {"MarkerHalvesApart",
     [](FailureTest& t) {
       t.SetArchive(test::ReadWhole(test::FromUnix(HALVEX_LAUNCHER_IMAGE)) +
                 "Archive xsTaRT archive sTaRT ARCHIVE START");
     },
     Corrupted, Archive, false, false, Untouched, -1},
    {"WorkspaceIsSwappedForALink",
     [](FailureTest&) {
       Inject({Call::GetFileInformationByHandle, Action::Alter});
     },
     NoWorkspace, 0, false, false, Workspace::Unchecked, -1},
    {"WorkspaceCannotBeCreated",
     [](FailureTest& t) { t.Fail(Call::CreateDirectoryW, "Halvex"); },
     NoWorkspace, 0, false, false, Untouched, -1},
    {"CompressedFileCannotBeCreated",
     [](FailureTest& t) { t.Fail(Call::CreateFileW, "setup.ex_"); },
     CannotCreate, Archive, false, false, Made, -1},
    {"PayloadWriteFails",
     [](FailureTest& t) { t.Fail(Call::WriteFile, "setup.ex_"); },
     CannotWrite, Archive | Compressed, false, false, Made, -1},
    {"PayloadWriteIsShort",
     [](FailureTest& t) { t.Fail(Call::WriteFile, "setup.ex_", Action::Short); },
     CannotWrite, Archive | Compressed, false, false, Made, -1},
    {"SetupProgramCannotBeCreated",
     [](FailureTest& t) { t.Fail(Call::CreateFileW, "setup.exe"); },
     CannotCreate, Compressed, false, false, Made, -1},
    {"BufferCannotBeAllocated",
     [](FailureTest& t) { t.FailAllocation(Piece); },
     NoBuffer, Compressed | Expanded, false, false, Made, 0},
    {"DecompressionCannotStart",
     [](FailureTest& t) { t.Fail(Call::LZInit, "setup.ex_"); },
     CannotInitialize, Compressed | Expanded, false, true, Made, 0},
    {"PayloadOfAnUnknownMode",
     [](FailureTest& t) {
       t.SetArchive(test::SelfArchive(
           std::string("SZDD\x88\xf0\x27\x33" "B\0\x10\0\0\0 unknown", 22)));
     },
     CannotInitialize, Compressed | Expanded, false, true, Made, 0},
    {"ReadOfAPieceFails",
     [](FailureTest& t) { t.Fail(Call::LZRead, "", Action::Fail, 1); },
     CannotDecompress, Compressed | Expanded, true, true, Made, Piece},
    {"WriteOfAPieceFails",
     [](FailureTest& t) { t.Fail(Call::WriteFile, "setup.exe", Action::Fail, 1); },
     CannotDecompress, Compressed | Expanded, true, true, Made, Piece},
    {"WriteOfAPieceIsShort",
     [](FailureTest& t) {
       t.Fail(Call::WriteFile, "setup.exe", Action::Short, 1);
     },
     CannotDecompress, Compressed | Expanded, true, true, Made,
     Piece + Piece / 2},
};

INSTANTIATE_TEST_SUITE_P(EveryStep, FailureTest, ::testing::ValuesIn(Failures),
                         [](const auto& info) { return info.param.name; });

// The temporary path comes from GetTempPath2W where kernel32 has it, which
// gives SYSTEM a folder of its own, and from GetTempPathW where it lacks it.
// The lookup by name is what the test replaces, whatever Wine's kernel32 has.
std::wstring SystemTemp;

DWORD WINAPI TempPath2StandIn(DWORD size, wchar_t* buffer) {
  if (SystemTemp.size() >= size) return static_cast<DWORD>(SystemTemp.size() + 1);
  SystemTemp.copy(buffer, SystemTemp.size());
  buffer[SystemTemp.size()] = 0;
  return static_cast<DWORD>(SystemTemp.size());
}

TEST_F(PipelineTest, TheTemporaryPathComesFromGetTempPath2WWhereThereIsOne) {
  UseArchive(test::SelfArchive(test::PipelineData("numbers.bin_")));
  faults::ReplaceKernelProcedure("GetTempPath2W", nullptr);
  EXPECT_TRUE(Run());
  EXPECT_EQ(test::Utf8(setupProgramPath), scratch.InWorkspace("setup.exe"));

  const std::string systemTemp = scratch.Root() + "SystemTemp\\";
  ASSERT_TRUE(::CreateDirectoryA(systemTemp.c_str(), nullptr));
  SystemTemp = faults::Wide(systemTemp);
  faults::ReplaceKernelProcedure("GetTempPath2W",
                                 reinterpret_cast<void*>(TempPath2StandIn));
  ReleaseExtractState();
  ReleaseProcessText(setupProgramPath);
  EXPECT_TRUE(Run());
  EXPECT_EQ(test::Utf8(setupProgramPath), systemTemp + "Halvex\\setup.exe");
  EXPECT_EQ(test::ReadWhole(systemTemp + "Halvex\\setup.exe"),
            test::PipelineData("numbers.bin"));
}

}  // namespace
