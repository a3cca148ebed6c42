#include "support/named_pipe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace fixtures {

bool MakeNamedPipe(const std::string& nativePath) {
    std::error_code ignored;
    std::filesystem::remove_all(nativePath, ignored);
    return mkfifo(nativePath.c_str(), 0600) == 0;
}

bool ReturnsWithoutWaitingOn(const std::string& pipePath, const std::function<void()>& call) {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    bool helped = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> held(lock);
        if (changed.wait_for(held, std::chrono::seconds(10), [&] { return done; }))
            return;
        helped = true;
        ADD_FAILURE() << "the call waited for the other end of the pipe " << pipePath;
        while (!done) {
            held.unlock();
            const int end = open(pipePath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (end >= 0)
                close(end);
            held.lock();
            changed.wait_for(held, std::chrono::milliseconds(50), [&] { return done; });
        }
    });
    call();
    {
        std::lock_guard<std::mutex> held(lock);
        done = true;
    }
    changed.notify_all();
    watchdog.join();
    return !helped;
}

}  // namespace fixtures
