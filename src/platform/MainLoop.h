#pragma once

#include <functional>
#include <future>
#include <memory>
#include <type_traits>

#include "Replaceable.h"

namespace platform {

// A timer on the main loop; it fires until invalidated or destroyed.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
};

// The main thread's event loop: timers, and work posted from other threads.
class MainLoop : public Replaceable<MainLoop> {
  public:
    virtual ~MainLoop() = default;

    static MainLoop& main();

    // Calls `action` every `intervalSeconds` on the main thread (once when !repeats).
    virtual std::unique_ptr<Timer> scheduleTimer(double intervalSeconds, bool repeats,
                                                 std::function<void()> action) = 0;
    // Runs `work` on the main thread at the next turn of the loop; safe from any thread.
    virtual void post(std::function<void()> work) = 0;
    virtual bool isMainThread() const = 0;

    // Runs `work` on the main thread and waits for its answer; on the main thread, at once.
    // For a worker thread that needs what only the main thread can give (a prompt in the
    // window, say). The caller must hold nothing the main thread may wait for.
    template <class Work>
    std::invoke_result_t<Work> invokeAndWait(Work work) {
        using Answer = std::invoke_result_t<Work>;
        if (isMainThread()) return work();
        std::promise<Answer> answer;
        std::future<Answer> answered = answer.get_future();
        post([&] {
            if constexpr (std::is_void_v<Answer>) {
                work();
                answer.set_value();
            } else {
                answer.set_value(work());
            }
        });
        return answered.get();
    }

    // Turns the loop until `done` answers true or the time runs out; true when done.
    // For start-up waits and tests; the application's own loop is Application::run.
    virtual bool runUntil(const std::function<bool()>& done, double timeoutSeconds) = 0;
};

// Marks an operation that must run on the main thread (the toolkit's, the web view's, the
// bridge's). Debug and sanitizer builds stop the process, naming the operation, when it is
// called from another thread; release builds check nothing.
#if !defined(NDEBUG) || defined(KELVANE_THREAD_CHECKS)
void assertMainThread(const char* operation);
#else
inline void assertMainThread(const char*) {}
#endif

}  // namespace platform
