#pragma once

#include <functional>

namespace platform {

// The global concurrent queue of background quality of service: each item runs on a
// worker thread of its own, and the caller does not wait.
void dispatchBackground(std::function<void()> work);

}  // namespace platform
