#include <glib.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "../../MainLoop.h"
#include "../support/GLibPtr.h"

namespace platform {

namespace {

// Static initialisation runs on the thread that starts the process.
const std::thread::id g_mainThreadId = std::this_thread::get_id();

struct TimerState {
    std::function<void()> action;
    bool repeats = false;
    glib::SourceId sourceId;  // empty once the source is gone; touched on the main thread only
};

class GLibTimer final : public Timer {
  public:
    explicit GLibTimer(std::shared_ptr<TimerState> state) : m_state(std::move(state)) {}
    ~GLibTimer() override { invalidate(); }

    void invalidate() override { m_state->sourceId.remove(); }
    bool isValid() const override { return bool(m_state->sourceId); }

  private:
    std::shared_ptr<TimerState> m_state;
};

gboolean fireTimer(gpointer data) {
    auto state = *static_cast<std::shared_ptr<TimerState>*>(data);
    if (!state->repeats) state->sourceId.forget();
    state->action();
    // The action may have invalidated a repeating timer: it then ends here.
    return state->repeats && state->sourceId ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void releaseTimer(gpointer data) {
    delete static_cast<std::shared_ptr<TimerState>*>(data);
}

gboolean runPosted(gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

void releasePosted(gpointer data) {
    delete static_cast<std::function<void()>*>(data);
}

class GLibMainLoop final : public MainLoop {
  public:
    std::unique_ptr<Timer> scheduleTimer(double intervalSeconds, bool repeats,
                                         std::function<void()> action) override {
        auto state = std::make_shared<TimerState>();
        state->action = std::move(action);
        state->repeats = repeats;
        auto milliseconds = static_cast<guint>(std::max(1.0, std::round(intervalSeconds * 1000)));
        state->sourceId = g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds, fireTimer,
                                             new std::shared_ptr<TimerState>(state), releaseTimer);
        return std::make_unique<GLibTimer>(std::move(state));
    }

    void post(std::function<void()> work) override {
        g_idle_add_full(G_PRIORITY_DEFAULT, runPosted, new std::function<void()>(std::move(work)),
                        releasePosted);
    }

    bool isMainThread() const override { return std::this_thread::get_id() == g_mainThreadId; }

    bool runUntil(const std::function<bool()>& done, double timeoutSeconds) override {
        struct Limit {
            bool reached = false;
            glib::SourceId source;  // removed on return unless it fired
        } limit;
        limit.source = g_timeout_add_full(
            G_PRIORITY_DEFAULT, static_cast<guint>(std::max(0.0, timeoutSeconds * 1000)),
            [](gpointer data) -> gboolean {
                auto* fired = static_cast<Limit*>(data);
                fired->reached = true;
                fired->source.forget();
                return G_SOURCE_REMOVE;
            },
            &limit, nullptr);
        while (!done() && !limit.reached) g_main_context_iteration(nullptr, TRUE);
        return done();
    }
};

}  // namespace

MainLoop& MainLoop::main() {
    static GLibMainLoop loop;
    return replacedOr(loop);
}

#if !defined(NDEBUG) || defined(KELVANE_THREAD_CHECKS)
void assertMainThread(const char* operation) {
    if (std::this_thread::get_id() == g_mainThreadId) return;
    std::fprintf(stderr, "%s must run on the main thread\n", operation);
    std::abort();
}
#endif

}  // namespace platform
