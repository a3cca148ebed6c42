#include "random_file.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace bench {

bool MakeRandomFile(const std::string& path, std::uint64_t size, std::uint64_t seed) {
    const size_t kChunk = 1 << 20;
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        return false;
    std::vector<std::uint64_t> chunk(kChunk / sizeof(std::uint64_t));
    std::uint64_t state = 0x9e3779b97f4a7c15ull ^ seed;
    bool ok = true;
    for (std::uint64_t done = 0; ok && done < size; done += kChunk) {
        for (std::uint64_t& word : chunk) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const size_t count = static_cast<size_t>(std::min<std::uint64_t>(kChunk, size - done));
        ok = std::fwrite(chunk.data(), 1, count, out) == count;
    }
    return std::fclose(out) == 0 && ok;
}

}  // namespace bench
