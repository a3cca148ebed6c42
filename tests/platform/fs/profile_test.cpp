#include "platform/fs/profile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "platform/base/lasterror.h"
#include "support/named_pipe.h"
#include "support/platform/test_seams.h"
#include "support/sandbox.h"

namespace {

class ProfileTest : public fixtures::SandboxTest {
  protected:
    // Writes the profile (or none, for nullptr) and returns its Windows-form path.
    std::string Profile(const char* text) {
        const std::string native = sandbox_.Path("DownloadCfg.ini");
        if (text != nullptr)
            sandbox_.WriteFile(native, text);
        return fixtures::Sandbox::Win(native);
    }
};

// Reads a double-zero list as the bytes up to and including its final zero.
std::string ListOf(const char* buffer, size_t size) {
    for (size_t i = 0; i + 1 < size; ++i) {
        if (buffer[i] == '\0' && buffer[i + 1] == '\0')
            return std::string(buffer, i + 2);
    }
    return std::string(buffer, size) + "<no end>";
}

TEST_F(ProfileTest, StringReadsValuesByTheWindowsRules) {
    const std::string longValue(300, 'v');
    const std::string longFile = "[Download#1]\nURL=" + longValue + "\n";
    struct Case {
        const char* name;
        const char* file;  // nullptr: no file at all
        const char* section;
        const char* key;
        const char* defaultText;
        DWORD size;
        std::string expected;
    };
    const Case cases[] = {
        {"plain", "[Download#1]\nProductName=Product A\n", "Download#1", "ProductName", "", 260,
         "Product A"},
        {"names ignore case", "[download#1]\nproductname=A\n", "DOWNLOAD#1", "ProductName", "", 260,
         "A"},
        {"blanks around names and values", "  [ Config ]  \n\t SN \t=  8  \n", "Config", "SN", "",
         260, "8"},
        {"inner blanks kept", "[s]\nk = a  b \n", "s", "k", "", 260, "a  b"},
        {"double quotes removed", "[s]\nk=\" padded \"\n", "s", "k", "", 260, " padded "},
        {"single quotes removed", "[s]\nk='x'\n", "s", "k", "", 260, "x"},
        {"only one pair of quotes", "[s]\nk=\"\"x\"\"\n", "s", "k", "", 260, "\"x\""},
        {"unmatched quotes kept", "[s]\nk=\"x'\n", "s", "k", "", 260, "\"x'"},
        {"lone quote kept", "[s]\nk=\"\n", "s", "k", "", 260, "\""},
        {"comment lines skipped", "[s]\n;k=commented\n  ; k=too\nk=real\n", "s", "k", "", 260,
         "real"},
        {"semicolon inside a value kept", "[s]\nk=a;b\n", "s", "k", "", 260, "a;b"},
        {"commented header is no header", "[s]\nk=1\n;[t]\nj=2\n", "s", "j", "", 260, "2"},
        {"first key wins", "[s]\nk=first\nK=second\n", "s", "k", "", 260, "first"},
        {"first section wins", "[s]\nk=first\n[t]\n[S]\nk=second\nj=later\n", "s", "k", "", 260,
         "first"},
        {"repeated section not merged", "[s]\nk=1\n[s]\nj=2\n", "s", "j", "dflt", 260, "dflt"},
        {"CR LF line ends", "[s]\r\nk=v\r\nj=w\r\n", "s", "k", "", 260, "v"},
        {"last line without line end", "[s]\nk=v", "s", "k", "", 260, "v"},
        {"byte-order mark skipped", "\xEF\xBB\xBF[s]\nk=v\n", "s", "k", "", 260, "v"},
        {"only the first '=' splits", "[s]\nk=a=b\n", "s", "k", "", 260, "a=b"},
        {"empty value is no default", "[s]\nk=\n", "s", "k", "dflt", 260, ""},
        {"key before any section ignored", "k=v\n[s]\n", "s", "k", "dflt", 260, "dflt"},
        {"line without '=' is no key", "[s]\nk\n", "s", "k", "dflt", 260, "dflt"},
        {"key of another section", "[s]\nk=v\n[t]\n", "t", "k", "dflt", 260, "dflt"},
        {"missing key gives the default", "[s]\nk=v\n", "s", "other", "dflt", 260, "dflt"},
        {"missing section gives the default", "[s]\nk=v\n", "t", "k", "dflt", 260, "dflt"},
        {"missing file gives the default", nullptr, "s", "k", "dflt", 260, "dflt"},
        {"NULL default is empty", nullptr, "s", "k", nullptr, 260, ""},
        {"default loses trailing blanks", nullptr, "s", "k", " d \t ", 260, " d"},
        {"value cut to size - 1", longFile.c_str(), "Download#1", "URL", "", 260,
         longValue.substr(0, 259)},
        {"value of size - 1 fits", "[s]\nk=abc\n", "s", "k", "", 4, "abc"},
        {"value of size cut by one", "[s]\nk=abcd\n", "s", "k", "", 4, "abc"},
        {"default cut to size - 1", nullptr, "s", "k", "abcdef", 4, "abc"},
        {"size 1 gives the empty text", "[s]\nk=abc\n", "s", "k", "", 1, ""},
        {"header without ']'", "[s\nk=v\n", "s", "k", "", 260, "v"},
        {"text after ']' ignored", "[s] trailing\nk=v\n", "s", "k", "", 260, "v"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(sandbox_.Path("DownloadCfg.ini").c_str());
        const std::string path = Profile(c.file);
        char buffer[1024];
        std::memset(buffer, '#', sizeof buffer);
        const DWORD got =
            GetPrivateProfileStringA(c.section, c.key, c.defaultText, buffer, c.size, path.c_str());
        EXPECT_EQ(got, c.expected.size());
        EXPECT_EQ(std::string(buffer), c.expected);
        EXPECT_EQ(buffer[c.size], '#') << "wrote past the buffer";
    }
}

TEST_F(ProfileTest, StringWithSizeZeroTouchesNothing) {
    const std::string path = Profile("[s]\nk=v\n");
    char buffer[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", buffer, 0, path.c_str()), 0u);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", nullptr, 10, path.c_str()), 0u);
}

TEST_F(ProfileTest, StringReportsMissingAndCutValuesInTheLastError) {
    const std::string path = Profile("[s]\nk=value\n");
    char buffer[260];
    GetPrivateProfileStringA("s", "k", "", buffer, sizeof buffer, path.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    GetPrivateProfileStringA("s", "k", "", buffer, 3, path.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    GetPrivateProfileStringA("s", "none", "", buffer, sizeof buffer, path.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    const std::string missing = fixtures::Sandbox::Win(sandbox_.Path("none.ini"));
    GetPrivateProfileStringA("s", "k", "", buffer, sizeof buffer, missing.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ProfileTest, FileIsReadAfreshAtEveryCall) {
    const std::string path = Profile("[s]\nk=old\n");
    char buffer[260];
    GetPrivateProfileStringA("s", "k", "", buffer, sizeof buffer, path.c_str());
    EXPECT_STREQ(buffer, "old");
    Profile("[s]\nk=new\n");
    GetPrivateProfileStringA("s", "k", "", buffer, sizeof buffer, path.c_str());
    EXPECT_STREQ(buffer, "new");
}

// A file is parsed once and kept while it stays the same, but every kind of change to it is
// seen by the next call, also when its size and its modification time stay as they were.
TEST_F(ProfileTest, AKeptFileIsParsedAgainAfterEveryChange) {
    const std::string native = sandbox_.Path("DownloadCfg.ini");
    const std::string path = Profile("[s]\nk=old\n");
    struct Case {
        const char* name;
        std::function<void()> change;  // leaves k=new, as long as k=old was
    };
    const Case cases[] = {
        {"rewritten in place", [&] { sandbox_.WriteFile(native, "[s]\nk=new\n"); }},
        {"rewritten and its modification time put back",
         [&] {
             struct stat before {};
             ASSERT_EQ(stat(native.c_str(), &before), 0);
             sandbox_.WriteFile(native, "[s]\nk=new\n");
             const timespec times[2] = {before.st_atim, before.st_mtim};
             ASSERT_EQ(utimensat(AT_FDCWD, native.c_str(), times, 0), 0);
         }},
        {"another file renamed over it",
         [&] {
             sandbox_.WriteFile(native + ".new", "[s]\nk=new\n");
             ASSERT_EQ(rename((native + ".new").c_str(), native.c_str()), 0);
         }},
    };
    char buffer[260];
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Profile("[s]\nk=old\n");
        fixtures::Sandbox::WaitUntilChangeTimesPassed(native);
        GetPrivateProfileStringA("s", "k", "", buffer, sizeof buffer, path.c_str());
        ASSERT_STREQ(buffer, "old");
        const unsigned long parsed = platform::testing::ProfileFilesParsed();
        GetPrivateProfileStringA("s", "k", "", buffer, sizeof buffer, path.c_str());
        EXPECT_EQ(platform::testing::ProfileFilesParsed(), parsed) << "kept while unchanged";
        c.change();
        GetPrivateProfileStringA("s", "k", "", buffer, sizeof buffer, path.c_str());
        EXPECT_STREQ(buffer, "new");
    }
}

// The reader asks for one value per call, four calls per section: a long file is still parsed
// once, not once per call.
TEST_F(ProfileTest, ALongFileIsParsedOnceForAllItsValues) {
    const int kSections = 4000;
    std::string text;
    for (int n = 1; n <= kSections; ++n) {
        const std::string i = std::to_string(n);
        text += "[Download#" + i + "]\nProductName=P" + i + "\nMD5=m" + i + "\nURL=u" + i + "\n";
    }
    const std::string path = Profile(text.c_str());
    fixtures::Sandbox::WaitUntilChangeTimesPassed(sandbox_.Path("DownloadCfg.ini"));
    const unsigned long parsed = platform::testing::ProfileFilesParsed();
    char buffer[260];
    for (int n = 1; n <= kSections + 1; ++n) {
        const std::string section = "Download#" + std::to_string(n);
        const DWORD probed = GetPrivateProfileSectionA(section.c_str(), buffer, 260, path.c_str());
        if (n > kSections) {
            EXPECT_EQ(probed, 0u);
            break;
        }
        ASSERT_GT(probed, 0u) << section;
        for (const auto& [key, prefix] :
             {std::pair{"ProductName", "P"}, std::pair{"MD5", "m"}, std::pair{"URL", "u"}}) {
            GetPrivateProfileStringA(section.c_str(), key, "", buffer, 260, path.c_str());
            ASSERT_EQ(std::string(buffer), prefix + std::to_string(n)) << section;
        }
    }
    EXPECT_EQ(platform::testing::ProfileFilesParsed() - parsed, 1u);
}

// A named pipe in the file's place reads as no file, at once: a reader waiting for the pipe's
// other end would hold the window for ever.
TEST_F(ProfileTest, ANamedPipeReadsAsNoFileWithoutWaiting) {
    const std::string native = sandbox_.Path("DownloadCfg.ini");
    ASSERT_TRUE(fixtures::MakeNamedPipe(native));
    const std::string path = fixtures::Sandbox::Win(native);
    char buffer[260];
    EXPECT_TRUE(fixtures::ReturnsWithoutWaitingOn(native, [&] {
        EXPECT_EQ(GetPrivateProfileSectionA("s", buffer, sizeof buffer, path.c_str()), 0u);
        EXPECT_EQ(GetPrivateProfileStringA("s", "k", "d", buffer, sizeof buffer, path.c_str()), 1u);
        EXPECT_STREQ(buffer, "d");
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }));
}

TEST_F(ProfileTest, AFolderOrAnOverlongNameReadsAsNoFile) {
    char buffer[260];
    const std::string folder = fixtures::Sandbox::Win(sandbox_.root());
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "d", buffer, sizeof buffer, folder.c_str()), 1u);
    EXPECT_STREQ(buffer, "d");

    // A real file whose Windows-form name is MAX_PATH long: refused before the file system.
    const std::string base = sandbox_.Path("");
    const std::string native = base + std::string(MAX_PATH - base.size(), 'n');
    ASSERT_EQ(native.size(), static_cast<size_t>(MAX_PATH));
    sandbox_.WriteFile(native, "[s]\nk=v\n");
    if (!fixtures::Sandbox::Exists(native))
        GTEST_SKIP() << "name too long for this file system";
    const std::string path = fixtures::Sandbox::Win(native);
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "d", buffer, sizeof buffer, path.c_str()), 1u);
    EXPECT_STREQ(buffer, "d");
}

TEST_F(ProfileTest, SectionCopiesItsLinesAsADoubleZeroList) {
    using namespace std::string_literals;
    const std::string big = "[Download#1]\nURL=" + std::string(300, 'u') + "\n";
    struct Case {
        const char* name;
        const char* file;
        const char* section;
        DWORD size;
        std::string expected;  // the list up to its final zero
        DWORD result;
    };
    const Case cases[] = {
        {"present", "[Download#1]\nProductName = A \nURL=\"http://h/a.exe\"\n", "download#1", 260,
         "ProductName=A\0URL=http://h/a.exe\0\0"s, 33},
        {"comments and blank lines left out", "[s]\n\n; note\nk=v\n", "s", 260, "k=v\0\0"s, 4},
        {"line without '=' kept", "[s]\n  loose text \nk=v\n", "s", 260, "loose text\0k=v\0\0"s,
         15},
        {"repeated keys all listed", "[s]\nk=1\nk=2\n", "s", 260, "k=1\0k=2\0\0"s, 8},
        {"ends at the next section", "[s]\nk=v\n[t]\nj=w\n", "s", 260, "k=v\0\0"s, 4},
        {"empty section", "[s]\n[t]\nj=w\n", "s", 260, "\0\0"s, 0},
        {"comments only", "[s]\n;k=v\n", "s", 260, "\0\0"s, 0},
        {"missing section", "[t]\nj=w\n", "s", 260, "\0\0"s, 0},
        {"missing file", nullptr, "s", 260, "\0\0"s, 0},
        {"exactly fits", "[s]\nk=v\nj=w\n", "s", 9, "k=v\0j=w\0\0"s, 8},
        {"one short: cut, two zeros", "[s]\nk=v\nj=w\n", "s", 8, "k=v\0j=\0\0"s, 6},
        {"cut inside the first line", "[s]\nkey=value\n", "s", 5, "key\0\0"s, 3},
        {"size 2", "[s]\nk=v\n", "s", 2, "\0\0"s, 0},
        {"long line still counts as present", big.c_str(), "Download#1", 260,
         "URL=" + std::string(254, 'u') + "\0\0"s, 258},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(sandbox_.Path("DownloadCfg.ini").c_str());
        const std::string path = Profile(c.file);
        char buffer[1024];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(GetPrivateProfileSectionA(c.section, buffer, c.size, path.c_str()), c.result);
        EXPECT_EQ(ListOf(buffer, c.size), c.expected);
        EXPECT_EQ(buffer[c.size], '#') << "wrote past the buffer";
    }
}

TEST_F(ProfileTest, SectionWithTinyBuffers) {
    const std::string path = Profile("[s]\nk=v\n");
    char buffer[2] = {'#', '#'};
    EXPECT_EQ(GetPrivateProfileSectionA("s", buffer, 0, path.c_str()), 0u);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(GetPrivateProfileSectionA("s", buffer, 1, path.c_str()), 0u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], '#');
    EXPECT_EQ(GetPrivateProfileSectionA("s", nullptr, 260, path.c_str()), 0u);
}

TEST_F(ProfileTest, NullSectionOrKeyListsTheNames) {
    using namespace std::string_literals;
    const std::string path =
        Profile("[One]\nk=1\nloose\nK=2\nj=3\n[]\n[two]\n[ONE]\nlate=4\n[Three]\n");
    char buffer[260];
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "d", buffer, 260, path.c_str()), 14u);
    EXPECT_EQ(ListOf(buffer, 260), "One\0two\0Three\0\0"s);
    EXPECT_EQ(GetPrivateProfileStringA("one", nullptr, "d", buffer, 260, path.c_str()), 4u);
    EXPECT_EQ(ListOf(buffer, 260), "k\0j\0\0"s);
    EXPECT_EQ(GetPrivateProfileStringA("none", nullptr, "d", buffer, 260, path.c_str()), 0u);
    EXPECT_EQ(ListOf(buffer, 260), "\0\0"s);
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "d", buffer, 6, path.c_str()), 4u);
    EXPECT_EQ(ListOf(buffer, 6), "One\0\0"s);
}

}  // namespace
