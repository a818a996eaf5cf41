#include "../../StandardStreams.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace platform::StandardStreams {

void reopenAllOnto(const std::string& path) {
    // A failed reopen leaves the stream closed; later writes to it are dropped, which is
    // what the caller accepts for a missing log folder.
    (void)std::freopen(path.c_str(), "a+", stdin);
    if (std::freopen(path.c_str(), "a+", stdout)) std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (std::freopen(path.c_str(), "a+", stderr)) std::setvbuf(stderr, nullptr, _IONBF, 0);
}

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool keepAllOnto(const std::string& path) {
    std::fflush(stdout);
    std::fflush(stderr);
    struct ::stat named = {}, output = {}, error = {};
    bool unchanged = ::stat(path.c_str(), &named) == 0 && ::fstat(STDOUT_FILENO, &output) == 0 &&
                     ::fstat(STDERR_FILENO, &error) == 0 && sameFile(named, output) &&
                     sameFile(named, error);
    if (unchanged) return false;
    reopenAllOnto(path);
    return true;
}

void runWithOutputHeld(const std::function<void()>& work) {
    // Always stdout before stderr; nothing else in the process holds both.
    struct Held {
        Held() {
            ::flockfile(stdout);
            ::flockfile(stderr);
            std::fflush(stdout);
            std::fflush(stderr);
        }
        ~Held() {
            ::funlockfile(stderr);
            ::funlockfile(stdout);
        }
    } held;
    work();
}

}  // namespace platform::StandardStreams
