// The workspace directory chain: every missing component after the first is
// created from the outside in, closed to everyone but the launcher's own
// account, SYSTEM and Administrators, and the outermost directory that had
// to be created is recorded once, for the exit clean-up. A workspace that
// was there already is used only when no one else can plant in it.

#include <utility>

#include "extract.h"
#include "platform.h"

ProcessText FirstCreatedDirectory;

namespace {

// Components past this many are neither looked up nor created.
constexpr int MostComponents = 100;

// A bit that no file attribute uses, so that a found entry is never 0.
constexpr DWORD EntryFound = 0x80000000u;

// The attributes of the entry itself (a junction or symbolic link is not
// followed); 0 when nothing is found. Any lookup failure counts as absence.
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
// the Administrators group and to the launcher's account, inherited by
// every file and folder inside, and nothing for anyone else. The fixed part
// comes first; the launcher's account is known only at run time.
struct ClosedFixedPart {
  SECURITY_DESCRIPTOR_RELATIVE header;
  ACL acl;
  FixedAce<1> system;
  FixedAce<2> administrators;
  ACE_HEADER userHeader;
  ACCESS_MASK userMask;
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
  BYTE userSid[SECURITY_MAX_SID_SIZE];
};

// Rights by which an account could plant, replace or redirect: write, create
// files or folders, delete, change the permissions or the owner.
constexpr ACCESS_MASK PlantingRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
    FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
    GENERIC_ALL;

int SidLength(const BYTE* sid) { return 8 + 4 * sid[1]; }

// From the front, so that SIDs of different lengths part at their count.
bool SameSid(const BYTE* a, const BYTE* b) {
  for (int at = 0; at < SidLength(a); ++at)
    if (a[at] != b[at]) return false;
  return true;
}

// What the workspace's security is judged by.
struct Security {
  ClosedDescriptor closed;
  SECURITY_ATTRIBUTES attributes;
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
  bool Read() {
    HANDLE token;
    if (!platform::OpenProcessToken(&token)) return false;
    const bool read =
        platform::GetTokenInformation(token, TokenUser, userBytes,
                                      sizeof userBytes) &&
        platform::GetTokenInformation(token, TokenOwner, ownerBytes,
                                      sizeof ownerBytes);
    platform::CloseHandle(token);
    if (!read) return false;
    const BYTE* sid = static_cast<const BYTE*>(user.User.Sid);
    const int length = SidLength(sid);
    closed.fixed = ClosedTemplate;
    memcpy(closed.userSid, sid, length);
    closed.fixed.userHeader.AceSize = static_cast<WORD>(8 + length);
    closed.fixed.acl.AclSize = static_cast<WORD>(
        sizeof(ACL) + sizeof(FixedAce<1>) + sizeof(FixedAce<2>) + 8 + length);
    attributes = {sizeof attributes, &closed, FALSE};
    trusted[0] = sid;
    trusted[1] = static_cast<const BYTE*>(owner.Owner);
    trusted[2] = &closed.fixed.system.revision;
    trusted[3] = &closed.fixed.administrators.revision;
    return true;
  }

  bool Trusted(const BYTE* sid, int among) const {
    while (among--)
      if (SameSid(sid, trusted[among])) return true;
    return false;
  }

  // True when the DACL of the descriptor lets an account other than the
  // trusted ones plant in the directory or in what it will hold.
  bool Open(const BYTE* descriptor) const {
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
      if ((*reinterpret_cast<const ACCESS_MASK*>(ace + 4) & PlantingRights) &&
          !Trusted(ace + 8, 4))
        return true;
    }
    return false;
  }

  // 0 when the existing directory may be used: it is no reparse point, its
  // owner is trusted, and its DACL is closed or was closed now.
  int Judge(const wchar_t* path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return WorkspaceNotOwn;
    HANDLE entry = platform::OpenDirectoryEntry(path);
    if (entry == INVALID_HANDLE_VALUE) return WorkspaceNotOwn;
    union {
      SECURITY_DESCRIPTOR_RELATIVE header;
      BYTE bytes[1024];
    } found;
    int result = WorkspaceNotOwn;
    if (platform::GetKernelObjectSecurity(entry, found.bytes,
                                          sizeof found.bytes) &&
        found.header.Owner && Trusted(found.bytes + found.header.Owner, 3) &&
        (!Open(found.bytes) ||
         platform::SetKernelObjectSecurity(entry, path, &closed)))
      result = 0;
    platform::CloseHandle(entry);
    return result;
  }
};

}  // namespace

int CreateDirectoryChain(TextView path) {
  Security security;
  if (!security.Read()) return WorkspaceNotOwn;
  Text accumulated;
  DWORD found = 0;  // the last component's attributes, when it was there
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
    found = LookUp(accumulated.CString());
    if (!found) {
      if (!platform::CreateDirectoryW(accumulated.CString(),
                                      &security.attributes))
        return static_cast<int>(platform::GetLastError());
      if (FirstCreatedDirectory.Empty())
        AssignProcessText(FirstCreatedDirectory, accumulated.View());
    } else if (!(found & FILE_ATTRIBUTE_DIRECTORY)) {
      return ComponentNotDirectory;
    }
  }
  // The workspace itself was there already.
  return found ? security.Judge(accumulated.CString(), found) : 0;
}
