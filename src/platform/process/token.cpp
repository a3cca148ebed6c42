// OpenProcessToken and GetTokenInformation. The elevation type answers the one
// question the application asks: would an administrator's start need the elevation prompt?
#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/base/lasterror.h"
#include "platform/kernel/kernel_object.h"
#include "platform/process/token.h"

namespace {

// The groups whose members may become administrator with their own password.
const char* const kAdminGroups[] = {"sudo", "wheel", "admin"};

bool HoldsGroup(gid_t gid) {
    if (getegid() == gid)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = getgroups(count, groups.data());
    if (got < 0)
        return false;
    groups.resize(static_cast<size_t>(got));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

bool GroupId(const char* name, gid_t* gid) {
    std::vector<char> buffer(4096);
    for (;;) {
        group entry{};
        group* found = nullptr;
        const int err = getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found);
        if (err == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (err != 0 || found == nullptr)
            return false;
        *gid = found->gr_gid;
        return true;
    }
}

class RealIdentity : public platform::IdentitySource {
  public:
    platform::ProcessIdentity Current() override {
        platform::ProcessIdentity identity;
        identity.effectiveUid = geteuid();
        for (const char* name : kAdminGroups) {
            gid_t gid = 0;
            if (GroupId(name, &gid) && HoldsGroup(gid))
                identity.groups.emplace_back(name);
        }
        return identity;
    }
};

RealIdentity g_realIdentity;
std::atomic<platform::IdentitySource*> g_identity{nullptr};

platform::IdentitySource& Identity() {
    platform::IdentitySource* source = g_identity.load();
    return source ? *source : g_realIdentity;
}

class TokenObject : public platform::KernelObject {
  public:
    TokenObject(DWORD access, platform::ProcessIdentity identity)
        : access_(access), identity_(std::move(identity)) {}
    // A token is nothing to wait for.
    bool WaitFor(DWORD) override { return false; }
    DWORD access() const { return access_; }
    const platform::ProcessIdentity& identity() const { return identity_; }

  private:
    const DWORD access_;
    const platform::ProcessIdentity identity_;
};

// Writes a fixed-size answer with the Windows size protocol.
template <typename T>
BOOL Answer(const T& value, LPVOID info, DWORD length, PDWORD returnLength) {
    if (returnLength)
        *returnLength = sizeof(T);
    if (length < sizeof(T)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::memcpy(info, &value, sizeof(T));
    return TRUE;
}

TOKEN_ELEVATION_TYPE ElevationTypeOf(const platform::ProcessIdentity& identity) {
    if (identity.effectiveUid == 0)
        return TokenElevationTypeFull;
    for (const std::string& group : identity.groups) {
        for (const char* admin : kAdminGroups) {
            if (group == admin)
                return TokenElevationTypeLimited;
        }
    }
    return TokenElevationTypeDefault;
}

}  // namespace

platform::IdentitySource* platform::SetIdentitySource(IdentitySource* source) {
    return g_identity.exchange(source);
}

BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    if (token == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *token = nullptr;
    if (!platform::IsCurrentProcess(process)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *token = platform::NewHandle(std::make_shared<TokenObject>(access, Identity().Current()));
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS cls, LPVOID info, DWORD length,
                         PDWORD returnLength) {
    const auto object = platform::ObjectAs<TokenObject>(token);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((object->access() & TOKEN_QUERY) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    switch (cls) {
        case TokenElevationType: {
            const TOKEN_ELEVATION_TYPE type = ElevationTypeOf(object->identity());
            return Answer(static_cast<DWORD>(type), info, length, returnLength);
        }
        case TokenElevation: {
            const TOKEN_ELEVATION elevation{object->identity().effectiveUid == 0 ? 1u : 0u};
            return Answer(elevation, info, length, returnLength);
        }
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
}
