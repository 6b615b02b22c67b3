// The workspace directory chain: every missing component after the first is
// created from the outside in, closed to everyone but the launcher's own
// account, SYSTEM and Administrators, and the outermost directory that had
// to be created is recorded once, for the exit clean-up. A workspace that
// was there already is used only when it is the account's own and no one
// else could plant in it; either way it is held open from then on, so that
// it cannot be swapped before the run is done with it.

#include <stddef.h>

#include <utility>

#include "extract.h"
#include "platform.h"

ProcessText FirstCreatedDirectory;
HANDLE WorkspaceEntry;

namespace {

// Components past this many are neither looked up nor created.
constexpr int MostComponents = 100;

// A bit that no file attribute uses, so that a found entry is never 0.
constexpr DWORD EntryFound = 0x80000000u;

// The attributes of an entry, with a bit that is always set; 0 when nothing
// is found. Any lookup failure counts as absence.
DWORD LookUp(const wchar_t* path) {
  WIN32_FIND_DATAW found;
  HANDLE search = platform::FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  platform::FindClose(search);
  return found.dwFileAttributes | EntryFound;
}

// --- the closed DACL -----------------------------------------------------------

template <int SubAuthorities>
struct FixedAce {
  ACE_HEADER header;
  ACCESS_MASK mask;
  BYTE revision, count, authority[6];
  DWORD subAuthority[SubAuthorities];
};

constexpr BYTE InheritedInside = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// A self-relative security descriptor with a protected DACL and no owner,
// group or SACL (the creator's defaults apply): full control to SYSTEM, to
// the Administrators group and to the token's default owner, inherited by
// every file and folder inside, and nothing for anyone else. The fixed part
// comes first; the default owner is known only at run time.
struct ClosedFixedPart {
  SECURITY_DESCRIPTOR_RELATIVE header;
  ACL acl;
  FixedAce<1> system;
  FixedAce<2> administrators;
  ACE_HEADER ownerHeader;
  ACCESS_MASK ownerMask;
};

constexpr ClosedFixedPart ClosedTemplate = {
    {SECURITY_DESCRIPTOR_REVISION, 0,
     SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED, 0, 0, 0,
     sizeof(SECURITY_DESCRIPTOR_RELATIVE)},
    {ACL_REVISION, 0, 0, 3, 0},
    {{ACCESS_ALLOWED_ACE_TYPE, InheritedInside, sizeof(FixedAce<1>)},
     FILE_ALL_ACCESS, 1, 1, {0, 0, 0, 0, 0, 5}, {SECURITY_LOCAL_SYSTEM_RID}},
    {{ACCESS_ALLOWED_ACE_TYPE, InheritedInside, sizeof(FixedAce<2>)},
     FILE_ALL_ACCESS, 1, 2, {0, 0, 0, 0, 0, 5},
     {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}},
    {ACCESS_ALLOWED_ACE_TYPE, InheritedInside, 0},
    FILE_ALL_ACCESS,
};

struct ClosedDescriptor {
  ClosedFixedPart fixed;
  BYTE ownerSid[SECURITY_MAX_SID_SIZE];
};

// Rights by which an account could plant, replace or redirect: write, create
// files or folders, delete, change the permissions or the owner.
constexpr ACCESS_MASK PlantingRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
    FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
    GENERIC_ALL;

// Where an ACE of the allowing kind keeps its rights and its SID, and how a
// SID counts its length.
constexpr int AceMaskOffset = offsetof(ACCESS_ALLOWED_ACE, Mask);
constexpr int AceSidOffset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
constexpr int SidCountOffset = offsetof(SID, SubAuthorityCount);
constexpr int SidFixedLength = offsetof(SID, SubAuthority);
constexpr int SidSubAuthorityLength = sizeof(DWORD);

int SidLength(const BYTE* sid) {
  return SidFixedLength + SidSubAuthorityLength * sid[SidCountOffset];
}

// From the front, so that SIDs of different lengths part at their count.
bool SameSid(const BYTE* a, const BYTE* b) {
  for (int at = 0; at < SidLength(a); ++at)
    if (a[at] != b[at]) return false;
  return true;
}

// The launcher's account as the workspace is judged by it, and the closed
// descriptor that its workspace is created with.
struct LauncherAccount {
  ClosedDescriptor closed;
  SECURITY_ATTRIBUTES closedAttributes;
  union {
    TOKEN_USER user;
    BYTE userBytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  };
  union {
    TOKEN_OWNER owner;
    BYTE ownerBytes[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE];
  };
  // The accounts that may own the workspace come first, then those that may
  // also hold rights in it: the user, the token's default owner, SYSTEM, and
  // Administrators.
  const BYTE* trusted[4];

  // False when the token cannot be read.
  bool ReadToken() {
    HANDLE token;
    if (!platform::OpenProcessToken(&token)) return false;
    const bool read =
        platform::GetTokenInformation(token, TokenUser, userBytes,
                                      sizeof userBytes) &&
        platform::GetTokenInformation(token, TokenOwner, ownerBytes,
                                      sizeof ownerBytes);
    platform::CloseHandle(token);
    if (!read) return false;
    // The default owner, not the user: for an elevated administrator it is
    // Administrators, so that the same user's unelevated programs get no
    // entry of their own beside the elevated setup program.
    const BYTE* ownerSid = static_cast<const BYTE*>(owner.Owner);
    const int length = SidLength(ownerSid);
    closed.fixed = ClosedTemplate;
    memcpy(closed.ownerSid, ownerSid, length);
    closed.fixed.ownerHeader.AceSize =
        static_cast<WORD>(AceSidOffset + length);
    closed.fixed.acl.AclSize =
        static_cast<WORD>(sizeof(ACL) + sizeof(FixedAce<1>) +
                          sizeof(FixedAce<2>) + AceSidOffset + length);
    closedAttributes = {sizeof closedAttributes, &closed, FALSE};
    trusted[0] = static_cast<const BYTE*>(user.User.Sid);
    trusted[1] = ownerSid;
    trusted[2] = &closed.fixed.system.revision;
    trusted[3] = &closed.fixed.administrators.revision;
    return true;
  }

  bool Trusts(const BYTE* sid, int among) const {
    while (among--)
      if (SameSid(sid, trusted[among])) return true;
    return false;
  }

  // SYSTEM, or an account elevated to be owned by Administrators: the runs
  // that a planted junction could turn against the machine.
  bool Privileged() const {
    return SameSid(trusted[0], trusted[2]) || SameSid(trusted[1], trusted[3]);
  }

  // True when the DACL of the descriptor lets an account other than the
  // trusted ones plant in the directory or in what it will hold.
  bool LetsOthersPlant(const BYTE* descriptor) const {
    const auto& header =
        *reinterpret_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(descriptor);
    // No DACL, or a null one, lets everyone do everything.
    if (!(header.Control & SE_DACL_PRESENT) || !header.Dacl) return true;
    const auto& acl = *reinterpret_cast<const ACL*>(descriptor + header.Dacl);
    const BYTE* ace = descriptor + header.Dacl + sizeof(ACL);
    for (int count = acl.AceCount; count--;
         ace += reinterpret_cast<const ACE_HEADER*>(ace)->AceSize) {
      if (ace[0] == ACCESS_DENIED_ACE_TYPE) continue;
      // An allowing ACE of another kind (object, callback) is not judged.
      if (ace[0] != ACCESS_ALLOWED_ACE_TYPE) return true;
      if ((*reinterpret_cast<const ACCESS_MASK*>(ace + AceMaskOffset) &
           PlantingRights) &&
          !Trusts(ace + AceSidOffset, 4))
        return true;
    }
    return false;
  }

  // True when the open entry is a real directory (no junction or symbolic
  // link), its owner is trusted, and no one else may plant in it. An open
  // one is not closed and used: closing would reach neither what was
  // planted while it was open nor the handles others already hold.
  // `searched` is what the search by name saw, since Wine shows a host's
  // symbolic link as a reparse point only there.
  bool IsOwnClosedDirectory(HANDLE entry, DWORD searched) const {
    union {
      SECURITY_DESCRIPTOR_RELATIVE header;
      BYTE bytes[1024];
    } found;
    // A failure's INVALID_FILE_ATTRIBUTES has every bit, the reparse bit too.
    const DWORD attributes =
        platform::GetFileAttributesByHandle(entry) |
        (searched & FILE_ATTRIBUTE_REPARSE_POINT);
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY |
                          FILE_ATTRIBUTE_REPARSE_POINT)) ==
               FILE_ATTRIBUTE_DIRECTORY &&
           platform::GetKernelObjectSecurity(entry, found.bytes,
                                             sizeof found.bytes) &&
           found.header.Owner && Trusts(found.bytes + found.header.Owner, 3) &&
           !LetsOthersPlant(found.bytes);
  }
};

// Opens the workspace entry and holds it (WorkspaceEntry) when it is the
// account's own and closed: from then on it cannot be renamed, deleted or
// swapped for a link, so what was judged is what every later path reaches.
int HoldWorkspace(const wchar_t* path, DWORD found,
                  const LauncherAccount& account) {
  CloseWorkspaceEntry();  // one workspace is held at a time, never leaked
  HANDLE entry = platform::OpenDirectoryEntry(path);
  if (entry == INVALID_HANDLE_VALUE) return WorkspaceNotOwn;
  if (!account.IsOwnClosedDirectory(entry, found)) {
    platform::CloseHandle(entry);
    return WorkspaceNotOwn;
  }
  WorkspaceEntry = entry;
  return 0;
}

}  // namespace

int CreateDirectoryChain(TextView path) {
  LauncherAccount account;
  if (!account.ReadToken()) return WorkspaceNotOwn;
  if (account.Privileged()) platform::EnableRedirectionGuard();
  Text accumulated;
  bool looked = false;  // a component after the first was looked up
  DWORD found = 0;      // the last component's attributes, when it was there
  for (int number = 1; number <= MostComponents; ++number) {
    Text component = ExtractToken(path, number, BackslashDelimiters);
    if (component.Failed()) return ERROR_NOT_ENOUGH_MEMORY;
    if (component.Empty()) break;
    // The first component, normally the drive, is taken as it is.
    if (number == 1) {
      accumulated = std::move(component);
      continue;
    }
    accumulated.Append(L'\\').Append(component.View());
    if (accumulated.Failed()) return ERROR_NOT_ENOUGH_MEMORY;
    looked = true;
    found = LookUp(accumulated.CString());
    if (!found) {
      if (!platform::CreateDirectoryW(accumulated.CString(),
                                      &account.closedAttributes))
        return static_cast<int>(platform::GetLastError());
      if (FirstCreatedDirectory.Empty())
        AssignProcessText(FirstCreatedDirectory, accumulated.View());
    } else if (!(found & FILE_ATTRIBUTE_DIRECTORY)) {
      return ComponentNotDirectory;
    }
  }
  // The workspace, created now or there already, is judged and held.
  return looked ? HoldWorkspace(accumulated.CString(), found, account) : 0;
}

void CloseWorkspaceEntry() {
  if (WorkspaceEntry) platform::CloseHandle(WorkspaceEntry);
  WorkspaceEntry = nullptr;
}
