#include "platform/view/qt_start.h"

#include <unistd.h>

#include <QApplication>
#include <QString>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace platform {

namespace {

std::mutex g_heldLock;
std::vector<std::pair<QtMsgType, QString>>* g_held = nullptr;

bool Set(const char* value) {
    return value != nullptr && *value != '\0';
}

// The line said when no platform can start, from the environment Qt chose its platform by.
std::string NoDisplayLine(const char* program, const char* platform, const char* x11Display,
                          const char* waylandDisplay) {
    std::string why;
    if (Set(platform)) {
        why = std::string("the platform \"") + platform + "\" (QT_QPA_PLATFORM) cannot start";
    } else if (Set(x11Display)) {
        why = std::string("the display \"") + x11Display + "\" cannot be opened";
    } else if (Set(waylandDisplay)) {
        why = std::string("the display \"") + waylandDisplay + "\" cannot be opened";
    } else {
        why = "there is no display (DISPLAY is not set)";
    }
    return std::string(program) + ": " + why +
           "; start it in a desktop session or on a virtual display (xvfb-run -a)\n";
}

void HoldMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg) {
        // Qt would abort right after this; its own lines before it named plugins and paths.
        const std::string line =
            NoDisplayLine(program_invocation_short_name, std::getenv("QT_QPA_PLATFORM"),
                          std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
        const ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
        (void)ignored;
        _exit(EXIT_FAILURE);
    }
    std::lock_guard<std::mutex> lock(g_heldLock);
    if (g_held != nullptr)
        g_held->emplace_back(type, text);
}

}  // namespace

QApplication* MakeApplication(int& argc, char** argv) {
    std::vector<std::pair<QtMsgType, QString>> held;
    {
        std::lock_guard<std::mutex> lock(g_heldLock);
        g_held = &held;
    }
    const QtMessageHandler previous = qInstallMessageHandler(&HoldMessage);
    auto* app = new QApplication(argc, argv);
    qInstallMessageHandler(previous);
    {
        std::lock_guard<std::mutex> lock(g_heldLock);
        g_held = nullptr;
    }
    const QMessageLogContext context;
    for (const auto& [type, text] : held)
        previous(type, context, text);
    return app;
}

}  // namespace platform
