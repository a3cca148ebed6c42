#include "log/md5_checksum.h"

#include <gtest/gtest.h>
#include <openssl/core_dispatch.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/provider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <regex>
#include <string>

#include "log/log_file.h"
#include "platform/base/path.h"
#include "platform/fs/file.h"
#include "support/sandbox.h"

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

// Reads of the file class that end early or fail after `limit` bytes of this test's reads.
class LimitedReader : public platform::FileReader {
  public:
    LimitedReader(size_t limit, bool fail) : limit_(limit), fail_(fail) {
        platform::SetFileReader(this);
    }
    ~LimitedReader() override { platform::SetFileReader(nullptr); }

    long Read(int fd, void* buffer, size_t count) override {
        if (given_ >= limit_) {
            if (!fail_)
                return 0;
            errno = EIO;
            return -1;
        }
        const ssize_t got = ::read(fd, buffer, std::min(count, limit_ - given_));
        if (got > 0)
            given_ += static_cast<size_t>(got);
        return got;
    }

  private:
    const size_t limit_;
    const bool fail_;
    size_t given_ = 0;
};

// The file's length promises more than its reads give (it shrank, or a read failed): nothing
// may be appended for bytes that were never read.
TEST_F(Md5ChecksumTest, ShortOrFailingReadGivesNoDigest) {
    const size_t kBlock = 1048576;
    const std::string path = Make("shrinking.bin", RandomBytes(kBlock + 100, 3));
    const struct {
        const char* name;
        size_t limit;
        bool fail;
    } cases[] = {
        {"short in a whole block", 1000, false},
        {"short in the remainder", kBlock + 50, false},
        {"failing in a whole block", 4096, true},
        {"failing in the remainder", kBlock, true},
    };
    CMd5Checksum digest(nullptr);
    for (const auto& c : cases) {
        CString md5("kept");
        {
            LimitedReader reader(c.limit, c.fail);
            digest.GetFileMd5(md5, fixtures::Sandbox::Win(path).c_str());
        }
        EXPECT_STREQ(md5, "kept") << c.name;
    }
    EXPECT_EQ(std::string(Md5Of(digest, path)), ReferenceMd5(path)) << "the same object again";
}

// A provider whose MD5 fails at one step, chosen per case, with the others working and writing
// a recognisable digest: a digest from it would show that a failure was ignored.
enum class FailingStep { kInit, kUpdate, kFinal };
std::atomic<FailingStep> g_failingStep{FailingStep::kInit};

int FailingInit(void*, const OSSL_PARAM[]) {
    return g_failingStep.load() == FailingStep::kInit ? 0 : 1;
}
int FailingUpdate(void*, const unsigned char*, size_t) {
    return g_failingStep.load() == FailingStep::kUpdate ? 0 : 1;
}
int FailingFinal(void*, unsigned char* out, size_t* length, size_t size) {
    if (size >= 16) {
        std::memset(out, 0xAB, 16);
        *length = 16;
    }
    return g_failingStep.load() == FailingStep::kFinal ? 0 : 1;
}
void* FailingNewContext(void*) {
    static int context;
    return &context;
}
void FailingFreeContext(void*) {}
void* FailingDupContext(void* context) {
    return context;
}
int FailingGetParams(OSSL_PARAM params[]) {
    OSSL_PARAM* p = OSSL_PARAM_locate(params, OSSL_DIGEST_PARAM_SIZE);
    if (p != nullptr && !OSSL_PARAM_set_size_t(p, 16))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_DIGEST_PARAM_BLOCK_SIZE);
    return p == nullptr || OSSL_PARAM_set_size_t(p, 64);
}

using Function = void (*)(void);
const OSSL_DISPATCH kFailingMd5[] = {
    {OSSL_FUNC_DIGEST_NEWCTX, reinterpret_cast<Function>(FailingNewContext)},
    {OSSL_FUNC_DIGEST_INIT, reinterpret_cast<Function>(FailingInit)},
    {OSSL_FUNC_DIGEST_UPDATE, reinterpret_cast<Function>(FailingUpdate)},
    {OSSL_FUNC_DIGEST_FINAL, reinterpret_cast<Function>(FailingFinal)},
    {OSSL_FUNC_DIGEST_FREECTX, reinterpret_cast<Function>(FailingFreeContext)},
    {OSSL_FUNC_DIGEST_DUPCTX, reinterpret_cast<Function>(FailingDupContext)},
    {OSSL_FUNC_DIGEST_GET_PARAMS, reinterpret_cast<Function>(FailingGetParams)},
    {0, nullptr},
};
const OSSL_ALGORITHM kFailingDigests[] = {
    {"MD5:SSL3-MD5:1.2.840.113549.2.5", "provider=zelv-failing", kFailingMd5, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};
const OSSL_ALGORITHM* FailingQuery(void*, int operation, int* noCache) {
    *noCache = 0;
    return operation == OSSL_OP_DIGEST ? kFailingDigests : nullptr;
}
const OSSL_DISPATCH kFailingProvider[] = {
    {OSSL_FUNC_PROVIDER_QUERY_OPERATION, reinterpret_cast<Function>(FailingQuery)},
    {0, nullptr},
};
int FailingProviderInit(const OSSL_CORE_HANDLE*, const OSSL_DISPATCH*, const OSSL_DISPATCH** out,
                        void** context) {
    *out = kFailingProvider;
    *context = nullptr;
    return 1;
}

TEST_F(Md5ChecksumTest, AFailingDigestStepGivesNoDigest) {
    // Loaded first: a provider loaded by name stops the default one from loading by itself.
    OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
    ASSERT_NE(standard, nullptr);
    ASSERT_EQ(OSSL_PROVIDER_add_builtin(nullptr, "zelv-failing", FailingProviderInit), 1);
    OSSL_PROVIDER* provider = OSSL_PROVIDER_load(nullptr, "zelv-failing");
    ASSERT_NE(provider, nullptr);
    ASSERT_EQ(EVP_set_default_properties(nullptr, "provider=zelv-failing"), 1);
    const std::string path = Make("abc", "abc");
    const struct {
        const char* name;
        FailingStep step;
    } cases[] = {
        {"update", FailingStep::kUpdate},
        {"final", FailingStep::kFinal},
        {"init", FailingStep::kInit},
    };
    for (const auto& c : cases) {
        g_failingStep = c.step;
        CMd5Checksum digest(nullptr);
        CString md5("kept");
        digest.GetFileMd5(md5, fixtures::Sandbox::Win(path).c_str());
        EXPECT_STREQ(md5, "kept") << c.name;
    }
    EXPECT_EQ(EVP_set_default_properties(nullptr, ""), 1);
    OSSL_PROVIDER_unload(provider);
    ERR_clear_error();
    CMd5Checksum digest(nullptr);
    EXPECT_STREQ(Md5Of(digest, path), "900150983cd24fb0d6963f7d28e17f72") << "the real MD5 again";
    OSSL_PROVIDER_unload(standard);
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
