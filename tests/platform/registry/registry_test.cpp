#include "platform/registry/registry.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/base/xdg.h"
#include "platform/registry/registry_store.h"
#include "support/platform/stand_ins.h"
#include "support/sandbox.h"

namespace {

const char kBase[] = "SOFTWARE\\Corvantis\\Downloader";
const char kProgress[] = "SOFTWARE\\Corvantis\\Downloader\\Progress";
// The rights the application opens and creates its keys with.
const REGSAM kOpenRights = KEY_READ | KEY_WRITE;
const REGSAM kCreateRights = KEY_WRITE | KEY_QUERY_VALUE;

class RegistryTest : public fixtures::SandboxTest {
  protected:
    void TearDown() override {
        for (HKEY key : open_)
            RegCloseKey(key);
        platform::CloseRegistryStore();
    }

    HKEY Create(const std::string& path, HKEY root = HKEY_LOCAL_MACHINE,
                DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        const LONG rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        kCreateRights, nullptr, &key, disposition);
        EXPECT_EQ(ERROR_SUCCESS, rc) << path;
        if (key)
            open_.push_back(key);
        return key;
    }
    // ERROR_SUCCESS and the key, or the error and a null key.
    LONG Open(const std::string& path, HKEY* key, HKEY root = HKEY_LOCAL_MACHINE,
              REGSAM rights = kOpenRights) {
        *key = reinterpret_cast<HKEY>(0x1);  // must be replaced, also on failure
        const LONG rc = RegOpenKeyExA(root, path.c_str(), 0, rights, key);
        if (rc == ERROR_SUCCESS) {
            open_.push_back(*key);
        } else {
            EXPECT_EQ(nullptr, *key);
        }
        return rc;
    }
    bool Exists(const std::string& path, HKEY root = HKEY_LOCAL_MACHINE) {
        HKEY key = nullptr;
        return Open(path, &key, root) == ERROR_SUCCESS;
    }

    static LONG SetText(HKEY key, const char* name, const std::string& text) {
        return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>(text.size() + 1));
    }
    static LONG SetNumber(HKEY key, const char* name, DWORD value) {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                              sizeof value);
    }
    // The stored bytes and type, read with a size query first.
    static LONG Read(HKEY key, const char* name, std::string* bytes, DWORD* type = nullptr) {
        DWORD size = 0;
        LONG rc = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
        if (rc != ERROR_SUCCESS)
            return rc;
        std::vector<BYTE> buffer(size + 1, 0xEE);
        DWORD got = size;
        rc = RegQueryValueExA(key, name, nullptr, type, buffer.data(), &got);
        if (rc == ERROR_SUCCESS) {
            EXPECT_EQ(size, got);
            EXPECT_EQ(0xEE, buffer[size]) << "wrote past the value";
            bytes->assign(reinterpret_cast<const char*>(buffer.data()), got);
        }
        return rc;
    }
    static LONG ReadNumber(HKEY key, const char* name, DWORD* value) {
        DWORD size = sizeof *value;
        const LONG rc =
            RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        EXPECT_TRUE(rc != ERROR_SUCCESS || size == sizeof *value);
        return rc;
    }

    std::vector<HKEY> open_;
};

TEST_F(RegistryTest, ValuesComeBackWithTheirTypeAndExactBytes) {
    struct Case {
        const char* name;
        DWORD type;
        std::string bytes;
    };
    const DWORD number = 0xDEADBEEF;
    const Case cases[] = {
        {"URL", REG_SZ, std::string("http://127.0.0.1/setup.exe\0", 27)},
        {"UseProxy", REG_SZ, std::string(1, '\0')},  // an empty text is its zero alone
        {"ServerFileSize", REG_DWORD, std::string(reinterpret_cast<const char*>(&number), 4)},
        {"Unterminated", REG_SZ, "abc"},  // kept as given, no zero added
        {"Binary", REG_BINARY, std::string("\0\x01\0\xff", 4)},
        {"Nothing", REG_BINARY, ""},
        {"Utf8", REG_SZ,
         std::string("C:\\T\xc3\xa9l\xc3\xa9"
                     "chargements\0",
                     21)},
    };
    HKEY key = Create(kProgress);
    for (const Case& c : cases) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, c.name, 0, c.type,
                                                reinterpret_cast<const BYTE*>(c.bytes.data()),
                                                static_cast<DWORD>(c.bytes.size())))
            << c.name;
    }
    for (const Case& c : cases) {
        std::string bytes;
        DWORD type = 0xFFFF;
        ASSERT_EQ(ERROR_SUCCESS, Read(key, c.name, &bytes, &type)) << c.name;
        EXPECT_EQ(c.type, type) << c.name;
        EXPECT_EQ(c.bytes, bytes) << c.name;
    }
    DWORD read = 0;
    ASSERT_EQ(ERROR_SUCCESS, ReadNumber(key, "ServerFileSize", &read));
    EXPECT_EQ(number, read);
}

TEST_F(RegistryTest, RewritingAValueReplacesItsTypeAndAllItsBytes) {
    HKEY key = Create(kProgress);
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, "FullName", "\\home\\a\\a-rather-long-file-name.exe"));
    ASSERT_EQ(ERROR_SUCCESS, SetNumber(key, "FullName", 7));
    std::string bytes;
    DWORD type = 0;
    ASSERT_EQ(ERROR_SUCCESS, Read(key, "FullName", &bytes, &type));
    EXPECT_EQ(REG_DWORD, type);
    EXPECT_EQ(std::string("\x07\0\0\0", 4), bytes);
}

// The loader reads texts into a 260-byte buffer: a longer one must be refused with its size,
// the buffer left as it was.
TEST_F(RegistryTest, QueryReportsTheSizeAndRefusesASmallBuffer) {
    HKEY key = Create(kProgress);
    const std::string text(300, 'p');
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, "FullName", text));
    const DWORD stored = 301;

    struct Case {
        DWORD buffer;
        LONG expected;
    };
    for (const Case& c :
         {Case{0, ERROR_MORE_DATA}, Case{260, ERROR_MORE_DATA}, Case{300, ERROR_MORE_DATA},
          Case{301, ERROR_SUCCESS}, Case{400, ERROR_SUCCESS}}) {
        std::vector<BYTE> buffer(400, 0xAB);
        DWORD size = c.buffer;
        DWORD type = 0;
        EXPECT_EQ(c.expected,
                  RegQueryValueExA(key, "FullName", nullptr, &type, buffer.data(), &size))
            << c.buffer;
        EXPECT_EQ(stored, size) << c.buffer;
        EXPECT_EQ(REG_SZ, type) << c.buffer;
        if (c.expected == ERROR_SUCCESS) {
            EXPECT_EQ(0, std::memcmp(buffer.data(), text.c_str(), stored)) << c.buffer;
            EXPECT_EQ(0xAB, buffer[stored]) << c.buffer;
        } else {
            EXPECT_EQ(std::vector<BYTE>(400, 0xAB), buffer) << c.buffer;
        }
    }

    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "FullName", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(stored, size);
    DWORD type = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "FullName", nullptr, &type, nullptr, nullptr));
    EXPECT_EQ(REG_SZ, type);

    // A number value longer than 4 bytes does not fit the loader's 4-byte read.
    const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "SplitNumber", 0, REG_DWORD, eight, 8));
    DWORD number = 0x5A5A5A5A;
    size = sizeof number;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "SplitNumber", nullptr, nullptr,
                                                reinterpret_cast<BYTE*>(&number), &size));
    EXPECT_EQ(8u, size);
    EXPECT_EQ(0x5A5A5A5Au, number);
}

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCase) {
    HKEY created = Create(kProgress);
    ASSERT_EQ(ERROR_SUCCESS, SetText(created, "URL", "http://a/"));

    DWORD disposition = 0;
    HKEY again =
        Create("software\\CORVANTIS\\downloader\\PROGRESS", HKEY_LOCAL_MACHINE, &disposition);
    EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
    std::string bytes;
    ASSERT_EQ(ERROR_SUCCESS, Read(again, "url", &bytes));
    EXPECT_EQ(std::string("http://a/\0", 10), bytes);

    // A write under another case replaces the one value rather than adding a second.
    ASSERT_EQ(ERROR_SUCCESS, SetText(again, "Url", "http://b/"));
    ASSERT_EQ(ERROR_SUCCESS, Read(created, "URL", &bytes));
    EXPECT_EQ(std::string("http://b/\0", 10), bytes);

    // Only ASCII letters fold: these are two names.
    ASSERT_EQ(ERROR_SUCCESS, SetText(created, "\xc3\xa9t\xc3\xa9", "small"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Read(created, "\xc3\x89T\xc3\x89", &bytes));
}

TEST_F(RegistryTest, NullAndEmptyNameAreTheDefaultValue) {
    HKEY key = Create(kBase);
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, nullptr, "default"));
    std::string bytes;
    ASSERT_EQ(ERROR_SUCCESS, Read(key, "", &bytes));
    EXPECT_EQ(std::string("default\0", 8), bytes);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Read(key, "default", &bytes));
}

TEST_F(RegistryTest, MissingKeysAndValuesAreNotFound) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open(kProgress, &key));
    HKEY base = Create(kBase);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open(kProgress, &key));
    std::string bytes;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Read(base, "URL", &bytes));
    // Each root is its own tree.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open(kBase, &key, HKEY_CURRENT_USER));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Read(HKEY_LOCAL_MACHINE, "URL", &bytes));
}

TEST_F(RegistryTest, CreationMakesEveryMissingKeyAboveIt) {
    HKEY key = Create(kProgress);  // nothing existed yet
    ASSERT_NE(nullptr, key);
    for (const char* above : {"SOFTWARE", "SOFTWARE\\Corvantis", kBase}) {
        EXPECT_TRUE(Exists(above)) << above;
    }
    // A key with neither values nor subkeys exists all the same.
    Create("SOFTWARE\\Empty");
    EXPECT_TRUE(Exists("SOFTWARE\\Empty"));

    struct Case {
        const char* path;
        DWORD disposition;
    };
    for (const Case& c :
         {Case{kProgress, REG_OPENED_EXISTING_KEY},
          Case{"SOFTWARE\\Corvantis\\Downloader\\Progress\\Connect0", REG_CREATED_NEW_KEY},
          Case{kBase, REG_OPENED_EXISTING_KEY}}) {
        DWORD disposition = 0;
        Create(c.path, HKEY_LOCAL_MACHINE, &disposition);
        EXPECT_EQ(c.disposition, disposition) << c.path;
    }
}

TEST_F(RegistryTest, EmptyPathComponentsAreSkipped) {
    HKEY made = Create("A\\\\B\\");
    ASSERT_EQ(ERROR_SUCCESS, SetNumber(made, "n", 5));
    for (const char* path : {"A\\B", "\\A\\B", "A\\B\\", "A\\\\\\B", "\\\\A\\B\\\\"}) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, Open(path, &key)) << path;
        DWORD n = 0;
        EXPECT_EQ(ERROR_SUCCESS, ReadNumber(key, "n", &n)) << path;
        EXPECT_EQ(5u, n) << path;
    }
}

TEST_F(RegistryTest, SubkeysOpenRelativeToAnOpenKey) {
    HKEY base = Create(kBase);
    HKEY progress = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(base, "Progress\\Connect2", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              kCreateRights, nullptr, &progress, nullptr));
    open_.push_back(progress);
    ASSERT_EQ(ERROR_SUCCESS, SetNumber(progress, "StartRange", 42));

    HKEY connect = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, Open("Progress\\Connect2", &connect, base));
    DWORD value = 0;
    ASSERT_EQ(ERROR_SUCCESS, ReadNumber(connect, "StartRange", &value));
    EXPECT_EQ(42u, value);

    // A null or empty subkey gives a second handle to the same key.
    for (const char* same : {static_cast<const char*>(nullptr), ""}) {
        HKEY other = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(connect, same, 0, kOpenRights, &other));
        EXPECT_NE(connect, other);
        value = 0;
        EXPECT_EQ(ERROR_SUCCESS, ReadNumber(other, "StartRange", &value));
        EXPECT_EQ(42u, value);
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(other));
    }
    // Closing one handle leaves the other usable.
    EXPECT_EQ(ERROR_SUCCESS, ReadNumber(connect, "StartRange", &value));
}

TEST_F(RegistryTest, RightsOfTheHandleAreEnforced) {
    Create(kProgress);
    HKEY reader = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, Open(kProgress, &reader, HKEY_LOCAL_MACHINE, KEY_READ));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetNumber(reader, "SplitNumber", 4));
    HKEY child = nullptr;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegCreateKeyExA(reader, "Connect0", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              kCreateRights, nullptr, &child, nullptr));
    EXPECT_EQ(nullptr, child);
    EXPECT_FALSE(Exists("SOFTWARE\\Corvantis\\Downloader\\Progress\\Connect0"));

    HKEY writer = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, Open(kProgress, &writer, HKEY_LOCAL_MACHINE, KEY_SET_VALUE));
    ASSERT_EQ(ERROR_SUCCESS, SetNumber(writer, "SplitNumber", 4));
    DWORD value = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED, ReadNumber(writer, "SplitNumber", &value));
    EXPECT_EQ(ERROR_SUCCESS, ReadNumber(reader, "SplitNumber", &value));
    EXPECT_EQ(4u, value);

    // Without the right to make subkeys, an existing one is still opened.
    Create("SOFTWARE\\Corvantis\\Downloader\\Progress\\Connect1");
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(reader, "connect1", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              kCreateRights, nullptr, &child, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));
}

TEST_F(RegistryTest, BadHandlesAndArgumentsAreRefused) {
    HKEY closed = Create(kProgress);
    open_.clear();
    ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(closed));
    DWORD value = 1;
    DWORD size = sizeof value;
    HKEY out = nullptr;
    const auto* bytes = reinterpret_cast<const BYTE*>(&value);
    auto* buffer = reinterpret_cast<BYTE*>(&value);

    struct Case {
        std::string what;
        std::function<LONG(HKEY)> call;
        LONG expected;
        bool nullsResult;  // the call hands out a key, and must leave it null on failure
    };
    const HKEY madeUp = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
    std::vector<Case> cases;
    const std::pair<const char*, HKEY> badKeys[] = {
        {" closed", closed}, {" made up", madeUp}, {" null", nullptr}};
    for (const auto& entry : badKeys) {
        const std::string which = entry.first;
        const HKEY bad = entry.second;
        cases.push_back({"open" + which,
                         [&, bad](HKEY) { return RegOpenKeyExA(bad, "X", 0, KEY_READ, &out); },
                         ERROR_INVALID_HANDLE, true});
        cases.push_back({"create" + which,
                         [&, bad](HKEY) {
                             return RegCreateKeyExA(bad, "X", 0, nullptr, 0, KEY_WRITE, nullptr,
                                                    &out, nullptr);
                         },
                         ERROR_INVALID_HANDLE, true});
        cases.push_back(
            {"query" + which,
             [&, bad](HKEY) { return RegQueryValueExA(bad, "v", nullptr, nullptr, buffer, &size); },
             ERROR_INVALID_HANDLE, false});
        cases.push_back(
            {"set" + which,
             [&, bad](HKEY) { return RegSetValueExA(bad, "v", 0, REG_DWORD, bytes, 4); },
             ERROR_INVALID_HANDLE, false});
        cases.push_back({"delete" + which, [bad](HKEY) { return SHDeleteKeyA(bad, "X"); },
                         ERROR_INVALID_HANDLE, false});
        cases.push_back({"close" + which, [bad](HKEY) { return RegCloseKey(bad); },
                         ERROR_INVALID_HANDLE, false});
    }
    HKEY good = Create(kBase);
    DWORD none = 0;
    cases.push_back(
        {"buffer without size",
         [&](HKEY key) { return RegQueryValueExA(key, "v", nullptr, nullptr, buffer, nullptr); },
         ERROR_INVALID_PARAMETER, false});
    cases.push_back(
        {"reserved given",
         [&](HKEY key) { return RegQueryValueExA(key, "v", &none, nullptr, nullptr, &size); },
         ERROR_INVALID_PARAMETER, false});
    cases.push_back({"size without data",
                     [&](HKEY key) { return RegSetValueExA(key, "v", 0, REG_BINARY, nullptr, 4); },
                     ERROR_INVALID_PARAMETER, false});
    cases.push_back({"volatile key",
                     [&](HKEY key) {
                         return RegCreateKeyExA(key, "V", 0, nullptr, 1, KEY_WRITE, nullptr, &out,
                                                nullptr);
                     },
                     ERROR_INVALID_PARAMETER, true});
    cases.push_back({"no result",
                     [&](HKEY key) { return RegOpenKeyExA(key, "", 0, KEY_READ, nullptr); },
                     ERROR_INVALID_PARAMETER, false});
    cases.push_back({"name of 256",
                     [&](HKEY key) {
                         return RegCreateKeyExA(key, std::string(256, 'n').c_str(), 0, nullptr, 0,
                                                KEY_WRITE, nullptr, &out, nullptr);
                     },
                     ERROR_INVALID_PARAMETER, true});
    for (const Case& c : cases) {
        out = reinterpret_cast<HKEY>(0x1);
        EXPECT_EQ(c.expected, c.call(good)) << c.what;
        if (c.nullsResult) {
            EXPECT_EQ(nullptr, out) << c.what;
        }
    }
    // The longest name allowed is accepted.
    HKEY longest = Create(std::string(kBase) + "\\" + std::string(255, 'n'));
    EXPECT_NE(nullptr, longest);
}

// The reset deletes the download's whole tree and nothing beside it.
TEST_F(RegistryTest, DeletingAKeyRemovesItsWholeTreeAndNothingElse) {
    HKEY progress = Create(kProgress);
    ASSERT_EQ(ERROR_SUCCESS, SetText(progress, "URL", "http://a/"));
    for (int i = 0; i < 4; ++i) {
        HKEY connect = Create(std::string(kProgress) + "\\Connect" + std::to_string(i));
        ASSERT_EQ(ERROR_SUCCESS, SetNumber(connect, "StartRange", 100 * i));
        ASSERT_EQ(ERROR_SUCCESS, SetNumber(connect, "WrittenBytes", 7));
    }
    HKEY sibling = Create("SOFTWARE\\Corvantis\\DownloaderX\\Progress");
    ASSERT_EQ(ERROR_SUCCESS, SetText(sibling, "URL", "http://keep/"));
    HKEY parent = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, Open("SOFTWARE\\Corvantis", &parent));
    ASSERT_EQ(ERROR_SUCCESS, SetNumber(parent, "Keep", 1));
    HKEY otherRoot = Create(kProgress, HKEY_CURRENT_USER);
    ASSERT_EQ(ERROR_SUCCESS, SetText(otherRoot, "URL", "http://user/"));

    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_LOCAL_MACHINE, "software\\corvantis\\downloader"));

    for (const std::string& gone :
         {std::string(kBase), std::string(kProgress), std::string(kProgress) + "\\Connect0",
          std::string(kProgress) + "\\Connect3"}) {
        EXPECT_FALSE(Exists(gone)) << gone;
    }
    std::string bytes;
    EXPECT_EQ(ERROR_SUCCESS, Read(sibling, "URL", &bytes));
    EXPECT_EQ(std::string("http://keep/\0", 13), bytes);
    EXPECT_TRUE(Exists("SOFTWARE\\Corvantis\\DownloaderX"));
    DWORD keep = 0;
    EXPECT_EQ(ERROR_SUCCESS, ReadNumber(parent, "Keep", &keep));
    EXPECT_TRUE(Exists(kProgress, HKEY_CURRENT_USER));
    EXPECT_EQ(ERROR_SUCCESS, Read(otherRoot, "URL", &bytes));

    // Made again, the keys come back empty: no value of the deleted tree survives.
    HKEY connect0 = Create(std::string(kProgress) + "\\Connect0");
    DWORD start = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadNumber(connect0, "StartRange", &start));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Read(Create(kProgress), "URL", &bytes));

    EXPECT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_LOCAL_MACHINE, kBase));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, SHDeleteKeyA(HKEY_LOCAL_MACHINE, kBase));
}

TEST_F(RegistryTest, DeleteWithoutSubkeyTakesTheKeyItselfButNeverARoot) {
    HKEY base = Create(kBase);
    Create(kProgress);
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(base, ""));
    EXPECT_FALSE(Exists(kProgress));
    EXPECT_FALSE(Exists(kBase));
    EXPECT_TRUE(Exists("SOFTWARE\\Corvantis"));

    EXPECT_EQ(ERROR_ACCESS_DENIED, SHDeleteKeyA(HKEY_LOCAL_MACHINE, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SHDeleteKeyA(HKEY_LOCAL_MACHINE, "\\"));
    EXPECT_TRUE(Exists("SOFTWARE\\Corvantis"));
}

TEST_F(RegistryTest, AHandleOfADeletedKeyFailsAndNeverRevivesIt) {
    const std::string connect0 = std::string(kProgress) + "\\Connect0";
    HKEY stale = Create(connect0);
    ASSERT_EQ(ERROR_SUCCESS, SetNumber(stale, "StartRange", 9));
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_LOCAL_MACHINE, kBase));

    DWORD value = 0;
    HKEY child = nullptr;
    EXPECT_EQ(ERROR_KEY_DELETED, SetNumber(stale, "StartRange", 10));
    EXPECT_EQ(ERROR_KEY_DELETED, ReadNumber(stale, "StartRange", &value));
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegCreateKeyExA(stale, "Sub", 0, nullptr, 0, KEY_WRITE, nullptr, &child, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyExA(stale, nullptr, 0, KEY_READ, &child));
    EXPECT_EQ(ERROR_KEY_DELETED, SHDeleteKeyA(stale, ""));
    EXPECT_FALSE(Exists(connect0));
    EXPECT_FALSE(Exists(kBase));

    // A new key under the same name is another key: the old handle still fails.
    HKEY fresh = Create(connect0);
    EXPECT_EQ(ERROR_KEY_DELETED, SetNumber(stale, "StartRange", 11));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadNumber(fresh, "StartRange", &value));
}

TEST_F(RegistryTest, AHandleNeverReachesTheStoreOfAnotherEnvironment) {
    HKEY first = Create(kProgress);
    ASSERT_EQ(ERROR_SUCCESS, SetNumber(first, "SplitNumber", 3));
    const std::string otherState = sandbox_.Path("other-state");
    ASSERT_EQ(0, mkdir(otherState.c_str(), 0700));
    ASSERT_EQ(0, setenv("XDG_STATE_HOME", otherState.c_str(), 1));  // the sandbox restores it

    HKEY second = Create(kProgress);  // the same rows, in a database of its own
    EXPECT_EQ(ERROR_KEY_DELETED, SetNumber(first, "SplitNumber", 4));
    DWORD value = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadNumber(second, "SplitNumber", &value));
    EXPECT_TRUE(fixtures::Sandbox::Exists(otherState + "/ZELVDownloader/registry.sqlite3"));
}

TEST_F(RegistryTest, TheDatabaseIsPrivateToTheUser) {
    struct Case {
        const char* what;
        mode_t fileLeft;    // a file left by an earlier run with these rights; 0: none
        mode_t folderLeft;  // the state folder's rights left by an earlier run
    };
    const Case cases[] = {
        {"new", 0, 0700},
        {"file left readable", 0644, 0700},
        {"folder left open to all", 0600, 0777},
        {"both left open", 0666, 0755},
    };
    for (const Case& c : cases) {
        const std::string path = platform::RegistryDatabasePath();
        const std::string folder = path.substr(0, path.rfind('/'));
        platform::CloseRegistryStore();
        unlink(path.c_str());
        unlink((path + "-wal").c_str());
        unlink((path + "-shm").c_str());
        if (c.fileLeft != 0) {
            const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0600);
            ASSERT_GE(fd, 0);
            fchmod(fd, c.fileLeft);
            close(fd);
        }
        ASSERT_EQ(0, chmod(folder.c_str(), c.folderLeft));
        HKEY key = Create(kProgress);
        ASSERT_EQ(ERROR_SUCCESS, SetText(key, "XX", "secret")) << c.what;
        struct stat st {};
        ASSERT_EQ(0, stat(path.c_str(), &st)) << c.what;
        EXPECT_EQ(0600u, st.st_mode & 07777) << c.what;
        ASSERT_EQ(0, stat(folder.c_str(), &st)) << c.what;
        EXPECT_EQ(0700u, st.st_mode & 07777) << c.what << ": the state folder";
        for (const char* side : {"-wal", "-shm"}) {
            if (stat((path + side).c_str(), &st) == 0) {
                EXPECT_EQ(0u, st.st_mode & 077) << c.what << side;
            }
        }
    }
}

TEST_F(RegistryTest, ValuesOutliveTheConnectionAndItsHandles) {
    HKEY key = Create(kProgress);
    ASSERT_EQ(ERROR_SUCCESS, SetNumber(key, "ServerFileSize", 123456));
    platform::CloseRegistryStore();
    DWORD value = 0;
    ASSERT_EQ(ERROR_SUCCESS, ReadNumber(key, "ServerFileSize", &value));  // the same handle
    EXPECT_EQ(123456u, value);
    EXPECT_TRUE(platform::RegistryStoreIntact());
}

// What lies in the database's place, as a test compares it before and after: its kind, and
// its bytes, a link's target or a folder's entry.
std::string Describe(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return "nothing";
    if (S_ISLNK(st.st_mode)) {
        char target[PATH_MAX] = {0};
        return "link to " + std::string(target, readlink(path.c_str(), target, sizeof target));
    }
    if (S_ISDIR(st.st_mode))
        return "folder holding " + fixtures::Sandbox::ReadFile(path + "/inside");
    if (S_ISFIFO(st.st_mode))
        return "named pipe";
    const std::string bytes = fixtures::Sandbox::ReadFile(path);
    return "file of " + std::to_string(bytes.size()) + " bytes, hash " +
           std::to_string(std::hash<std::string>()(bytes));
}

// The names in `folder` that begin with `prefix`.
std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A database that cannot be used is moved aside, untouched and never followed, with its journal,
// and a new one takes its place, so that values are kept again from then on. A sound database
// stays where it is.
TEST_F(RegistryTest, ADamagedDatabaseIsMovedAsideAndANewOneKeepsTheValues) {
    const std::string path = platform::RegistryDatabasePath();
    const std::string folder = path.substr(0, path.rfind('/'));
    const std::string victim = sandbox_.Path("victim");
    // A database of many pages, cut in its middle: it opens, and fails where a read reaches
    // the cut.
    std::string cut;
    {
        HKEY key = Create(kProgress);
        for (int i = 0; i < 40; ++i) {
            const std::string name = "v" + std::to_string(i);
            ASSERT_EQ(ERROR_SUCCESS, SetText(key, name.c_str(), std::string(2000, 'x')));
        }
        platform::CloseRegistryStore();
        const std::string whole = fixtures::Sandbox::ReadFile(path);
        ASSERT_GT(whole.size(), 40000u);
        cut = whole.substr(0, whole.size() / 2);
    }
    struct Case {
        const char* what;
        std::function<void()> place;
        bool damaged;
    };
    const std::vector<Case> cases = {
        {"overwritten with garbage", [&] { sandbox_.WriteFile(path, std::string(8192, 'G')); },
         true},
        {"garbage with a journal beside it",
         [&] {
             sandbox_.WriteFile(path, std::string(8192, 'G'));
             sandbox_.WriteFile(path + "-wal", std::string(5000, 'W'));
         },
         true},
        {"cut short", [&] { sandbox_.WriteFile(path, cut); }, true},
        {"a folder in its place",
         [&] {
             ASSERT_EQ(0, mkdir(path.c_str(), 0700));
             sandbox_.WriteFile(path + "/inside", "kept");
         },
         true},
        {"a link in its place", [&] { ASSERT_EQ(0, symlink(victim.c_str(), path.c_str())); }, true},
        {"a named pipe in its place", [&] { ASSERT_EQ(0, mkfifo(path.c_str(), 0600)); }, true},
        {"a sound database", [&] { Create(kBase); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::CloseRegistryStore();
        std::filesystem::remove_all(folder);
        ASSERT_TRUE(platform::MakeFolders(folder, 0700));
        sandbox_.WriteFile(victim, "precious");
        c.place();
        platform::CloseRegistryStore();
        const std::string before = Describe(path);
        const std::string journal = Describe(path + "-wal");

        testing::internal::CaptureStderr();
        HKEY key = Create(kProgress);
        const LONG set = SetNumber(key, "SplitNumber", 5);
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_EQ(ERROR_SUCCESS, set);
        platform::CloseRegistryStore();  // as at the end of a run
        DWORD value = 0;
        ASSERT_EQ(ERROR_SUCCESS, ReadNumber(key, "SplitNumber", &value)) << "kept for a new run";
        EXPECT_EQ(5u, value);
        EXPECT_TRUE(platform::RegistryStoreIntact());

        const std::vector<std::string> aside =
            NamesStartingWith(folder, "registry.sqlite3.damaged-");
        if (!c.damaged) {
            EXPECT_TRUE(aside.empty());
            EXPECT_EQ("", said);
            continue;
        }
        ASSERT_FALSE(aside.empty());
        const std::string moved = folder + "/" + aside[0];
        EXPECT_EQ(before, Describe(moved)) << "moved as it was";
        if (journal != "nothing") {
            EXPECT_EQ(journal, Describe(moved + "-wal")) << "its journal with it";
        }
        EXPECT_EQ("precious", fixtures::Sandbox::ReadFile(victim))
            << "the file behind a link is untouched";
        EXPECT_NE(std::string::npos, said.find(path)) << said;
        EXPECT_NE(std::string::npos, said.find(moved)) << said;
    }
}

// A writer killed in the middle of a burst loses nothing it had been told was stored.
TEST_F(RegistryTest, EveryValueReportedStoredSurvivesAKilledWriter) {
    HKEY key = Create(kProgress);
    ASSERT_NE(nullptr, key);
    // The child makes its own connection; one inherited through fork is never used.
    platform::CloseRegistryStore();

    int report[2];
    ASSERT_EQ(0, pipe(report));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        alarm(60);  // never outlives a stuck parent
        for (DWORD i = 0; i < 1000000; ++i) {
            const std::string name = "v" + std::to_string(i);
            if (SetNumber(key, name.c_str(), i) != ERROR_SUCCESS)
                _exit(2);
            if (write(report[1], &i, sizeof i) != sizeof i)
                _exit(3);
            // A short breath between transactions: a writer that never lets go of the
            // database starves the other process's writes, which is not what is tested here.
            usleep(300);
        }
        _exit(0);
    }
    close(report[1]);

    // Read the reports until enough values are in, writing values of our own meanwhile, so
    // that two processes contend for the database.
    std::set<DWORD> reported;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int ownWrites = 0;
    while (reported.size() < 300 && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{report[0], POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0)
            continue;
        DWORD index = 0;
        if (read(report[0], &index, sizeof index) != sizeof index)
            break;
        reported.insert(index);
        if (reported.size() % 3 == 0) {
            const std::string name = "parent" + std::to_string(ownWrites++);
            EXPECT_EQ(ERROR_SUCCESS, SetNumber(key, name.c_str(), 1));
        }
    }
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    DWORD index = 0;
    while (read(report[0], &index, sizeof index) == sizeof index)
        reported.insert(index);
    close(report[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended before it was killed: " << status;
    ASSERT_GE(reported.size(), 300u);

    platform::CloseRegistryStore();
    EXPECT_TRUE(platform::RegistryStoreIntact());
    for (DWORD i : reported) {
        const std::string name = "v" + std::to_string(i);
        DWORD value = 0xFFFFFFFF;
        ASSERT_EQ(ERROR_SUCCESS, ReadNumber(key, name.c_str(), &value)) << name;
        EXPECT_EQ(i, value) << name;
    }
    for (int i = 0; i < ownWrites; ++i) {
        DWORD value = 0;
        EXPECT_EQ(ERROR_SUCCESS, ReadNumber(key, ("parent" + std::to_string(i)).c_str(), &value));
    }
    // Still writable after the writer's death.
    EXPECT_EQ(ERROR_SUCCESS, SetNumber(key, "after", 1));
}

// Another process that holds the write lock is waited for a bounded time once; further calls
// fail without waiting until the lock is free and a write gets through, so that a save of
// many values does not wait for each. Reads go on meanwhile.
TEST_F(RegistryTest, AHeldStoreIsWaitedForOnceUntilAWriteGetsThroughAgain) {
    static_assert(platform::kRegistryBusyTimeoutMs <= 2000, "a wait of a second or two");
    HKEY key = Create(kProgress);
    ASSERT_NE(nullptr, key);
    ASSERT_EQ(ERROR_SUCCESS, SetNumber(key, "kept", 7));
    const auto started = std::chrono::steady_clock::now();
    const unsigned before = platform::RegistryWaitsRunOut();
    {
        platform::testing::RegistryHold hold;
        ASSERT_TRUE(hold.held());
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(ERROR_LOCK_VIOLATION, SetNumber(key, "v", 1)) << i;
        HKEY made = nullptr;
        EXPECT_EQ(ERROR_LOCK_VIOLATION,
                  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, kCreateRights, nullptr, &made, nullptr));
        EXPECT_EQ(ERROR_LOCK_VIOLATION, SHDeleteKeyA(HKEY_LOCAL_MACHINE, kProgress));
        EXPECT_EQ(before + 1, platform::RegistryWaitsRunOut()) << "one wait for all of them";
        DWORD value = 0;
        EXPECT_EQ(ERROR_SUCCESS, ReadNumber(key, "kept", &value));
        EXPECT_EQ(7u, value);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(ERROR_SUCCESS, SetNumber(key, "v", 2)) << "the lock is free again";
    DWORD value = 0;
    EXPECT_EQ(ERROR_SUCCESS, ReadNumber(key, "v", &value));
    EXPECT_EQ(2u, value);
    // A write got through: the next hold is waited for again.
    platform::testing::RegistryHold hold;
    ASSERT_TRUE(hold.held());
    EXPECT_EQ(ERROR_LOCK_VIOLATION, SetNumber(key, "v", 3));
    EXPECT_EQ(before + 2, platform::RegistryWaitsRunOut());
}

// Once a writer has ended normally its database file alone holds every value: a copy of it
// without the write-ahead log reads them all back. Another connection stays open meanwhile,
// which keeps the log from being removed when the writer closes its own.
TEST_F(RegistryTest, AfterANormalEndTheDatabaseFileAloneHoldsEveryValue) {
    HKEY key = Create(kProgress);
    ASSERT_NE(nullptr, key);
    ASSERT_EQ(ERROR_SUCCESS, SetNumber(key, "parent", 7));
    const int kValues = 200;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(60);
        for (int i = 0; i < kValues; ++i) {
            const std::string name = "v" + std::to_string(i);
            if (SetNumber(key, name.c_str(), static_cast<DWORD>(i)) != ERROR_SUCCESS)
                _exit(2);
        }
        std::exit(0);  // the ordinary end of a program, with its exit handlers
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const std::string path = platform::RegistryDatabasePath();
    const std::string copy = sandbox_.Path("copy");
    ASSERT_TRUE(platform::MakeFolders(copy + "/ZELVDownloader", 0700));
    sandbox_.WriteFile(copy + "/ZELVDownloader/registry.sqlite3",
                       fixtures::Sandbox::ReadFile(path));
    platform::CloseRegistryStore();
    setenv("XDG_STATE_HOME", copy.c_str(), 1);  // the sandbox puts it back
    HKEY copied = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, Open(kProgress, &copied));
    for (int i = 0; i < kValues; ++i) {
        const std::string name = "v" + std::to_string(i);
        DWORD value = 0xFFFFFFFF;
        ASSERT_EQ(ERROR_SUCCESS, ReadNumber(copied, name.c_str(), &value)) << name;
        EXPECT_EQ(static_cast<DWORD>(i), value) << name;
    }
    EXPECT_TRUE(platform::RegistryStoreIntact());
}

TEST_F(RegistryTest, ThreadsWriteAndReadTheirOwnKeysAtOnce) {
    const int kRounds = 150;
    std::atomic<int> failures{0};
    auto work = [&](int thread) {
        const std::string path = std::string(kProgress) + "\\Connect" + std::to_string(thread);
        for (int round = 0; round < kRounds; ++round) {
            HKEY key = nullptr;
            if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, kCreateRights,
                                nullptr, &key, nullptr) != ERROR_SUCCESS) {
                ++failures;
                continue;
            }
            const DWORD written = static_cast<DWORD>(thread * 100000 + round);
            DWORD read = 0;
            if (SetNumber(key, "WrittenBytes", written) != ERROR_SUCCESS ||
                ReadNumber(key, "WrittenBytes", &read) != ERROR_SUCCESS || read != written) {
                ++failures;
            }
            if (RegCloseKey(key) != ERROR_SUCCESS)
                ++failures;
        }
    };
    std::thread first(work, 0);
    std::thread second(work, 1);
    first.join();
    second.join();
    EXPECT_EQ(0, failures.load());
    for (int thread = 0; thread < 2; ++thread) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  Open(std::string(kProgress) + "\\Connect" + std::to_string(thread), &key));
        DWORD read = 0;
        ASSERT_EQ(ERROR_SUCCESS, ReadNumber(key, "WrittenBytes", &read));
        EXPECT_EQ(static_cast<DWORD>(thread * 100000 + kRounds - 1), read);
    }
}

}  // namespace
