#include <gio/gio.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <utility>

#include "../../Bundle.h"
#include "../../ProductIdentity.h"
#include "../../Task.h"
#include "../support/GLibPtr.h"

namespace platform {

namespace {

class GSubprocessTask final : public Task {
  public:
    TaskResult run(const std::string& launchPath, const std::vector<std::string>& arguments,
                   bool captureStandardOutput, std::chrono::milliseconds timeLimit,
                   const std::optional<std::string>& standardInput) override;
    std::string resolvedLaunchPath(const std::string& launchPath) const override;
};

}  // namespace

std::string GSubprocessTask::resolvedLaunchPath(const std::string& launchPath) const {
    const ProductIdentity& product = productIdentity();
    if (launchPath == product.diskImageTool && !product.bundledDiskImageTool.empty()) {
        if (const char* tool = std::getenv("KELVANE_HDIUTIL"); tool && *tool) return tool;
        return Bundle::mainBundlePath() + "/Contents/MacOS/" + product.bundledDiskImageTool;
    }
    return launchPath;
}

namespace {

// The state of one wait, shared with the callbacks on this thread's own main context.
struct Wait {
    bool finished = false;
    bool timedOut = false;
    GBytes* output = nullptr;
    GError* error = nullptr;
};

}  // namespace

TaskResult GSubprocessTask::run(const std::string& launchPath,
                                const std::vector<std::string>& arguments,
                                bool captureStandardOutput, std::chrono::milliseconds timeLimit,
                                const std::optional<std::string>& standardInput) {
    TaskResult result;
    std::string program = resolvedLaunchPath(launchPath);
    std::vector<const char*> argv{program.c_str()};
    for (const auto& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);

    // Without capture the child shares our standard output, which is the log file.
    auto flags = captureStandardOutput ? G_SUBPROCESS_FLAGS_STDOUT_PIPE : G_SUBPROCESS_FLAGS_NONE;
    if (standardInput) flags = static_cast<GSubprocessFlags>(flags | G_SUBPROCESS_FLAGS_STDIN_PIPE);
    GError* error = nullptr;
    auto launcher = glib::ObjectPtr<GSubprocessLauncher>::adopt(g_subprocess_launcher_new(flags));
    // A group of its own, so that stopping it also stops whatever it started.
    g_subprocess_launcher_set_child_setup(
        launcher.get(), +[](gpointer) { ::setpgid(0, 0); }, nullptr, nullptr);
    auto process = glib::ObjectPtr<GSubprocess>::adopt(
        g_subprocess_launcher_spawnv(launcher.get(), argv.data(), &error));
    if (!process) {
        result.error = glib::statusFromError(error).errorDescription();
        return result;
    }
    result.launched = true;

    Wait wait;
    bool killed = false;
    {
        // The wait runs on a main context of this thread's own, so a time limit can end it
        // without the application's main loop.
        glib::ThreadDefaultContext context;
        g_autoptr(GBytes) input =
            standardInput ? g_bytes_new(standardInput->data(), standardInput->size()) : nullptr;
        g_subprocess_communicate_async(
            process.get(), input, nullptr,
            +[](GObject* source, GAsyncResult* asyncResult, gpointer data) {
                auto* state = static_cast<Wait*>(data);
                g_subprocess_communicate_finish(G_SUBPROCESS(source), asyncResult, &state->output,
                                                nullptr, &state->error);
                state->finished = true;
            },
            &wait);
        std::optional<glib::AttachedSource> limit;
        if (timeLimit > std::chrono::milliseconds::zero()) {
            GSource* source = g_timeout_source_new(static_cast<guint>(timeLimit.count()));
            g_source_set_callback(
                source,
                +[](gpointer data) -> gboolean {
                    static_cast<Wait*>(data)->timedOut = true;
                    return G_SOURCE_REMOVE;
                },
                &wait, nullptr);
            limit.emplace(source, context.get());
        }
        while (!wait.finished) {
            g_main_context_iteration(context.get(), TRUE);
            if (wait.timedOut && !killed) {
                if (const char* pid = g_subprocess_get_identifier(process.get()))
                    ::kill(-std::atoi(pid), SIGKILL);
                g_subprocess_force_exit(process.get());
                killed = true;
            }
        }
    }

    g_autoptr(GBytes) output = std::exchange(wait.output, nullptr);
    if (wait.error) result.error = glib::statusFromError(wait.error).errorDescription();
    if (killed) {
        result.error = program + " did not end within " + std::to_string(timeLimit.count() / 1000) +
                       " s and was stopped";
    }
    if (output) {
        gsize size = 0;
        const auto* data = static_cast<const char*>(g_bytes_get_data(output, &size));
        result.standardOutput.assign(data ? data : "", size);
    }
    if (g_subprocess_get_if_exited(process.get())) {
        result.terminationStatus = g_subprocess_get_exit_status(process.get());
    } else if (g_subprocess_get_if_signaled(process.get())) {
        result.terminationStatus = 128 + g_subprocess_get_term_sig(process.get());
    }
    return result;
}

Task& Task::shared() {
    static GSubprocessTask backend;
    return replacedOr(backend);
}

}  // namespace platform
