// Large files of pseudo-random bytes for the benchmarks.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

// Writes `size` bytes that no reader, compressor or digest can take a short cut over; false
// when the file cannot be written whole.
bool MakeRandomFile(const std::string& path, std::uint64_t size, std::uint64_t seed = 0);

}  // namespace bench
