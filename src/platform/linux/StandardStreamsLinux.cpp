#include "../StandardStreams.h"

#include <cstdio>

namespace platform::StandardStreams {

void reopenAllOnto(const std::string& path) {
    // A failed reopen leaves the stream closed; later writes to it are dropped, which is
    // what the caller accepts for a missing log folder.
    (void)std::freopen(path.c_str(), "a+", stdin);
    (void)std::freopen(path.c_str(), "a+", stdout);
    (void)std::freopen(path.c_str(), "a+", stderr);
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
