// The administrators-only descriptor (admin_folder.cpp), for the rollback
// unit's own files; the folders themselves are in rollback.h.
#pragma once

#include <windows.h>

// A new security descriptor that gives Administrators and SYSTEM full
// control and nobody else any right (owner Administrators), for
// SECURITY_ATTRIBUTES; release it with LocalFree. Null when it cannot be
// made.
PSECURITY_DESCRIPTOR NewAdminOnlyDescriptor();
