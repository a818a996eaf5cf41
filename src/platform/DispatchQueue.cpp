#include "DispatchQueue.h"

#include <thread>

namespace platform {

void dispatchBackground(std::function<void()> work) {
    // Detached: the process may end while an item still runs, as with macOS's dispatch queues.
    std::thread(std::move(work)).detach();
}

}  // namespace platform
