#include "e2e/e2e_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "support/digest.h"

namespace e2e {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kXvfb = "/usr/bin/Xvfb";
constexpr const char* kXdotool = "/usr/bin/xdotool";
constexpr milliseconds kToolBound(10000);
constexpr milliseconds kPoll(50);

std::string BinFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path().string();
}

// Polls `done` until it holds or `timeout` passed.
template <typename Done>
bool Until(milliseconds timeout, Done done) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (done())
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPoll);
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

}  // namespace

bool VirtualDisplay::Start(const std::string& folder, std::string* error) {
    // -displayfd 1: Xvfb takes the first free display number and writes it to its output.
    const std::string output = folder + "/xvfb.out";
    if (!process_.Start({kXvfb, "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten",
                         "tcp", "-noreset"},
                        output, error))
        return false;
    const bool shown = Until(seconds(15), [&] {
        for (const std::string& line : Lines(fixtures::Sandbox::ReadFile(output))) {
            if (std::all_of(line.begin(), line.end(), ::isdigit)) {
                name_ = ":" + line;
                return true;
            }
        }
        return !process_.Running();
    });
    if (!shown || name_.empty()) {
        *error = "Xvfb gave no display within 15 s: " + fixtures::FileTail(output);
        return false;
    }
    return true;
}

bool Robot::Run(const std::vector<std::string>& args, std::string* output) const {
    const std::string path = folder_ + "/xdotool-" + std::to_string(++calls_) + ".out";
    fixtures::ChildOptions options;
    options.argv = {kXdotool};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.outputPath = path;
    options.setEnvironment = {"DISPLAY=" + display_};
    std::string error;
    const bool ran = fixtures::RunTool(options, kToolBound, &error);
    if (!ran)
        lastError_ = error;
    if (output != nullptr)
        *output = fixtures::Sandbox::ReadFile(path);
    std::remove(path.c_str());
    return ran;
}

std::vector<std::string> Robot::Windows(const std::string& title) const {
    std::string output;
    // No match is a failure of xdotool's: an empty list.
    if (!Run({"search", "--onlyvisible", "--name", "^" + title + "$"}, &output))
        return {};
    return Lines(output);
}

bool Robot::Geometry(const std::string& window, Box* box) const {
    std::string output;
    if (!Run({"getwindowgeometry", "--shell", window}, &output))
        return false;
    int found = 0;
    for (const std::string& line : Lines(output)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        const int value = std::atoi(line.c_str() + equals + 1);
        int* field = key == "X"        ? &box->x
                     : key == "Y"      ? &box->y
                     : key == "WIDTH"  ? &box->width
                     : key == "HEIGHT" ? &box->height
                                       : nullptr;
        if (field != nullptr) {
            *field = value;
            ++found;
        }
    }
    return found == 4 && box->width > 0 && box->height > 0;
}

bool Robot::Click(int x, int y) const {
    // Not "mousemove --sync": it waits for a move that never comes when the pointer is there.
    return Run({"mousemove", std::to_string(x), std::to_string(y), "sleep", "0.1", "click", "1"},
               nullptr);
}

bool Robot::Keys(const std::string& window, const std::vector<std::string>& keys) const {
    std::vector<std::string> args = {"windowfocus", window, "key", "--delay", "50"};
    args.insert(args.end(), keys.begin(), keys.end());
    return Run(args, nullptr);
}

bool Robot::Keys(const std::vector<std::string>& keys) const {
    std::vector<std::string> args = {"key", "--delay", "50"};
    args.insert(args.end(), keys.begin(), keys.end());
    return Run(args, nullptr);
}

void E2eTest::SetUp() {
    std::string why;
    if (!fixtures::ExecutableAvailable(kXvfb, "xvfb", &why) ||
        !fixtures::ExecutableAvailable(kXdotool, "xdotool", &why) ||
        !fixtures::NginxServer::Available(&why)) {
        skip_ = why;
        GTEST_SKIP() << "the end-to-end runs need a virtual display and a web server: " << why;
    }
    fs::create_directories(sandbox_.Path("work"));
    fs::create_directories(sandbox_.Path("server"));
    display_ = std::make_unique<VirtualDisplay>();
    std::string error;
    ASSERT_TRUE(display_->Start(sandbox_.root(), &error)) << error;
    robot_ = std::make_unique<Robot>(display_->name(), sandbox_.root());
}

void E2eTest::TearDown() {
    program_.Stop(milliseconds(0));
    server_.reset();
    display_.reset();
}

bool E2eTest::StartServer(long limitedRate) {
    fixtures::NginxServer::Options options;
    options.limitedRate = limitedRate;
    server_ = std::make_unique<fixtures::NginxServer>(sandbox_.Path("server"), options);
    std::string error;
    if (!server_->Start(&error)) {
        ADD_FAILURE() << "nginx: " << error;
        return false;
    }
    return true;
}

std::string E2eTest::WriteInstaller(const std::string& name, size_t size) {
    std::string bytes = "#!/bin/sh\necho \"" + name + "\" >> \"" + Marker() + "\"\nexit 0\n";
    char line[32];
    for (size_t n = 0; bytes.size() < size; ++n) {
        std::snprintf(line, sizeof line, "# %012zu\n", n);
        bytes += line;
    }
    bytes.resize(size);
    EXPECT_TRUE(server_->WriteFile(name, bytes));
    return fixtures::Md5Of(bytes);
}

void E2eTest::WriteConfig(const std::vector<Product>& products, int split) {
    std::ostringstream ini;
    for (size_t i = 0; i < products.size(); ++i) {
        ini << "[Download#" << i + 1 << "]\r\nProductName=" << products[i].name
            << "\r\nURL=" << products[i].url << "\r\n";
        if (!products[i].md5.empty())
            ini << "MD5=" << products[i].md5 << "\r\n";
    }
    ini << "[Config]\r\nSN=" << split << "\r\n";
    sandbox_.WriteFile(sandbox_.Path("work/DownloadCfg.ini"), ini.str());
}

bool E2eTest::StartProgram() {
    // The windows of an earlier run go some time after its end, and a new run's window may get
    // the same id.
    if (!Until(seconds(10), [&] { return robot_->Windows(kCaption).empty(); })) {
        ADD_FAILURE() << "an earlier run's windows are still shown";
        return false;
    }
    logStart_ = Log().size();
    std::string error;
    // The test programs run offscreen; the program itself goes to the virtual display.
    fixtures::ChildOptions options;
    options.argv = {BinFolder() + "/ZELVDownloader"};
    options.outputPath = sandbox_.Path("program.out");
    options.folder = sandbox_.Path("work");
    options.setEnvironment = {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + display_->name()};
    if (!program_.Start(options, &error)) {
        ADD_FAILURE() << error;
        return false;
    }
    mainWindow_.clear();
    const bool shown = Until(seconds(20), [&] {
        const auto windows = robot_->Windows(kCaption);
        if (windows.size() == 1)
            mainWindow_ = windows.front();
        return !mainWindow_.empty() || !program_.Running();
    });
    if (!shown || mainWindow_.empty()) {
        ADD_FAILURE() << "the main dialog did not show within 20 s\n" << Diagnostics();
        return false;
    }
    if (!WaitForRunLog("Current status is", seconds(20))) {
        ADD_FAILURE() << "the dialog's set-up did not end within 20 s\n" << Diagnostics();
        return false;
    }
    // The first paint comes after the show; a click before it may find no widget yet.
    std::this_thread::sleep_for(milliseconds(300));
    return true;
}

std::string E2eTest::Log() const {
    return fixtures::Sandbox::ReadFile(sandbox_.state() +
                                       "/ZELVDownloader/Windows/Temp/ZELV_Debug/Download.log");
}

std::string E2eTest::RunLog() const {
    const std::string log = Log();
    return log.substr(std::min(logStart_, log.size()));
}

bool E2eTest::WaitForRunLog(const std::string& text, milliseconds timeout) const {
    return Until(timeout, [&] { return RunLog().find(text) != std::string::npos; });
}

bool E2eTest::WaitForPartialProgress(milliseconds timeout) const {
    static const std::regex progress(R"(([0-9.]+) MB of ([0-9.]+) MB downloaded)");
    return Until(timeout, [&] {
        const std::string log = RunLog();
        for (auto it = std::sregex_iterator(log.begin(), log.end(), progress);
             it != std::sregex_iterator(); ++it) {
            const double done = std::stod((*it)[1]);
            if (done > 0 && done < std::stod((*it)[2]))
                return true;
        }
        return false;
    });
}

std::string E2eTest::Diagnostics() const {
    std::string text = "main window: " + mainWindow_ +
                       "; last xdotool failure: " + robot_->lastError() +
                       "\nprogram output: " + fixtures::FileTail(sandbox_.Path("program.out"));
    text += "\nlog: " +
            fixtures::FileTail(
                sandbox_.state() + "/ZELVDownloader/Windows/Temp/ZELV_Debug/Download.log", 3000);
    if (server_)
        text += "\nserver: " + fixtures::FileTail(server_->errorLog(), 800);
    return text;
}

bool E2eTest::Click(const DialogRect& control) const {
    // Without a window manager the top-level window is the dialog's client area.
    Box box;
    if (!robot_->Geometry(mainWindow_, &box))
        return false;
    const int x = box.x + (2 * control.x + control.width) * box.width / (2 * kDialogWidth);
    const int y = box.y + (2 * control.y + control.height) * box.height / (2 * kDialogHeight);
    return robot_->Click(x, y);
}

bool E2eTest::AnswerBox(const std::string& key, milliseconds timeout) const {
    std::string box;
    Until(timeout, [&] {
        for (const std::string& window : robot_->Windows(kCaption)) {
            if (window != mainWindow_)
                box = window;
        }
        return !box.empty();
    });
    if (box.empty())
        return false;
    std::this_thread::sleep_for(milliseconds(300));  // shown and painted before the key
    return robot_->Keys(box, {key});
}

bool E2eTest::ChooseProduct(int index) const {
    // The click opens the list's pop-up, which takes the keys; the selection starts at the first.
    if (!Click(kProductList))
        return false;
    std::this_thread::sleep_for(milliseconds(500));
    std::vector<std::string> keys(static_cast<size_t>(index), "Down");
    keys.push_back("Return");
    return robot_->Keys(keys);
}

}  // namespace e2e
