#include "log/md5_checksum.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <regex>
#include <string>

#include "fixtures/sandbox.h"
#include "log/log_file.h"
#include "platform/file.h"
#include "platform/path.h"

namespace {

class Md5ChecksumTest : public fixtures::SandboxTest {
  protected:
    std::string Make(const std::string& name, const std::string& bytes) const {
        const std::string path = sandbox_.Path(name);
        sandbox_.WriteFile(path, bytes);
        return path;
    }
    static CString Md5Of(CMd5Checksum& digest, const std::string& nativePath) {
        CString md5;
        digest.GetFileMd5(md5, fixtures::Sandbox::Win(nativePath).c_str());
        return md5;
    }
};

// The digest of an independent implementation: the system's md5sum.
std::string ReferenceMd5(const std::string& path) {
    const std::string command = "md5sum '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "";
    }
    char hex[33] = "";
    const size_t got = fread(hex, 1, 32, pipe);
    pclose(pipe);
    return std::string(hex, got);
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random());
    }
    return bytes;
}

TEST_F(Md5ChecksumTest, TestSuiteOfRfc1321) {
    struct Case {
        const char* message;
        const char* md5;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    CMd5Checksum digest(nullptr);
    for (const Case& c : cases) {
        EXPECT_STREQ(Md5Of(digest, Make("message", c.message)), c.md5) << '"' << c.message << '"';
    }
}

// Whole blocks of 1 MiB, a remainder, both, and neither.
TEST_F(Md5ChecksumTest, SizesAroundTheBlockAgreeWithAnIndependentDigest) {
    const size_t sizes[] = {0, 1048575, 1048576, 1048577, 2097152, 3000000};
    CMd5Checksum digest(nullptr);
    for (size_t size : sizes) {
        const std::string path = Make("sized.bin", RandomBytes(size, static_cast<unsigned>(size)));
        ASSERT_EQ(std::filesystem::file_size(path), size);
        const std::string expected = ReferenceMd5(path);
        ASSERT_EQ(expected.size(), 32u) << "md5sum gave no digest";
        EXPECT_EQ(std::string(Md5Of(digest, path)), expected) << size << " bytes";
    }
}

TEST_F(Md5ChecksumTest, DigestIsAppendedBehindExistingText) {
    CMd5Checksum digest(nullptr);
    CString md5("md5=");
    digest.GetFileMd5(md5, fixtures::Sandbox::Win(Make("abc", "abc")).c_str());
    EXPECT_STREQ(md5, "md5=900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(Md5ChecksumTest, OneObjectHashesFilesInARow) {
    CMd5Checksum digest(nullptr);
    const std::string big = Make("big", RandomBytes(1048577, 7));
    EXPECT_EQ(std::string(Md5Of(digest, big)), ReferenceMd5(big));
    EXPECT_STREQ(Md5Of(digest, sandbox_.Path("missing")), "");
    EXPECT_STREQ(Md5Of(digest, Make("abc", "abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_STREQ(Md5Of(digest, Make("md", "message digest")), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(std::string(Md5Of(digest, big)), ReferenceMd5(big));
}

// The file is read through a path whose open and reads work but whose length promises more
// than a read returns: nothing may be appended for bytes that were never read.
TEST_F(Md5ChecksumTest, ShortReadGivesNoDigest) {
    // Kernel attributes report a length of one page and read back a few bytes.
    const char* const candidates[] = {
        "/sys/kernel/mm/transparent_hugepage/enabled",
        "/sys/kernel/mm/transparent_hugepage/defrag",
        "/sys/kernel/profiling",
    };
    for (const char* path : candidates) {
        struct stat info;
        if (stat(path, &info) != 0 || info.st_size <= 0) {
            continue;
        }
        CFile probe;
        if (!probe.Open(fixtures::Sandbox::Win(path).c_str(), CFile::modeReadWrite)) {
            continue;
        }
        char bytes[4096];
        const UINT got = probe.Read(bytes, sizeof bytes);
        probe.Close();
        if (got >= static_cast<UINT>(info.st_size)) {
            continue;
        }
        CMd5Checksum digest(nullptr);
        CString md5("kept");
        digest.GetFileMd5(md5, fixtures::Sandbox::Win(path).c_str());
        EXPECT_STREQ(md5, "kept") << path;
        return;
    }
    GTEST_SKIP() << "no file here whose reads fall short of its length";
}

TEST_F(Md5ChecksumTest, FileThatCannotBeOpenedExclusivelyLogsTwoLinesAndGivesNoDigest) {
    struct Case {
        const char* name;
        int cause;
        int osError;
    };
    const Case cases[] = {
        {"missing", 2, 2},
        {"read-only", 5, 5},
        {"held", 11, 32},
        {"path too long", 3, -1},
    };
    const char kStamp[] = "[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\t";
    for (bool withLog : {true, false}) {
        for (const Case& c : cases) {
            fixtures::Sandbox sandbox;
            std::string path = sandbox.Path("target.bin");
            CFile holder;
            if (std::string(c.name) == "read-only") {
                sandbox.WriteFile(path, "abc");
                ASSERT_EQ(chmod(path.c_str(), 0444), 0);
            } else if (std::string(c.name) == "held") {
                sandbox.WriteFile(path, "abc");
                ASSERT_TRUE(holder.Open(fixtures::Sandbox::Win(path).c_str(), CFile::modeRead));
            } else if (std::string(c.name) == "path too long") {
                path = sandbox.Path(std::string(MAX_PATH, 'x'));
            }

            CLogFile log;
            CString dir;
            log.InitLogFile(nullptr, dir);
            log.WriteLog("before", FALSE, LOG_INFO);
            CMd5Checksum digest(withLog ? &log : nullptr);
            CString md5("unchanged");
            digest.GetFileMd5(md5, fixtures::Sandbox::Win(path).c_str());
            log.Close();
            EXPECT_STREQ(md5, "unchanged") << c.name;

            const std::string written =
                fixtures::Sandbox::ReadFile(platform::ToNativePath(dir) + "Download.log");
            std::string expected = std::string(kStamp) + "INFO: before\r\n";
            if (withLog) {
                expected += std::string(kStamp) +
                            "INFO: Open file failed, err=" + std::to_string(c.cause) + "\r\n" +
                            kStamp + "INFO: Open file failed, OS err=" + std::to_string(c.osError) +
                            "\r\n";
            }
            const std::string afterBanner = written.substr(
                std::string("\r\n\r\n\r\n***** Downloader Log Start *****\r\n").size());
            EXPECT_TRUE(std::regex_match(afterBanner, std::regex(expected)))
                << c.name << (withLog ? " with" : " without") << " a log:\n"
                << written;
        }
    }
}

}  // namespace
