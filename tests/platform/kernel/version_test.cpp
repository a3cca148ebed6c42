#include <cstring>

#include <gtest/gtest.h>

#include "platform/base/lasterror.h"
#include "platform/kernel/version.h"

namespace {

TEST(Version, ReportsASystemWithTokenElevationForEitherRecord) {
    OSVERSIONINFOEXA ex;
    std::memset(&ex, 0x55, sizeof ex);
    ex.dwOSVersionInfoSize = sizeof ex;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
    EXPECT_EQ(ex.dwOSVersionInfoSize, sizeof ex);
    EXPECT_EQ(ex.dwMajorVersion, 6u);
    EXPECT_EQ(ex.dwMinorVersion, 1u);
    EXPECT_EQ(ex.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_NE(ex.dwBuildNumber, 0u);
    EXPECT_STREQ(ex.szCSDVersion, "");
    EXPECT_EQ(ex.wProductType, VER_NT_WORKSTATION);
    EXPECT_EQ(ex.wServicePackMajor, 0);

    OSVERSIONINFOA plain{};
    plain.dwOSVersionInfoSize = sizeof plain;
    ASSERT_TRUE(GetVersionExA(&plain));
    EXPECT_EQ(plain.dwMajorVersion, 6u);
    EXPECT_EQ(plain.dwBuildNumber, ex.dwBuildNumber);
}

TEST(Version, RefusesARecordOfUnknownSize) {
    for (const DWORD size :
         {DWORD{0}, DWORD{sizeof(OSVERSIONINFOA) - 1}, DWORD{sizeof(OSVERSIONINFOA) + 1}}) {
        OSVERSIONINFOEXA info{};
        info.dwOSVersionInfoSize = size;
        SetLastError(0);
        EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info))) << size;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << size;
        EXPECT_EQ(info.dwMajorVersion, 0u) << size;
    }
}

}  // namespace
