// The process token: OpenProcessToken and GetTokenInformation.
#pragma once

#include <string>
#include <vector>

#include "platform/base/types.h"

typedef HANDLE* PHANDLE;
typedef DWORD* PDWORD;

#define TOKEN_QUERY 0x0008u
#define STANDARD_RIGHTS_READ 0x00020000u
#define TOKEN_READ (STANDARD_RIGHTS_READ | TOKEN_QUERY)

typedef enum _TOKEN_INFORMATION_CLASS {
    TokenUser = 1,
    TokenElevationType = 18,
    TokenElevation = 20,
} TOKEN_INFORMATION_CLASS;

typedef enum _TOKEN_ELEVATION_TYPE {
    TokenElevationTypeDefault = 1,
    TokenElevationTypeFull = 2,
    TokenElevationTypeLimited = 3,
} TOKEN_ELEVATION_TYPE;

typedef struct _TOKEN_ELEVATION {
    DWORD TokenIsElevated;
} TOKEN_ELEVATION;

// Only the own process (GetCurrentProcess, or a duplicate of it) has a token here. The token
// holds the identity as it was when it was opened.
BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
// TokenElevationType: full for root, limited for a user in the group sudo, wheel or admin (one
// who may become administrator), default otherwise. TokenElevation: elevated for root.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS cls, LPVOID info, DWORD length,
                         PDWORD returnLength);

namespace platform {

// Who the process runs as, for the token.
struct ProcessIdentity {
    unsigned effectiveUid = 0;
    std::vector<std::string> groups;  // group names; the real source lists the admin groups held
};

class IdentitySource {
  public:
    virtual ~IdentitySource() = default;
    virtual ProcessIdentity Current() = 0;
};

// Installs `source` (the caller keeps it alive meanwhile; null: the process's real identity)
// and returns the one it replaces.
IdentitySource* SetIdentitySource(IdentitySource* source);

}  // namespace platform
