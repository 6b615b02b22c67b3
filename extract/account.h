#pragma once
// The account the launcher runs as, read from its token once at the start
// of the run: whether the run is privileged, whose entries it trusts, and
// the closed security that whatever it creates for itself gets.

#include <windows.h>

// Reads the token; false when it cannot be read, and the run then creates
// no workspace and opens no log.
bool ReadRunAccount();

// SYSTEM, or an elevated token: the runs that a user's planted link or file
// could turn against the machine. Decided by the token's elevation, not by
// its default owner, which a policy can change.
bool PrivilegedRun();

// A protected DACL that gives full control to SYSTEM, Administrators and
// the token's default owner, inherited by everything inside, and nothing to
// anyone else; null until the token was read.
SECURITY_ATTRIBUTES* ClosedSecurity();

// Judges an open entry by its owner and DACL: `ownedByRun` asks for the
// owner that what the run creates gets (the token's default owner, or its
// user where the default owner is not Administrators), else SYSTEM and
// Administrators also do; `closed` also asks that no one else may plant in
// it (write, create, delete, change its permissions or owner). False when
// its security cannot be read.
bool TrustedEntry(HANDLE entry, bool ownedByRun, bool closed);
