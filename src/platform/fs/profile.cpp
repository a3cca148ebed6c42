#include "platform/fs/profile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/base/lasterror.h"
#include "platform/base/path.h"
#include "platform/base/regular_file.h"

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

std::string Folded(const char* name) {
    std::string folded = name;
    for (char& c : folded)
        c = FoldCase(c);
    return folded;
}

// A file's sections in file order, and where the first section of each name lies (by the name
// in lower case), so that finding a section does not take longer the more the file holds.
struct Profile {
    std::vector<Section> sections;
    std::unordered_map<std::string, size_t> first;
};

Profile Parse(const std::string& text) {
    Profile profile;
    std::vector<Section>& sections = profile.sections;
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
            profile.first.emplace(Folded(sections.back().name.c_str()), sections.size() - 1);
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
    return profile;
}

const Section* FindSection(const Profile& profile, const char* name) {
    const auto found = profile.first.find(Folded(name));
    return found != profile.first.end() ? &profile.sections[found->second] : nullptr;
}

// The file parsed last, known by its identity, size and times: the reader asks for one value
// per call, and parsing the whole file at every call made a long file take quadratic time.
// File times come from the coarse clock: a file changed within the clock tick in which it was
// read could keep its times, so it is kept only once it has been read in a later tick.
struct Cached {
    std::string path;
    struct stat status {};
    std::shared_ptr<const Profile> profile;

    bool Describes(const std::string& native, const struct stat& st) const {
        return profile != nullptr && path == native && status.st_dev == st.st_dev &&
               status.st_ino == st.st_ino && status.st_size == st.st_size &&
               SameTime(status.st_mtim, st.st_mtim) && SameTime(status.st_ctim, st.st_ctim);
    }
    static bool SameTime(const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    }
    static bool Before(const timespec& a, const timespec& b) {
        return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
    }
};

std::mutex g_cacheLock;
Cached g_cached;
std::atomic<platform::ProfileParseObserver*> g_observer{nullptr};

// The file's sections, parsed again only when the file has changed; null when the file cannot
// be read (it then reads as empty).
std::shared_ptr<const Profile> Load(LPCSTR fileName) {
    if (fileName == nullptr || platform::IsPathTooLong(fileName))
        return nullptr;
    const std::string native = platform::ToNativePath(fileName);
    timespec readStart{};
    clock_gettime(CLOCK_REALTIME_COARSE, &readStart);
    struct stat st {};
    const int fd = platform::OpenRegularFile(native, &st);
    if (fd < 0)
        return nullptr;
    {
        std::lock_guard<std::mutex> lock(g_cacheLock);
        if (g_cached.Describes(native, st)) {
            close(fd);
            return g_cached.profile;
        }
    }
    std::string text;
    const bool read = platform::ReadRest(fd, &text);
    close(fd);
    if (!read)
        return nullptr;
    auto profile = std::make_shared<const Profile>(Parse(text));
    if (platform::ProfileParseObserver* observer = g_observer.load())
        observer->FileParsed();
    if (Cached::Before(st.st_mtim, readStart) && Cached::Before(st.st_ctim, readStart)) {
        std::lock_guard<std::mutex> lock(g_cacheLock);
        g_cached.path = native;
        g_cached.status = st;
        g_cached.profile = profile;
    }
    return profile;
}

const Profile& OrEmpty(const std::shared_ptr<const Profile>& profile) {
    static const Profile* const empty = new Profile();
    return profile != nullptr ? *profile : *empty;
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

std::vector<std::string> SectionNames(const Profile& profile) {
    std::vector<std::string> names;
    for (size_t i = 0; i < profile.sections.size(); ++i) {
        const std::string& name = profile.sections[i].name;
        if (!name.empty() && FindSection(profile, name.c_str()) == &profile.sections[i]) {
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

platform::ProfileParseObserver* platform::SetProfileParseObserver(ProfileParseObserver* observer) {
    return g_observer.exchange(observer);
}

DWORD GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR fileName) {
    const std::shared_ptr<const Profile> loaded = Load(fileName);
    const bool read = loaded != nullptr;
    const Section* found = section != nullptr ? FindSection(OrEmpty(loaded), section) : nullptr;
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
    const std::shared_ptr<const Profile> loaded = Load(fileName);
    const bool read = loaded != nullptr;
    const Profile& profile = OrEmpty(loaded);
    if (section == nullptr) {
        const DWORD copied = CopyList(SectionNames(profile), buffer, size);
        if (!read)
            SetLastError(ERROR_FILE_NOT_FOUND);
        return copied;
    }
    const Section* found = FindSection(profile, section);
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
