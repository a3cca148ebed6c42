// Digest throughput of CMd5Checksum against `openssl md5` and `md5sum` on one large file.
//
//   digest_bench [size in MiB, default 1024]
//
// The file is made in $TMPDIR (else /tmp), read once so the page cache is warm for every
// contender, hashed three times by each, and deleted. Prints the best rate of each in MB/s and
// the ratio of ours to the faster tool; exits non-zero when the three digests disagree.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "log/md5_checksum.h"
#include "platform/base/cstring.h"
#include "platform/base/path.h"
#include "platform/base/xdg.h"
#include "random_file.h"

namespace {

const size_t kChunk = 1 << 20;
const int kRuns = 3;

void ReadThrough(const std::string& path) {
    FILE* in = fopen(path.c_str(), "rb");
    if (in == nullptr) {
        return;
    }
    std::vector<char> buffer(kChunk);
    while (fread(buffer.data(), 1, buffer.size(), in) == buffer.size()) {
    }
    fclose(in);
}

// The first 32 hexadecimal digits a command prints.
std::string RunForDigest(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "";
    }
    char text[256] = "";
    const size_t got = fread(text, 1, sizeof text - 1, pipe);
    pclose(pipe);
    return std::string(text, std::min<size_t>(got, 32));
}

struct Result {
    std::string name;
    std::string digest;
    double seconds = 0;  // best of the runs
};

Result Measure(const std::string& name, const std::function<std::string()>& run) {
    Result result{name, "", 0};
    for (int i = 0; i < kRuns; ++i) {
        const auto start = std::chrono::steady_clock::now();
        std::string digest = run();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (i == 0 || took.count() < result.seconds) {
            result.seconds = took.count();
        }
        if (i == 0) {
            result.digest = digest;
        } else if (digest != result.digest) {
            result.digest = "differs between runs";
        }
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const long mebibytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1024;
    if (mebibytes <= 0) {
        std::fprintf(stderr, "usage: %s [size in MiB, default 1024]\n", argv[0]);
        return 2;
    }
    const uint64_t size = static_cast<uint64_t>(mebibytes) << 20;
    const std::string folder = platform::TempFolder();
    const std::string path = folder + "/digest_bench-" + std::to_string(getpid()) + ".bin";

    if (!bench::MakeRandomFile(path, size)) {
        std::fprintf(stderr, "cannot make %s\n", path.c_str());
        unlink(path.c_str());
        return 1;
    }
    ReadThrough(path);

    const std::string quoted = "'" + path + "'";
    CMd5Checksum checksum(nullptr);
    const CString windowsPath = platform::ToWindowsPath(path).c_str();
    const std::vector<Result> results = {
        Measure("CMd5Checksum",
                [&] {
                    CString md5;
                    checksum.GetFileMd5(md5, windowsPath);
                    return std::string(md5.GetString());
                }),
        Measure("openssl md5", [&] { return RunForDigest("openssl md5 -r " + quoted); }),
        Measure("md5sum", [&] { return RunForDigest("md5sum " + quoted); }),
    };
    unlink(path.c_str());

    std::printf("file: %ld MiB in %s, best of %d runs each, page cache warm\n", mebibytes,
                folder.c_str(), kRuns);
    for (const Result& r : results) {
        std::printf("%-14s %8.1f MB/s  %s\n", r.name.c_str(), size / r.seconds / 1e6,
                    r.digest.c_str());
    }
    const double ours = size / results[0].seconds;
    const double fastest = std::max(size / results[1].seconds, size / results[2].seconds);
    std::printf("ratio ours / faster tool: %.3f (goal 0.95)\n", ours / fastest);

    const bool agree = results[0].digest.size() == 32 && results[0].digest == results[1].digest &&
                       results[0].digest == results[2].digest;
    std::printf("digests %s\n", agree ? "agree" : "DISAGREE");
    return agree ? 0 : 1;
}
