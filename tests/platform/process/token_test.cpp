#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "platform/base/lasterror.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/sync.h"
#include "platform/process/token.h"
#include "support/platform/test_seams.h"

namespace {

const HANDLE kOwnProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

class FakeIdentity : public platform::IdentitySource {
  public:
    explicit FakeIdentity(platform::ProcessIdentity identity) : identity_(std::move(identity)) {
        platform::SetIdentitySource(this);
    }
    ~FakeIdentity() override { platform::SetIdentitySource(nullptr); }
    platform::ProcessIdentity Current() override { return identity_; }

  private:
    platform::ProcessIdentity identity_;
};

struct Query {
    BOOL ok;
    DWORD value;
    DWORD error;
    DWORD length;
};

Query Ask(HANDLE token, TOKEN_INFORMATION_CLASS cls, DWORD bufferSize = sizeof(DWORD)) {
    Query q{FALSE, 0xDEADBEEF, 0, 0};
    SetLastError(0);
    q.ok = GetTokenInformation(token, cls, &q.value, bufferSize, &q.length);
    q.error = GetLastError();
    return q;
}

TEST(ProcessToken, ElevationTypeFollowsTheUserAndTheAdminGroups) {
    struct Case {
        unsigned uid;
        std::vector<std::string> groups;
        TOKEN_ELEVATION_TYPE type;
        DWORD elevated;
    };
    const Case cases[] = {
        {0, {}, TokenElevationTypeFull, 1},
        {0, {"sudo"}, TokenElevationTypeFull, 1},
        {1000, {"sudo"}, TokenElevationTypeLimited, 0},
        {1000, {"users", "wheel"}, TokenElevationTypeLimited, 0},
        {1000, {"admin"}, TokenElevationTypeLimited, 0},
        {1000, {}, TokenElevationTypeDefault, 0},
        {1000, {"users", "adm", "sudoers", "Sudo"}, TokenElevationTypeDefault, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "uid " << c.uid << ", " << c.groups.size() << " groups");
        FakeIdentity identity({c.uid, c.groups});
        HANDLE token = nullptr;
        ASSERT_TRUE(OpenProcessToken(kOwnProcess, TOKEN_READ, &token));
        const Query type = Ask(token, TokenElevationType);
        EXPECT_TRUE(type.ok);
        EXPECT_EQ(type.value, static_cast<DWORD>(c.type));
        EXPECT_EQ(type.length, sizeof(DWORD));
        const Query elevation = Ask(token, TokenElevation);
        EXPECT_TRUE(elevation.ok);
        EXPECT_EQ(elevation.value, c.elevated);
        EXPECT_TRUE(platform::CloseKernelHandle(token));
    }
}

TEST(ProcessToken, HoldsTheIdentityItWasOpenedWith) {
    HANDLE token = nullptr;
    {
        FakeIdentity limited({1000, {"sudo"}});
        ASSERT_TRUE(OpenProcessToken(kOwnProcess, TOKEN_QUERY, &token));
    }
    FakeIdentity plain({1000, {}});
    EXPECT_EQ(Ask(token, TokenElevationType).value, static_cast<DWORD>(TokenElevationTypeLimited));
    platform::CloseKernelHandle(token);
}

TEST(ProcessToken, OnlyHandlesOfTheOwnProcessHaveAToken) {
    FakeIdentity identity({1000, {"wheel"}});
    HANDLE process = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(),
                                &process, 0, FALSE, DUPLICATE_SAME_ACCESS));
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(process, TOKEN_QUERY, &token));
    EXPECT_EQ(Ask(token, TokenElevationType).value, static_cast<DWORD>(TokenElevationTypeLimited));
    platform::CloseKernelHandle(token);
    CloseHandle(process);

    // An event, the closed duplicate, the closed token.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (HANDLE other : {event, process, token}) {
        HANDLE opened = reinterpret_cast<HANDLE>(1);
        SetLastError(0);
        EXPECT_FALSE(OpenProcessToken(other, TOKEN_QUERY, &opened));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(opened, nullptr);
    }
    CloseHandle(event);
}

TEST(ProcessToken, RealIdentityOfRootIsFull) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(kOwnProcess, TOKEN_READ, &token));
    EXPECT_EQ(Ask(token, TokenElevationType).value, static_cast<DWORD>(TokenElevationTypeFull));
    platform::CloseKernelHandle(token);
}

TEST(ProcessToken, FailuresKeepTheWindowsErrors) {
    FakeIdentity identity({1000, {"sudo"}});
    HANDLE token = reinterpret_cast<HANDLE>(1);
    SetLastError(0);
    EXPECT_FALSE(OpenProcessToken(reinterpret_cast<HANDLE>(0x4321), TOKEN_READ, &token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(token, nullptr);

    HANDLE noQuery = nullptr;
    ASSERT_TRUE(OpenProcessToken(kOwnProcess, STANDARD_RIGHTS_READ, &noQuery));
    HANDLE readable = nullptr;
    ASSERT_TRUE(OpenProcessToken(kOwnProcess, TOKEN_READ, &readable));
    HANDLE closed = nullptr;
    ASSERT_TRUE(OpenProcessToken(kOwnProcess, TOKEN_READ, &closed));
    platform::CloseKernelHandle(closed);

    struct Case {
        const char* name;
        HANDLE token;
        TOKEN_INFORMATION_CLASS cls;
        DWORD bufferSize;
        DWORD error;
        DWORD length;  // what the call reports as needed
    };
    const Case cases[] = {
        {"no query right", noQuery, TokenElevationType, 4, ERROR_ACCESS_DENIED, 0},
        {"buffer too small", readable, TokenElevationType, 3, ERROR_INSUFFICIENT_BUFFER, 4},
        {"size query", readable, TokenElevationType, 0, ERROR_INSUFFICIENT_BUFFER, 4},
        {"class not offered", readable, TokenUser, 4, ERROR_INVALID_PARAMETER, 0},
        {"closed token", closed, TokenElevationType, 4, ERROR_INVALID_HANDLE, 0},
        {"process handle", kOwnProcess, TokenElevationType, 4, ERROR_INVALID_HANDLE, 0},
    };
    for (const Case& c : cases) {
        const Query q = Ask(c.token, c.cls, c.bufferSize);
        EXPECT_FALSE(q.ok) << c.name;
        EXPECT_EQ(q.error, c.error) << c.name;
        EXPECT_EQ(q.length, c.length) << c.name;
        EXPECT_EQ(q.value, 0xDEADBEEFu) << c.name;
    }
    platform::CloseKernelHandle(noQuery);
    platform::CloseKernelHandle(readable);
}

}  // namespace
