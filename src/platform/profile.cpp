#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/lasterror.h"
#include "platform/path.h"

namespace {

struct Line {
    std::string key;    // the whole trimmed text when the line has no '='
    std::string value;  // trimmed, quotes removed
    bool hasKey = false;
};

struct Section {
    std::string name;
    std::vector<Line> lines;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::string Unquote(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const char* b) {
    const size_t length = std::strlen(b);
    if (a.size() != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    }
    return true;
}

// False when the file cannot be read; such a file reads as empty.
bool ReadWholeFile(LPCSTR fileName, std::string& text) {
    if (fileName == nullptr || platform::IsPathTooLong(fileName))
        return false;
    const std::string path = platform::ToNativePath(fileName);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    char chunk[8192];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            close(fd);
            return false;
        }
        if (got == 0)
            break;
        text.append(chunk, static_cast<size_t>(got));
    }
    close(fd);
    return true;
}

std::vector<Section> Parse(const std::string& text) {
    std::vector<Section> sections;
    size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string raw = text.substr(pos, end - pos);
        pos = end + 1;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            const size_t length = close == std::string::npos ? std::string::npos : close - 1;
            sections.push_back({Trim(line.substr(1, length)), {}});
            continue;
        }
        if (sections.empty())
            continue;
        Line entry;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            entry.key = line;
        } else {
            entry.hasKey = true;
            entry.key = Trim(line.substr(0, equals));
            entry.value = Unquote(Trim(line.substr(equals + 1)));
        }
        sections.back().lines.push_back(std::move(entry));
    }
    return sections;
}

const Section* FindSection(const std::vector<Section>& sections, const char* name) {
    for (const Section& section : sections) {
        if (SameName(section.name, name))
            return &section;
    }
    return nullptr;
}

const Line* FindKey(const Section& section, const char* key) {
    for (const Line& line : section.lines) {
        if (line.hasKey && SameName(line.key, key))
            return &line;
    }
    return nullptr;
}

// Copies "a\0b\0\0"; a list that does not fit is cut to size - 2 characters and two zeros.
DWORD CopyList(const std::vector<std::string>& items, LPSTR buffer, DWORD size) {
    if (buffer == nullptr || size == 0)
        return 0;
    std::string list;
    for (const std::string& item : items) {
        list += item;
        list += '\0';
    }
    if (list.size() < size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        if (list.empty() && size > 1)
            buffer[1] = '\0';
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(list.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        SetLastError(ERROR_MORE_DATA);
        return 0;
    }
    std::memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    SetLastError(ERROR_MORE_DATA);
    return size - 2;
}

DWORD CopyText(const std::string& text, LPSTR buffer, DWORD size, DWORD foundError) {
    const bool fits = text.size() < size;
    if (buffer == nullptr || size == 0) {
        SetLastError(fits || text.empty() ? foundError : ERROR_MORE_DATA);
        return 0;
    }
    const DWORD copied = fits ? static_cast<DWORD>(text.size()) : size - 1;
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
    SetLastError(fits ? foundError : ERROR_MORE_DATA);
    return copied;
}

std::vector<std::string> SectionNames(const std::vector<Section>& sections) {
    std::vector<std::string> names;
    for (size_t i = 0; i < sections.size(); ++i) {
        const std::string& name = sections[i].name;
        if (!name.empty() && FindSection(sections, name.c_str()) == &sections[i]) {
            names.push_back(name);
        }
    }
    return names;
}

std::vector<std::string> KeyNames(const Section& section) {
    std::vector<std::string> names;
    for (const Line& line : section.lines) {
        if (line.hasKey && !line.key.empty() && FindKey(section, line.key.c_str()) == &line) {
            names.push_back(line.key);
        }
    }
    return names;
}

}  // namespace

DWORD GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR fileName) {
    std::string text;
    const bool read = ReadWholeFile(fileName, text);
    const std::vector<Section> sections = Parse(text);
    const Section* found = section != nullptr ? FindSection(sections, section) : nullptr;
    std::vector<std::string> entries;
    if (found != nullptr) {
        for (const Line& line : found->lines) {
            entries.push_back(line.hasKey ? line.key + "=" + line.value : line.key);
        }
    }
    const DWORD copied = CopyList(entries, buffer, size);
    if (!read || found == nullptr)
        SetLastError(ERROR_FILE_NOT_FOUND);
    return copied;
}

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultText, LPSTR buffer,
                               DWORD size, LPCSTR fileName) {
    std::string text;
    const bool read = ReadWholeFile(fileName, text);
    const std::vector<Section> sections = Parse(text);
    if (section == nullptr) {
        const DWORD copied = CopyList(SectionNames(sections), buffer, size);
        if (!read)
            SetLastError(ERROR_FILE_NOT_FOUND);
        return copied;
    }
    const Section* found = FindSection(sections, section);
    if (key == nullptr) {
        const DWORD copied = CopyList(
            found != nullptr ? KeyNames(*found) : std::vector<std::string>{}, buffer, size);
        if (found == nullptr)
            SetLastError(ERROR_FILE_NOT_FOUND);
        return copied;
    }
    const Line* line = found != nullptr ? FindKey(*found, key) : nullptr;
    if (line != nullptr)
        return CopyText(line->value, buffer, size, ERROR_SUCCESS);

    std::string fallback(defaultText != nullptr ? defaultText : "");
    while (!fallback.empty() && IsBlank(fallback.back()))
        fallback.pop_back();
    const DWORD copied = CopyText(fallback, buffer, size, ERROR_FILE_NOT_FOUND);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return copied;
}
