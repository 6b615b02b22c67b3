#pragma once
// The test side of the platform layer: make chosen calls fail, and see what
// the launcher held open and showed. Only the test build has it. The
// launcher's paths are wide; here they are UTF-8, as the tests write them.

#include <functional>
#include <string>
#include <vector>

#include "fault_points.h"
#include "utf8.h"

namespace platform::faults {

using platform::Utf8;
using platform::Wide;

struct Fault {
  Call call;
  Action action = Action::Fail;
  std::string subject;  // a part of the path the call must name; empty: any
  unsigned size = 0;    // the byte count the call must have; 0: any
  int skip = 0;         // matching calls let through before the fault acts
  int times = 1;        // matching calls the fault acts on
  unsigned error = 0;   // the last error a failed call leaves; 0: its usual
};

struct OpenedFile {
  std::string path;
  unsigned access;
  unsigned sharing;
  unsigned creation;
};

struct ErrorBox {
  std::string text;
  std::string caption;
  unsigned type;
  bool owned;
  std::vector<std::string> openFiles;  // paths of the files open at the time
  bool expansionOpen;                  // an LZInit handle not yet closed
  bool expansionBufferHeld;            // a 64 KiB heap block not yet freed
};

// The security descriptor the launcher gave a directory or file it created.
struct SecurityGiven {
  Call call;         // CreateDirectoryW or CreateFileW
  std::string path;
  std::string descriptor;  // self-relative, byte for byte
};

struct Record {
  Call call;
  std::string subject;
  unsigned size;
};

void Inject(Fault fault);
// Makes GetModuleFileNameW name `path` as the running program's own file;
// an empty path, or Reset, ends the redirection.
void RedirectModuleFileName(std::string path);
// What GetKernelObjectSecurity answers when a fault on it alters it: a
// self-relative security descriptor, byte for byte.
void AlterSecurity(std::string descriptor);
// What GetTokenInformation answers when a fault on it alters it: the
// token's user and default owner, as SID strings ("S-1-5-18", "BA", ...),
// and whether it is elevated.
void AlterToken(const std::string& user, const std::string& owner,
                bool elevated = false);
// Runs `swap` in the moment after CreateDirectoryW created a directory
// whose path holds `subject`, once; as another process could between the
// creation and the launcher's hold.
void SwapAfterCreation(std::string subject, std::function<void()> swap);
// What the launcher's lookup of the kernel32 procedure `name` finds, in
// place of what kernel32 has; null: a kernel32 that lacks it.
void ReplaceKernelProcedure(const std::string& name, void* procedure);
// Forgets every fault and record.
void Reset();

std::vector<std::string> OpenFiles();
const std::vector<OpenedFile>& FilesOpened();
const std::vector<ErrorBox>& ErrorBoxes();
const std::vector<SecurityGiven>& SecuritiesGiven();
// Every call that asked for a decision, in order.
const std::vector<Record>& Calls();
int CountCalls(Call call);

}  // namespace platform::faults
