#include "account.h"

#include <stddef.h>

#include "platform.h"

namespace {

template <int SubAuthorities>
struct FixedAce {
  ACE_HEADER header;
  ACCESS_MASK mask;
  BYTE revision, count, authority[6];
  DWORD subAuthority[SubAuthorities];
};

constexpr BYTE InheritedInside = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// A self-relative security descriptor with a protected DACL and no owner,
// group or SACL (the creator's defaults apply). The fixed part comes first;
// the default owner is known only at run time.
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

// What the run knows of its account; zero until the token was read.
struct RunAccount {
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
  TOKEN_ELEVATION elevation;
  // The owners of what the run creates come first (OwnersOfRun), then SYSTEM
  // and Administrators: the only accounts trusted.
  const BYTE* trusted[4];
  bool privileged;
} Account;

constexpr int OwnersOfRun = 2;
constexpr int TrustedAccounts = 4;

bool Trusts(const BYTE* sid, int among) {
  while (among--)
    if (SameSid(sid, Account.trusted[among])) return true;
  return false;
}

// True when the DACL of the descriptor lets an account other than the
// trusted ones plant in the entry or in what it will hold.
bool LetsOthersPlant(const BYTE* descriptor) {
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
        !Trusts(ace + AceSidOffset, TrustedAccounts))
      return true;
  }
  return false;
}

}  // namespace

bool ReadRunAccount() {
  Account.closedAttributes.nLength = 0;
  Account.privileged = false;
  HANDLE token;
  if (!platform::OpenProcessToken(&token)) return false;
  const bool read =
      platform::GetTokenInformation(token, TokenUser, Account.userBytes,
                                    sizeof Account.userBytes) &&
      platform::GetTokenInformation(token, TokenOwner, Account.ownerBytes,
                                    sizeof Account.ownerBytes) &&
      platform::GetTokenInformation(token, TokenElevation, &Account.elevation,
                                    sizeof Account.elevation);
  platform::CloseHandle(token);
  if (!read) return false;
  // The default owner, not the user: for an elevated administrator it is
  // normally Administrators, so that the same user's unelevated programs
  // get no entry of their own beside the elevated setup program.
  const BYTE* ownerSid = static_cast<const BYTE*>(Account.owner.Owner);
  const int length = SidLength(ownerSid);
  ClosedDescriptor& closed = Account.closed;
  closed.fixed = ClosedTemplate;
  memcpy(closed.ownerSid, ownerSid, length);
  closed.fixed.ownerHeader.AceSize = static_cast<WORD>(AceSidOffset + length);
  closed.fixed.acl.AclSize =
      static_cast<WORD>(sizeof(ACL) + sizeof(FixedAce<1>) +
                        sizeof(FixedAce<2>) + AceSidOffset + length);
  Account.closedAttributes = {sizeof Account.closedAttributes, &closed, FALSE};
  // What the run creates belongs to the default owner; Wine gives it to
  // the token's user, and reports a group as the default owner. The user
  // counts as an owner of the run's too, except beside an elevated token's
  // Administrators, where the same user's unelevated programs are the very
  // ones to keep out.
  const BYTE* userSid = static_cast<const BYTE*>(Account.user.User.Sid);
  const BYTE* system = &closed.fixed.system.revision;
  const BYTE* administrators = &closed.fixed.administrators.revision;
  Account.trusted[0] = ownerSid;
  Account.trusted[1] = SameSid(ownerSid, administrators) ? ownerSid : userSid;
  Account.trusted[2] = system;
  Account.trusted[3] = administrators;
  Account.privileged =
      Account.elevation.TokenIsElevated || SameSid(userSid, system);
  return true;
}

bool PrivilegedRun() { return Account.privileged; }

// Asked in many places; one copy keeps the image small.
__attribute__((noinline)) SECURITY_ATTRIBUTES* ClosedSecurity() {
  return Account.closedAttributes.nLength ? &Account.closedAttributes
                                          : nullptr;
}

bool TrustedEntry(HANDLE entry, bool ownedByRun, bool closed) {
  union {
    SECURITY_DESCRIPTOR_RELATIVE header;
    BYTE bytes[1024];
  } found;
  return ClosedSecurity() &&
         platform::GetKernelObjectSecurity(entry, found.bytes,
                                           sizeof found.bytes) &&
         found.header.Owner &&
         Trusts(found.bytes + found.header.Owner,
                ownedByRun ? OwnersOfRun : TrustedAccounts) &&
         !(closed && LetsOthersPlant(found.bytes));
}
