#include "fault_injection.h"

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <map>
#include <set>

namespace platform::faults {
namespace {

constexpr unsigned ExpansionBufferSize = 65536;

struct State {
  std::vector<Fault> faults;
  std::vector<Record> calls;
  std::map<void*, std::wstring> openFiles;
  std::vector<OpenedFile> filesOpened;
  std::map<int, void*> expansions;
  std::map<void*, unsigned> blocks;
  std::vector<ErrorBox> errorBoxes;
  std::string moduleFileName;
  std::vector<SecurityGiven> securities;
  std::string alteredSecurity;
  std::string tokenUser, tokenOwner;  // binary SIDs
  bool tokenElevated = false;
  std::string swapSubject;
  std::function<void()> swap;
  std::map<std::string, void*> procedures;  // kernel32's, replaced by name
  unsigned injectedError = 0;
};

State& Current() {
  static State state;
  return state;
}

bool Matches(const Fault& fault, Call call, const std::string& subject,
             unsigned size) {
  if (fault.call != call || fault.times <= 0) return false;
  if (!fault.subject.empty() && subject.find(fault.subject) == std::string::npos)
    return false;
  return fault.size == 0 || fault.size == size;
}

}  // namespace

Action Decide(Call call, const wchar_t* subject, unsigned size) {
  State& state = Current();
  const std::string named = subject ? Utf8(subject) : "";
  state.calls.push_back({call, named, size});
  for (Fault& fault : state.faults) {
    if (!Matches(fault, call, named, size)) continue;
    if (fault.skip > 0) {
      --fault.skip;
      continue;
    }
    --fault.times;
    state.injectedError = fault.error;
    return fault.action;
  }
  return Action::Pass;
}

unsigned InjectedError(unsigned usual) {
  return Current().injectedError ? Current().injectedError : usual;
}

void NoteFileOpened(void* file, const wchar_t* path, unsigned access,
                    unsigned sharing, unsigned creation) {
  Current().openFiles[file] = path;
  Current().filesOpened.push_back({Utf8(path), access, sharing, creation});
}

void NoteFileClosed(void* file) { Current().openFiles.erase(file); }

const wchar_t* PathOfFile(void* file) {
  auto found = Current().openFiles.find(file);
  return found == Current().openFiles.end() ? nullptr : found->second.c_str();
}

void NoteExpansionOpened(int expansion, void* file) {
  Current().expansions[expansion] = file;
}

// LZClose closes the file that LZInit was given.
void NoteExpansionClosed(int expansion) {
  auto found = Current().expansions.find(expansion);
  if (found == Current().expansions.end()) return;
  NoteFileClosed(found->second);
  Current().expansions.erase(found);
}

void NoteBlockAllocated(void* block, unsigned size) {
  Current().blocks[block] = size;
}

void NoteBlockFreed(void* block) { Current().blocks.erase(block); }

bool CaptureMessageBox(void* owner, const char* text, const char* caption,
                       unsigned type) {
  State& state = Current();
  const bool bufferHeld =
      std::any_of(state.blocks.begin(), state.blocks.end(),
                  [](const auto& block) { return block.second == ExpansionBufferSize; });
  state.errorBoxes.push_back({text, caption, type, owner != nullptr,
                              OpenFiles(), !state.expansions.empty(),
                              bufferHeld});
  return true;
}

// Copies as GetModuleFileNameW does: a path that does not fit is cut to
// size - 1 units and terminated, and the result is then the buffer's size.
unsigned RedirectedModuleFileName(wchar_t* buffer, unsigned size) {
  const std::wstring path = Wide(Current().moduleFileName);
  if (path.empty() || size == 0) return 0;
  const unsigned length =
      std::min(static_cast<unsigned>(path.size()), size - 1);
  path.copy(buffer, length);
  buffer[length] = 0;
  return length == path.size() ? length : size;
}

void NoteSecurityGiven(Call call, const wchar_t* path,
                           const void* descriptor) {
  std::string bytes;
  if (descriptor && IsValidSecurityDescriptor(const_cast<void*>(descriptor)))
    bytes.assign(static_cast<const char*>(descriptor),
                 GetSecurityDescriptorLength(const_cast<void*>(descriptor)));
  Current().securities.push_back({call, Utf8(path), bytes});
}

bool AlteredSecurity(void* buffer, unsigned size) {
  const std::string& bytes = Current().alteredSecurity;
  if (bytes.size() > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  bytes.copy(static_cast<char*>(buffer), bytes.size());
  return true;
}

namespace {

std::string BinarySid(const std::string& text) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidA(text.c_str(), &sid)) return {};
  std::string bytes(static_cast<const char*>(sid), GetLengthSid(sid));
  LocalFree(sid);
  return bytes;
}

}  // namespace

void AlterToken(const std::string& user, const std::string& owner,
                bool elevated) {
  Current().tokenUser = BinarySid(user);
  Current().tokenOwner = BinarySid(owner);
  Current().tokenElevated = elevated;
}

// TOKEN_USER and TOKEN_OWNER both start with the pointer to the SID, which
// follows the structure in the same buffer.
bool AlteredToken(int kind, void* buffer, unsigned size) {
  if (kind == TokenElevation) {
    static_cast<TOKEN_ELEVATION*>(buffer)->TokenIsElevated =
        Current().tokenElevated;
    return true;
  }
  const std::string& sid =
      kind == TokenUser ? Current().tokenUser : Current().tokenOwner;
  const size_t head = kind == TokenUser ? sizeof(TOKEN_USER) : sizeof(TOKEN_OWNER);
  if (head + sid.size() > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  auto* bytes = static_cast<char*>(buffer);
  std::fill(bytes, bytes + head, 0);
  sid.copy(bytes + head, sid.size());
  *reinterpret_cast<void**>(buffer) = bytes + head;
  return true;
}

void SwapAfterCreation(std::string subject, std::function<void()> swap) {
  Current().swapSubject = std::move(subject);
  Current().swap = std::move(swap);
}

void AfterDirectoryCreated(const wchar_t* path) {
  State& state = Current();
  if (!state.swap || Utf8(path).find(state.swapSubject) == std::string::npos)
    return;
  auto swap = std::move(state.swap);
  state.swap = nullptr;
  swap();
}

void ReplaceKernelProcedure(const std::string& name, void* procedure) {
  Current().procedures[name] = procedure;
}

void* KernelProcedure(const char* name, void* found) {
  const auto replaced = Current().procedures.find(name);
  return replaced == Current().procedures.end() ? found : replaced->second;
}

void AlterSecurity(std::string descriptor) {
  Current().alteredSecurity = std::move(descriptor);
}

const std::vector<SecurityGiven>& SecuritiesGiven() {
  return Current().securities;
}

void Inject(Fault fault) { Current().faults.push_back(std::move(fault)); }

void RedirectModuleFileName(std::string path) {
  Current().moduleFileName = std::move(path);
}

void Reset() {
  State& state = Current();
  state.faults.clear();
  state.calls.clear();
  state.filesOpened.clear();
  state.errorBoxes.clear();
  state.moduleFileName.clear();
  state.securities.clear();
  state.alteredSecurity.clear();
  state.tokenUser.clear();
  state.tokenOwner.clear();
  state.tokenElevated = false;
  state.swap = nullptr;
  state.procedures.clear();
  state.injectedError = 0;
}

std::vector<std::string> OpenFiles() {
  std::vector<std::string> paths;
  for (const auto& [file, path] : Current().openFiles)
    paths.push_back(Utf8(path));
  std::sort(paths.begin(), paths.end());
  return paths;
}

const std::vector<OpenedFile>& FilesOpened() { return Current().filesOpened; }
const std::vector<ErrorBox>& ErrorBoxes() { return Current().errorBoxes; }
const std::vector<Record>& Calls() { return Current().calls; }

int CountCalls(Call call) {
  return static_cast<int>(std::count_if(
      Current().calls.begin(), Current().calls.end(),
      [call](const Record& record) { return record.call == call; }));
}

}  // namespace platform::faults
