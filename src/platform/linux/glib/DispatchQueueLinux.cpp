#include <sys/resource.h>
#include <unistd.h>

#include <thread>

#include "../../DispatchQueue.h"

namespace platform {

namespace {

// Background quality of service yields the processor to everything the customer is waiting
// for, such as the join page loading at start-up. On Linux a thread's niceness is its own, and
// threads it starts (the transfers it begins) inherit it.
constexpr int kBackgroundNiceness = 10;

}  // namespace

void dispatchBackground(std::function<void()> work) {
    // Detached: the process may end while an item still runs, as with macOS's dispatch queues.
    std::thread([work = std::move(work)] {
        (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kBackgroundNiceness);
        work();
    }).detach();
}

}  // namespace platform
