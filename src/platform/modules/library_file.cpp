#include "platform/modules/library_file.h"

#include <elf.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/base/regular_file.h"

namespace platform {

namespace {

// ElfW names the types of this machine's class (Elf64_* on a 64-bit build).
using Header = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);

bool ReadAt(int fd, void* buffer, size_t count, off_t offset) {
    auto* at = static_cast<char*>(buffer);
    while (count > 0) {
        const ssize_t got = pread(fd, at, count, offset);
        if (got <= 0)
            return false;
        at += got;
        count -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

// True when [offset, offset + length) lies within a file of `size` bytes.
bool Within(uint64_t offset, uint64_t length, uint64_t size) {
    return offset <= size && length <= size - offset;
}

bool SegmentsWithin(int fd, uint64_t size) {
    Header header;
    if (size < sizeof header || !ReadAt(fd, &header, sizeof header, 0))
        return false;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
        header.e_phentsize != sizeof(ProgramHeader) || header.e_phnum == 0) {
        return false;
    }
    const uint64_t tableSize = uint64_t{header.e_phnum} * sizeof(ProgramHeader);
    if (!Within(header.e_phoff, tableSize, size))
        return false;
    std::vector<ProgramHeader> table(header.e_phnum);
    if (!ReadAt(fd, table.data(), tableSize, static_cast<off_t>(header.e_phoff)))
        return false;
    for (const ProgramHeader& segment : table) {
        const bool mapped = segment.p_type == PT_LOAD || segment.p_type == PT_DYNAMIC;
        if (mapped && !Within(segment.p_offset, segment.p_filesz, size))
            return false;
    }
    return true;
}

}  // namespace

int OpenLoadableLibrary(const std::string& path) {
    struct stat st {};
    const int fd = OpenRegularFile(path, &st);
    if (fd < 0)
        return -1;
    if (!SegmentsWithin(fd, static_cast<uint64_t>(st.st_size))) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace platform
