#include "platform/modules/resources.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/base/cstring.h"
#include "platform/base/lasterror.h"
#include "resource.h"  // the resource library's ids
#include "support/platform/res_builder.h"
#include "support/sandbox.h"

namespace {

constexpr const char* kLibrary = "ZELVDlderRes.dll";

std::string BinFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

// Window styles the checks below name, with their Windows values.
constexpr DWORD kWsChild = 0x40000000, kWsVisible = 0x10000000, kWsTabStop = 0x00010000;
constexpr DWORD kWsCaption = 0x00C00000, kWsMinimizeBox = 0x00020000, kWsVScroll = 0x00200000;
constexpr DWORD kDsSetFont = 0x40;
constexpr DWORD kSsNotify = 0x100;
constexpr DWORD kEsPassword = 0x20;
constexpr DWORD kCbsSort = 0x100;
constexpr DWORD kLbsNotify = 0x1, kLbsSort = 0x2, kLbsMultipleSel = 0x8, kLbsExtendedSel = 0x800;
constexpr DWORD kNone = 0;
constexpr DWORD kIdOk = 1, kIdCancel = 2;

// Formats with a text that is not a literal, as the application does with the library's texts.
CString FormatWith(const char* format, ...) {
    CString out;
    va_list args;
    va_start(args, format);
    out.FormatV(format, args);
    va_end(args);
    return out;
}

// The kinds of the arguments a printf format takes, in argument order: 'd' int, 'f' double,
// 's' text. Nothing for a format that is unsafe for its fixed arguments: numbered and
// unnumbered conversions mixed, an argument number skipped or used as two kinds, a '*' width,
// a length modifier or any other conversion.
std::optional<std::string> ArgumentKinds(const std::string& format) {
    std::map<int, char> numbered;
    std::string sequential;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        if (++i < format.size() && format[i] == '%')
            continue;
        int position = 0;
        size_t digits = i;
        while (digits < format.size() && isdigit(static_cast<unsigned char>(format[digits]))) {
            ++digits;
        }
        if (digits > i && digits < format.size() && format[digits] == '$') {
            position = std::stoi(format.substr(i, digits - i));
            if (position <= 0)
                return std::nullopt;
            i = digits + 1;
        }
        while (i < format.size() && std::string("-+ #0'").find(format[i]) != std::string::npos) {
            ++i;
        }
        while (i < format.size() &&
               (isdigit(static_cast<unsigned char>(format[i])) || format[i] == '.')) {
            ++i;
        }
        if (i >= format.size())
            return std::nullopt;
        char kind = 0;
        switch (format[i]) {
            case 'd':
            case 'i':
                kind = 'd';
                break;
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
                kind = 'f';
                break;
            case 's':
                kind = 's';
                break;
            default:
                return std::nullopt;  // '*', length modifiers, %n, %p, ...
        }
        if (position == 0) {
            sequential += kind;
        } else if (!numbered.emplace(position, kind).second && numbered[position] != kind) {
            return std::nullopt;
        }
    }
    if (!numbered.empty() && !sequential.empty())
        return std::nullopt;
    if (sequential.empty()) {
        for (const auto& [position, kind] : numbered) {
            if (position != static_cast<int>(sequential.size()) + 1)
                return std::nullopt;
            sequential += kind;
        }
    }
    return sequential;
}

TEST(FormatArguments, CheckerSeesWhatPrintfWouldTake) {
    const struct {
        const char* format;
        const char* kinds;  // null: unsafe
    } cases[] = {
        {"plain 100%%", ""},
        {"%.2f of %.2f", "ff"},
        {"%2$.2f of %1$.2f", "ff"},
        {"%d then %s", "ds"},
        {"%1$s and %1$s again", "s"},
        {"%1$.2f and %.2f", nullptr},
        {"%2$s alone", nullptr},
        {"%1$d and %1$s", nullptr},
        {"%*d", nullptr},
        {"%ld", nullptr},
        {"%n", nullptr},
        {"cut %", nullptr},
    };
    for (const auto& c : cases) {
        const auto kinds = ArgumentKinds(c.format);
        if (c.kinds == nullptr) {
            EXPECT_FALSE(kinds) << c.format;
        } else {
            ASSERT_TRUE(kinds) << c.format;
            EXPECT_EQ(*kinds, c.kinds) << c.format;
        }
    }
}

class ResourceLibrary : public fixtures::SandboxTest {
  protected:
    void SetUp() override {
        module_ = LoadLibraryA(kLibrary);
        ASSERT_NE(module_, nullptr) << kLibrary << " must lie beside the test program";
    }
    void TearDown() override {
        AfxSetResourceHandle(nullptr);
        if (module_ != nullptr) {
            EXPECT_TRUE(FreeLibrary(module_));
        }
    }

    std::string String(UINT id) const {
        const auto text = platform::FindResourceString(module_, id);
        return text ? *text : std::string();
    }

    HMODULE module_ = nullptr;
};

// The kinds of control the templates must use, each a condition on the style's type bits.
enum class Kind { Text, Frame, PushButton, DefaultButton, AutoCheckBox, DropDownList, Any };

bool IsKind(const platform::DialogItemTemplate& item, Kind kind) {
    const DWORD staticType = item.style & 0x1F;
    switch (kind) {
        case Kind::Text:  // left, centred, right, simple or left without wrapping
            return staticType <= 0x2 || staticType == 0xB || staticType == 0xC;
        case Kind::Frame:  // black, grey, white or etched frame
            return staticType == 0x7 || staticType == 0x8 || staticType == 0x9 ||
                   staticType == 0x12;
        case Kind::PushButton:
            return (item.style & 0xF) == 0x0;
        case Kind::DefaultButton:
            return (item.style & 0xF) == 0x1;
        case Kind::AutoCheckBox:
            return (item.style & 0xF) == 0x3;
        case Kind::DropDownList:
            return (item.style & 0x3) == 0x3;
        case Kind::Any:
            return true;
    }
    return false;
}

struct ControlRule {
    DWORD id;
    const char* windowClass;
    Kind kind;
    DWORD required;   // every one of these bits
    DWORD forbidden;  // none of these bits
};

struct Box {
    int left, top, right, bottom;
    bool Overlaps(const Box& o) const {
        return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
    }
};

// Checks the rules, that each control lies inside the dialog and that no two overlap (a
// combo box counted at its closed height).
void CheckTemplate(const platform::DialogTemplate& t, const std::vector<ControlRule>& rules) {
    EXPECT_TRUE(t.style & kDsSetFont);
    EXPECT_TRUE((t.style & kWsCaption) == kWsCaption);
    EXPECT_GT(t.pointSize, 0);
    EXPECT_FALSE(t.typeface.empty());
    EXPECT_FALSE(t.title.empty());

    std::map<DWORD, const platform::DialogItemTemplate*> byId;
    for (const auto& item : t.items) {
        if (item.id != 0xFFFFFFFFu) {
            EXPECT_TRUE(byId.emplace(item.id, &item).second) << "id twice: " << item.id;
        }
    }
    for (const ControlRule& rule : rules) {
        SCOPED_TRACE("control " + std::to_string(rule.id));
        auto found = byId.find(rule.id);
        ASSERT_NE(found, byId.end());
        const platform::DialogItemTemplate& item = *found->second;
        EXPECT_EQ(item.windowClass, rule.windowClass);
        EXPECT_TRUE(IsKind(item, rule.kind)) << std::hex << item.style;
        EXPECT_EQ(item.style & rule.required, rule.required) << std::hex << item.style;
        EXPECT_EQ(item.style & rule.forbidden, kNone) << std::hex << item.style;
        EXPECT_TRUE(item.style & kWsChild);
    }

    std::vector<std::pair<const platform::DialogItemTemplate*, Box>> boxes;
    for (const auto& item : t.items) {
        const int height = item.windowClass == "ComboBox" ? std::min<int>(item.cy, 13) : item.cy;
        const Box box{item.x, item.y, item.x + item.cx, item.y + height};
        EXPECT_TRUE(box.left >= 0 && box.top >= 0 && box.right <= t.cx && box.bottom <= t.cy &&
                    item.cx > 0 && item.cy > 0)
            << "control " << static_cast<int>(item.id) << " lies outside the dialog";
        for (const auto& [other, otherBox] : boxes) {
            EXPECT_FALSE(box.Overlaps(otherBox))
                << "controls " << static_cast<int>(item.id) << " and "
                << static_cast<int>(other->id) << " overlap";
        }
        boxes.emplace_back(&item, box);
    }
}

TEST_F(ResourceLibrary, MainDialogHoldsEveryControlInItsKind) {
    const auto t = platform::FindDialogTemplate(module_, IDD_DOWNLOADER_DIALOG);
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->style & kWsMinimizeBox);  // the minimised window shows the icon
    const DWORD visible = kWsVisible;
    const DWORD anyListSel = kLbsSort | kLbsMultipleSel | kLbsExtendedSel;
    CheckTemplate(
        *t,
        {
            {IDC_STATIC_TITLE, "Static", Kind::Text, visible, kSsNotify},
            {IDC_STATIC_DESCRIPTION, "Static", Kind::Text, visible, kNone},
            {IDC_STATIC_PRODUCT, "Static", Kind::Text, visible, kNone},
            {IDC_COMBO_PRODUCT, "ComboBox", Kind::DropDownList, visible | kWsTabStop, kCbsSort},
            {IDC_BUTTON_ACTION, "Button", Kind::DefaultButton, visible | kWsTabStop, kNone},
            {IDC_BUTTON_EXIT, "Button", Kind::PushButton, visible | kWsTabStop, kNone},
            {IDC_BUTTON_BROWSE, "Button", Kind::PushButton, visible | kWsTabStop, kNone},
            {IDC_STATIC_TIPS_TITLE, "Static", Kind::Text, visible, kNone},
            {IDC_STATIC_FAQ_TITLE, "Static", Kind::Text, visible, kNone},
            {IDC_LIST_GUIDE, "ListBox", Kind::Any, visible | kLbsNotify | kWsVScroll, anyListSel},
            {IDC_LIST_FAQ, "ListBox", Kind::Any, visible | kLbsNotify | kWsVScroll, anyListSel},
            {IDC_PROGRESS_DOWNLOAD, "msctls_progress32", Kind::Any, visible, kNone},
            {IDC_STATIC_STATUS, "Static", Kind::Text, visible, kNone},
            {IDC_STATIC_PICTURE, "Static", Kind::Frame, visible, kSsNotify},
            {IDC_STATIC_PATH, "Static", Kind::Text, visible, kNone},
            {IDC_STATIC_PROXY_LINK, "Static", Kind::Text, kSsNotify,
             kWsVisible},  // shown on failure
            {IDC_CHECK_LAUNCH, "Button", Kind::AutoCheckBox, visible | kWsTabStop, kNone},
        });
}

TEST_F(ResourceLibrary, ProxyDialogHoldsEveryControlInItsKind) {
    const auto t = platform::FindDialogTemplate(module_, IDD_CONFIG_PROXY);
    ASSERT_TRUE(t);
    const DWORD field = kWsVisible | kWsTabStop;
    CheckTemplate(*t, {
                          {IDC_CHECK_USE_PROXY, "Button", Kind::AutoCheckBox, field, kNone},
                          {IDC_EDIT_PROXY_HOST, "Edit", Kind::Any, field, kEsPassword},
                          {IDC_EDIT_PROXY_PORT, "Edit", Kind::Any, field, kEsPassword},
                          {IDC_EDIT_PROXY_USER, "Edit", Kind::Any, field, kEsPassword},
                          {IDC_EDIT_PROXY_PASSWORD, "Edit", Kind::Any, field | kEsPassword, kNone},
                          {kIdOk, "Button", Kind::DefaultButton, field, kNone},
                          {kIdCancel, "Button", Kind::PushButton, field, kNone},
                      });
}

TEST_F(ResourceLibrary, MissingTemplatesAndModulesGiveNothing) {
    EXPECT_FALSE(platform::FindDialogTemplate(module_, 104));
    EXPECT_FALSE(platform::FindDialogTemplate(module_, 0x10066));
    EXPECT_FALSE(platform::FindDialogTemplate(nullptr, IDD_DOWNLOADER_DIALOG));
}

// Every string id the application uses, with the kinds of the arguments it formats it with.
const std::map<UINT, const char*>& StringTable() {
    static const std::map<UINT, const char*> table = {
        {IDS_DESCRIPTION, ""},
        {IDS_BUTTON_START, ""},
        {IDS_BUTTON_PAUSE, ""},
        {IDS_BUTTON_RESUME, ""},
        {IDS_PRODUCT_LABEL, ""},
        {IDS_BUTTON_EXIT, ""},
        {IDS_BUTTON_BROWSE, ""},
        {IDS_TITLE, ""},
        {IDS_PROXY_LINK, ""},
        {IDS_BUTTON_INSTALL, ""},
        {IDS_ASK_KEEP_DOWNLOAD, ""},
        {IDS_MSGBOX_CAPTION, ""},
        {IDS_ASK_CHANGE_PRODUCT, ""},
        {IDS_DISK_SPACE_LOW, ""},
        {IDS_MD5_MISMATCH, ""},
        {IDS_PROGRESS_FMT, "ff"},
        {IDS_DOWNLOAD_VERIFIED, ""},
        {IDS_OPEN_FILE_FAILED, ""},
        {IDS_DOWNLOAD_FAILED, "s"},
        {IDS_HTTP_STATUS_ERROR, "ds"},
        {IDS_PAUSED, ""},
        {IDS_ERROR_CAPTION, ""},
        {IDS_RESUME_WARNING, "s"},
        {IDS_BUTTON_CLOSE, ""},
        {IDS_CURL_ERROR_UNKNOWN, "d"},
        {IDS_LAUNCH_FAILED, "s"},
        {IDS_FILE_NOT_OWN, "s"},
        {IDS_START_WITHOUT_SIZE, ""},
        {IDS_TARGET_FOLDER_MISSING, "s"},
        {IDS_PROGRESS_NOT_SAVED, ""},
    };
    return table;
}

TEST_F(ResourceLibrary, EveryStringIsPresentWithExactlyItsConversions) {
    std::map<UINT, const char*> all = StringTable();
    for (UINT code = 0; code <= 92; ++code)
        all.emplace(IDS_CURL_ERROR_BASE + code, "");
    for (const auto& [id, kinds] : all) {
        SCOPED_TRACE("string " + std::to_string(id));
        const std::string text = String(id);
        EXPECT_FALSE(text.empty());
        const auto found = ArgumentKinds(text);
        ASSERT_TRUE(found) << text;
        EXPECT_EQ(*found, kinds) << text;
        // Texts without arguments may reach a printf-style writer as they are.
        if (*kinds == '\0') {
            EXPECT_EQ(text.find('%'), std::string::npos) << text;
        }
    }
}

TEST_F(ResourceLibrary, FormatTextsShowTheirArguments) {
    const char* url = "https://downloads.example.test/setup.exe";
    const struct {
        const char* name;
        CString text;
        std::vector<const char*> shows;
    } cases[] = {
        {"progress", FormatWith(String(IDS_PROGRESS_FMT).c_str(), 4.77, 9.54), {"4.77", "9.54"}},
        {"download failed", FormatWith(String(IDS_DOWNLOAD_FAILED).c_str(), url), {url}},
        {"resume warning", FormatWith(String(IDS_RESUME_WARNING).c_str(), url), {url}},
        {"status code",
         FormatWith(String(IDS_HTTP_STATUS_ERROR).c_str(), 404, "HTTP/1.1 404 Not Found"),
         {"404", "HTTP/1.1 404 Not Found"}},
        {"unknown code", FormatWith(String(IDS_CURL_ERROR_UNKNOWN).c_str(), 93), {"93"}},
    };
    for (const auto& c : cases) {
        for (const char* part : c.shows) {
            EXPECT_NE(c.text.Find(part), -1) << c.name << ": " << c.text.GetString();
        }
    }
}

// The server's status line comes with its line end: it must end the text, so that the status
// line shows one line.
TEST_F(ResourceLibrary, AnAnswersStatusLineEndsItsText) {
    const std::string text =
        FormatWith(String(IDS_HTTP_STATUS_ERROR).c_str(), 404, "HTTP/1.1 404 Not Found\r\n")
            .GetString();
    EXPECT_EQ(text.find_first_of("\r\n"), text.size() - 2) << text;
}

TEST_F(ResourceLibrary, ProgressTextNamesTheAmountWrittenBeforeTheTotal) {
    // The text numbers its conversions; a swapped numbering would show "8.50 MB of 1.25 MB".
    const CString text = FormatWith(String(IDS_PROGRESS_FMT).c_str(), 1.25, 8.5);
    ASSERT_NE(text.Find("1.25"), -1) << text.GetString();
    EXPECT_LT(text.Find("1.25"), text.Find("8.50")) << text.GetString();
}

TEST_F(ResourceLibrary, LoadStringFollowsTheBufferRules) {
    const std::string pause = String(IDS_BUTTON_PAUSE);
    ASSERT_GE(pause.size(), 3u);
    const int full = static_cast<int>(pause.size());
    const struct {
        const char* name;
        UINT id;
        int bufferMax;
        int result;
        std::string text;
    } cases[] = {
        {"room to spare", IDS_BUTTON_PAUSE, 64, full, pause},
        {"exactly the room needed", IDS_BUTTON_PAUSE, full + 1, full, pause},
        {"one short", IDS_BUTTON_PAUSE, full, full - 1, pause.substr(0, pause.size() - 1)},
        {"room for the zero only", IDS_BUTTON_PAUSE, 1, 0, ""},
        {"an id the table skips", 134, 64, 0, ""},
        {"an id past every table", 40000, 64, 0, ""},
    };
    for (const auto& c : cases) {
        char buffer[64];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(LoadStringA(module_, c.id, buffer, c.bufferMax), c.result) << c.name;
        EXPECT_EQ(std::string(buffer), c.text) << c.name;
    }

    char untouched[4] = "abc";
    EXPECT_EQ(LoadStringA(module_, IDS_BUTTON_PAUSE, untouched, 0), 0);
    EXPECT_STREQ(untouched, "abc");
    EXPECT_EQ(LoadStringA(module_, IDS_BUTTON_PAUSE, nullptr, 10), 0);
    char buffer[16];
    EXPECT_EQ(LoadStringA(nullptr, IDS_BUTTON_PAUSE, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
}

TEST_F(ResourceLibrary, CStringLoadStringUsesTheCurrentResourceModule) {
    CString text("kept");
    EXPECT_FALSE(text.LoadString(IDS_TITLE));  // no resource module yet
    EXPECT_EQ(text, "kept");

    AfxSetResourceHandle(module_);
    EXPECT_EQ(AfxGetResourceHandle(), module_);
    EXPECT_TRUE(text.LoadString(IDS_TITLE));
    EXPECT_EQ(text, String(IDS_TITLE).c_str());

    CString missing("previous");
    EXPECT_FALSE(missing.LoadString(135));
    EXPECT_EQ(missing, "previous");
}

TEST_F(ResourceLibrary, IconHasTheSmallAndLargeImages) {
    const HICON icon = LoadIconA(module_, MAKEINTRESOURCE(IDR_MAINFRAME));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconA(module_, MAKEINTRESOURCE(IDR_MAINFRAME)), icon);
    EXPECT_EQ(LoadIconA(module_, "#128"), icon);

    const std::vector<platform::IconImage>* images = platform::IconImages(icon);
    ASSERT_NE(images, nullptr);
    std::set<int> sizes;
    for (const auto& image : *images) {
        SCOPED_TRACE("size " + std::to_string(image.width));
        EXPECT_EQ(image.width, image.height);
        ASSERT_EQ(image.argb.size(), static_cast<size_t>(image.width * image.height));
        sizes.insert(image.width);
        // A rounded tile: the corner shows through, the middle is opaque.
        EXPECT_EQ(image.argb[0] >> 24, 0u);
        EXPECT_EQ(image.argb[(image.height / 2) * image.width + image.width / 2] >> 24, 0xFFu);
    }
    EXPECT_TRUE(sizes.count(16) && sizes.count(32)) << images->size() << " images";

    EXPECT_EQ(LoadIconA(module_, MAKEINTRESOURCE(129)), nullptr);
    EXPECT_EQ(LoadIconA(module_, "NOSUCHICON"), nullptr);
    EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCE(IDR_MAINFRAME)), nullptr);
    EXPECT_EQ(platform::IconImages(nullptr), nullptr);
    EXPECT_EQ(platform::IconImages(reinterpret_cast<HICON>(module_)), nullptr);
}

TEST(LoadLibrary, NamesThatCannotBeLoadedGiveNull) {
    fixtures::Sandbox sandbox;
    sandbox.WriteFile(sandbox.Path("NotALibrary.dll"), "plain text, not a shared object");
    const std::string notElf = fixtures::Sandbox::Win(sandbox.Path("NotALibrary.dll"));
    const struct {
        const char* name;
        const char* fileName;
    } cases[] = {
        {"missing", "NoSuchLibrary.dll"},
        {"empty", ""},
        {"null", nullptr},
        {"not a shared object", notElf.c_str()},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_EQ(LoadLibraryA(c.fileName), nullptr) << c.name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND)) << c.name;
    }
}

// How LoadLibraryA of `path` ends in a child process, so that a crash or a wait fails the test
// instead of ending it: 'N' no module, 'M' a module with the title string, 'C' a crash (with
// the signal in *signal), 'W' still waiting after ten seconds, '?' anything else.
char LoadInAChild(const std::string& path, int* signal) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(30);
        const HMODULE module = LoadLibraryA(fixtures::Sandbox::Win(path).c_str());
        char title[64];
        _exit(module == nullptr ? 'N' : LoadStringA(module, IDS_TITLE, title, 64) > 0 ? 'M' : '?');
    }
    for (int i = 0; i < 1000; ++i) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            *signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            return WIFSIGNALED(status) ? 'C' : static_cast<char>(WEXITSTATUS(status));
        }
        usleep(10000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return 'W';
}

// A library cut anywhere within its loadable segments, or a named pipe of its name, gives no
// module at once, as a missing one does; the whole library loads, and so does one that lost
// only what the loader never reads.
TEST(LoadLibrary, ADamagedLibraryOrAPipeGivesNoModuleAndNoCrash) {
    fixtures::Sandbox sandbox;
    const std::string whole = fixtures::Sandbox::ReadFile(BinFolder() + "/" + kLibrary);
    ASSERT_GT(whole.size(), 46000u);
    // The section headers at the end are never read by the loader.
    std::vector<std::pair<size_t, char>> cuts = {{0, 'N'},
                                                 {10, 'N'},
                                                 {63, 'N'},
                                                 {64, 'N'},
                                                 {45000, 'N'},
                                                 {whole.size(), 'M'},
                                                 {whole.size() - 64, 'M'}};
    for (size_t cut = 500; cut < 45000; cut += 1000)
        cuts.emplace_back(cut, 'N');
    const std::string path = sandbox.Path("cut.dll");
    for (const auto& [cut, expected] : cuts) {
        sandbox.WriteFile(path, whole.substr(0, cut));
        int signal = 0;
        EXPECT_EQ(LoadInAChild(path, &signal), expected) << cut << " bytes, signal " << signal;
    }
    const std::string pipe = sandbox.Path("pipe.dll");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    int signal = 0;
    EXPECT_EQ(LoadInAChild(pipe, &signal), 'N') << "a named pipe, signal " << signal;
}

TEST(LoadLibrary, EachLoadNeedsOneFreeAndAFreedHandleIsRefused) {
    const HMODULE first = LoadLibraryA(kLibrary);
    ASSERT_NE(first, nullptr);
    const HMODULE second = LoadLibraryA(kLibrary);
    EXPECT_EQ(second, first);
    const HICON icon = LoadIconA(first, MAKEINTRESOURCE(IDR_MAINFRAME));
    ASSERT_NE(icon, nullptr);

    EXPECT_TRUE(FreeLibrary(first));
    char buffer[32];
    EXPECT_GT(LoadStringA(first, IDS_TITLE, buffer, sizeof buffer), 0);  // still loaded once
    EXPECT_NE(platform::IconImages(icon), nullptr);

    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(LoadStringA(first, IDS_TITLE, buffer, sizeof buffer), 0);
    EXPECT_FALSE(platform::FindDialogTemplate(first, IDD_DOWNLOADER_DIALOG));
    EXPECT_EQ(platform::IconImages(icon), nullptr);
    EXPECT_EQ(LoadIconA(first, MAKEINTRESOURCE(IDR_MAINFRAME)), nullptr);
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(first));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(LoadLibrary, ALibraryWithoutResourcesIsAnEmptyModule) {
    const HMODULE module = LoadLibraryA("libm.so.6");
    ASSERT_NE(module, nullptr);
    char buffer[16];
    EXPECT_EQ(LoadStringA(module, IDS_TITLE, buffer, sizeof buffer), 0);
    EXPECT_FALSE(platform::FindDialogTemplate(module, IDD_DOWNLOADER_DIALOG));
    EXPECT_EQ(LoadIconA(module, MAKEINTRESOURCE(IDR_MAINFRAME)), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(LoadLibrary, ThreadsMayLoadReadAndFreeAtOnce) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < 25; ++i) {
                const HMODULE module = LoadLibraryA(kLibrary);
                char buffer[64];
                if (module == nullptr || LoadStringA(module, IDS_TITLE, buffer, 64) == 0 ||
                    LoadIconA(module, MAKEINTRESOURCE(IDR_MAINFRAME)) == nullptr ||
                    !platform::FindDialogTemplate(module, IDD_CONFIG_PROXY)) {
                    ++failures;
                }
                AfxSetResourceHandle(module);
                if (module != nullptr)
                    FreeLibrary(module);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    AfxSetResourceHandle(nullptr);
    EXPECT_EQ(failures.load(), 0);
}

// Modules made from bytes: what no real library shows.
std::vector<uint8_t> SmallRes() {
    resbuild::Writer res = resbuild::NewRes();
    // Block 1 holds ids 0 to 15: id 1 "café", id 2 empty.
    resbuild::AddEntry(res, 6, 1, resbuild::StringBlock({u"", u"caf\u00e9", u""}));
    const auto bitmap = resbuild::IconBitmap(1, 1, 32, {}, {1, 2, 3, 0xFF}, {0, 0, 0, 0});
    resbuild::AddEntry(res, 3, 1, bitmap);
    resbuild::AddEntry(res, 3, 2, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    resbuild::AddEntry(res, 14, 0, resbuild::GroupIcon({{1, 1}, {0, 2}}), u"APPICON");
    resbuild::AddEntry(res, 14, 7, resbuild::GroupIcon({{16, 9}}));  // its image is missing
    return res.bytes();
}

TEST(ResourceBytes, StringsAreCutAtCharacterBoundariesAndEmptyOnesAreMissing) {
    const HMODULE module = platform::LoadResourceModuleFromBytes(SmallRes());
    char buffer[16];
    EXPECT_EQ(LoadStringA(module, 1, buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "caf\xC3\xA9");
    EXPECT_EQ(LoadStringA(module, 1, buffer, 5), 3);  // room for 4 bytes, but not all of "é"
    EXPECT_STREQ(buffer, "caf");
    EXPECT_EQ(LoadStringA(module, 2, buffer, sizeof buffer), 0);

    AfxSetResourceHandle(module);
    CString text("kept");
    EXPECT_FALSE(text.LoadString(2));
    EXPECT_EQ(text, "kept");
    AfxSetResourceHandle(nullptr);
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(ResourceBytes, IconGroupsByNameAndWithMissingOrPngImages) {
    const HMODULE module = platform::LoadResourceModuleFromBytes(SmallRes());
    const HICON named = LoadIconA(module, "appicon");
    ASSERT_NE(named, nullptr);
    const auto* images = platform::IconImages(named);
    ASSERT_NE(images, nullptr);
    ASSERT_EQ(images->size(), 1u);  // the PNG image is left out
    EXPECT_EQ((*images)[0].argb, std::vector<uint32_t>{0xFF030201});
    EXPECT_EQ(LoadIconA(module, MAKEINTRESOURCE(7)), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(ResourceBytes, ThreadsLoadingOneIconAtOnceGetTheSameIcon) {
    for (int round = 0; round < 20; ++round) {
        const HMODULE module = platform::LoadResourceModuleFromBytes(SmallRes());
        std::vector<HICON> got(4, nullptr);
        std::atomic<bool> go{false};  // all start together, so that their loads overlap
        std::vector<std::thread> threads;
        for (HICON& icon : got) {
            threads.emplace_back([&icon, &go, module] {
                while (!go.load())
                    std::this_thread::yield();
                icon = LoadIconA(module, "AppIcon");
            });
        }
        go.store(true);
        for (auto& thread : threads)
            thread.join();
        ASSERT_NE(got[0], nullptr);
        for (HICON icon : got)
            EXPECT_EQ(icon, got[0]) << round;
        EXPECT_TRUE(FreeLibrary(module));
        EXPECT_EQ(platform::IconImages(got[0]), nullptr) << "released with its module";
    }
}

TEST(ResourceBytes, MalformedBytesGiveAModuleWithoutResources) {
    std::vector<uint8_t> broken = SmallRes();
    broken[36] = 0xFF;  // the first entry's header size now runs past the end
    broken[37] = 0xFF;
    const HMODULE module = platform::LoadResourceModuleFromBytes(broken);
    ASSERT_NE(module, nullptr);
    char buffer[16];
    EXPECT_EQ(LoadStringA(module, 1, buffer, sizeof buffer), 0);
    EXPECT_EQ(LoadIconA(module, "APPICON"), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
