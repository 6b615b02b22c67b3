#pragma once
// Directory security for the Wine tests and the end-to-end tests: read,
// set and compared as SDDL text.

#include <windows.h>
#include <sddl.h>

#include <string>

namespace test {

inline std::string Sddl(const void* descriptor, SECURITY_INFORMATION parts =
                            OWNER_SECURITY_INFORMATION |
                            DACL_SECURITY_INFORMATION) {
  char* text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorA(
          const_cast<void*>(descriptor), SDDL_REVISION_1, parts, &text,
          nullptr))
    return "(unreadable)";
  std::string sddl = text;
  ::LocalFree(text);
  return sddl;
}

// A self-relative security descriptor, byte for byte, from SDDL.
inline std::string Descriptor(const std::string& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ULONG size = 0;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(
          sddl.c_str(), SDDL_REVISION_1, &descriptor, &size))
    return {};
  std::string bytes(static_cast<const char*>(descriptor), size);
  ::LocalFree(descriptor);
  return bytes;
}

// The owner and DACL of a directory as the platform reads them back.
inline std::string SecurityOf(const std::string& path) {
  char buffer[4096];
  DWORD needed = 0;
  if (!::GetFileSecurityA(path.c_str(),
                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          buffer, sizeof buffer, &needed))
    return "(unreadable)";
  return Sddl(buffer);
}

// Gives a directory the DACL of `sddl` ("D:..."), as another tool would.
inline bool SetDacl(const std::string& path, const std::string& sddl) {
  std::string bytes = Descriptor(sddl);
  return !bytes.empty() &&
         ::SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION,
                            bytes.data());
}

// The first SID of the process token's `kind` (TokenUser: the account,
// TokenOwner: the default owner), as SDDL writes a SID.
inline std::string TokenSid(TOKEN_INFORMATION_CLASS kind) {
  HANDLE token = nullptr;
  ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
  char buffer[256];
  DWORD needed = 0;
  ::GetTokenInformation(token, kind, buffer, sizeof buffer, &needed);
  ::CloseHandle(token);
  char* text = nullptr;
  // TOKEN_USER and TOKEN_OWNER both begin with the SID's pointer.
  ::ConvertSidToStringSidA(*reinterpret_cast<PSID*>(buffer), &text);
  std::string sid = text ? text : "";
  ::LocalFree(text);
  return sid;
}
inline std::string UserSid() { return TokenSid(TokenUser); }
inline std::string DefaultOwnerSid() { return TokenSid(TokenOwner); }

// The closed DACL, as the launcher gives a workspace that it creates for a
// token whose default owner is `owner`.
inline std::string ClosedDaclFor(const std::string& owner) {
  return "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + owner + ")";
}
inline std::string ClosedDacl() { return ClosedDaclFor(DefaultOwnerSid()); }

// True when the SDDL grants Everyone, Users or Authenticated Users anything.
inline bool GrantsOthers(const std::string& sddl) {
  for (const char* other : {";WD)", ";BU)", ";AU)"})
    if (sddl.find(other) != std::string::npos) return true;
  return false;
}

}  // namespace test
