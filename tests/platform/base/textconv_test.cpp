#include <cwchar>
#include <string>

#include <gtest/gtest.h>

#include "platform/base/lasterror.h"
#include "platform/base/textconv.h"

namespace {

const char kText[] =
    "Gr\xC3\xBC\xC3\x9F"
    "e, \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80 \\home\\a";
const wchar_t kWide[] = L"Gr\u00FC\u00DFe, \u65E5\u672C \U0001F600 \\home\\a";

TEST(MultiByteToWideChar, RoundTripOfNonAsciiTextWithTheSizeProtocol) {
    for (const UINT codePage : {UINT{CP_ACP}, UINT{CP_UTF8}}) {
        SCOPED_TRACE(codePage);
        const int needed = MultiByteToWideChar(codePage, 0, kText, -1, nullptr, 0);
        ASSERT_EQ(needed, static_cast<int>(std::wcslen(kWide)) + 1);

        std::wstring wide(static_cast<size_t>(needed), L'#');
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(codePage, 0, kText, -1, wide.data(), needed - 1), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(wide, std::wstring(static_cast<size_t>(needed), L'#')) << "nothing written";

        ASSERT_EQ(MultiByteToWideChar(codePage, 0, kText, -1, wide.data(), needed), needed);
        EXPECT_STREQ(wide.c_str(), kWide);
        EXPECT_EQ(wide.back(), L'\0');

        const int bytes =
            WideCharToMultiByte(codePage, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
        ASSERT_EQ(bytes, static_cast<int>(sizeof kText));
        std::string back(static_cast<size_t>(bytes), '#');
        EXPECT_EQ(WideCharToMultiByte(codePage, 0, wide.c_str(), -1, back.data(), bytes - 1,
                                      nullptr, nullptr),
                  0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        ASSERT_EQ(WideCharToMultiByte(codePage, 0, wide.c_str(), -1, back.data(), bytes, nullptr,
                                      nullptr),
                  bytes);
        EXPECT_STREQ(back.c_str(), kText);
    }
}

TEST(MultiByteToWideChar, AnExplicitLengthHasNoTerminatorAndMayHoldZeros) {
    wchar_t out[8];
    std::wmemset(out, L'#', 8);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab\0c\xC3\xA4", 6, out, 8), 5);
    EXPECT_EQ(std::wstring(out, 6), std::wstring(L"ab\0c\u00E4#", 6));
}

TEST(MultiByteToWideChar, IllFormedInputIsReplacedOrRefused) {
    struct Case {
        const char* name;
        std::string bytes;
        std::wstring lenient;
    };
    const std::wstring r(1, L'\uFFFD');
    const Case cases[] = {
        {"lone continuation", "a\x80z", L"a" + r + L"z"},
        {"overlong slash", "\xC0\xAF", r + r},
        {"overlong three bytes", "\xE0\x80\xAF", r + r + r},
        {"surrogate", "\xED\xA0\x80", r + r + r},
        {"above U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
        {"cut at the end", "x\xE6\x97", L"x" + r},
        {"cut before ASCII",
         "\xF0\x9F\x98"
         "A",
         r + L"A"},
        {"invalid lead", "\xFF\xFE", r + r},
    };
    for (const Case& c : cases) {
        const int length = static_cast<int>(c.bytes.size());
        wchar_t out[16];
        const int got = MultiByteToWideChar(CP_UTF8, 0, c.bytes.data(), length, out, 16);
        EXPECT_EQ(std::wstring(out, static_cast<size_t>(std::max(got, 0))), c.lenient) << c.name;
        SetLastError(0);
        EXPECT_EQ(
            MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.bytes.data(), length, out, 16), 0)
            << c.name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION)) << c.name;
    }
}

TEST(WideCharToMultiByte, ValuesThatAreNoCodePoint) {
    const wchar_t bad[] = {L'a', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000),
                           static_cast<wchar_t>(-1), L'z'};
    char out[32];
    int got = WideCharToMultiByte(CP_UTF8, 0, bad, 5, out, 32, nullptr, nullptr);
    EXPECT_EQ(std::string(out, static_cast<size_t>(std::max(got, 0))),
              "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz");

    BOOL used = FALSE;
    got = WideCharToMultiByte(CP_ACP, 0, bad, 5, out, 32, "?", &used);
    EXPECT_EQ(std::string(out, static_cast<size_t>(std::max(got, 0))), "a???z");
    EXPECT_TRUE(used);
    got = WideCharToMultiByte(CP_ACP, 0, L"ok", 2, out, 32, "?", &used);
    EXPECT_EQ(got, 2);
    EXPECT_FALSE(used);

    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, bad, 5, out, 32, nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(TextConversion, BadArgumentsFailWithTheirWindowsErrors) {
    wchar_t wide[4];
    char narrow[4];
    struct Case {
        const char* name;
        int (*call)(wchar_t*, char*);
        DWORD error;
    };
    const Case cases[] = {
        {"unknown code page",
         [](wchar_t* w, char*) { return MultiByteToWideChar(1252, 0, "a", -1, w, 4); },
         ERROR_INVALID_PARAMETER},
        {"null source",
         [](wchar_t* w, char*) { return MultiByteToWideChar(CP_ACP, 0, nullptr, -1, w, 4); },
         ERROR_INVALID_PARAMETER},
        {"zero source length",
         [](wchar_t* w, char*) { return MultiByteToWideChar(CP_ACP, 0, "a", 0, w, 4); },
         ERROR_INVALID_PARAMETER},
        {"negative buffer",
         [](wchar_t* w, char*) { return MultiByteToWideChar(CP_ACP, 0, "a", -1, w, -2); },
         ERROR_INVALID_PARAMETER},
        {"buffer size without buffer",
         [](wchar_t*, char*) { return MultiByteToWideChar(CP_ACP, 0, "a", -1, nullptr, 4); },
         ERROR_INVALID_PARAMETER},
        {"UTF-8 with a composition flag",
         [](wchar_t* w, char*) {
             return MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", -1, w, 4);
         },
         ERROR_INVALID_FLAGS},
        {"UTF-8 with a default character",
         [](wchar_t*, char* n) {
             return WideCharToMultiByte(CP_UTF8, 0, L"a", -1, n, 4, "?", nullptr);
         },
         ERROR_INVALID_PARAMETER},
        {"narrow target too small",
         [](wchar_t*, char* n) {
             return WideCharToMultiByte(CP_UTF8, 0, L"\u00E4\u00E4", -1, n, 4, nullptr, nullptr);
         },
         ERROR_INSUFFICIENT_BUFFER},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(c.call(wide, narrow), 0) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
}

}  // namespace
