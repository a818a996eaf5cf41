#include <gio/gio.h>

#include <cstdlib>

#include "../Bundle.h"
#include "../Task.h"
#include "GLibPtr.h"

namespace platform::Task {

std::string resolvedLaunchPath(const std::string& launchPath) {
    if (launchPath == "/usr/bin/hdiutil") {
        if (const char* tool = std::getenv("KELVANE_HDIUTIL"); tool && *tool) return tool;
        return Bundle::mainBundlePath() + "/Contents/MacOS/kelvane-hdiutil";
    }
    return launchPath;
}

TaskResult run(const std::string& launchPath, const std::vector<std::string>& arguments,
               bool captureStandardOutput) {
    TaskResult result;
    std::string program = resolvedLaunchPath(launchPath);
    std::vector<const char*> argv{program.c_str()};
    for (const auto& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);

    // Without capture the child shares our standard output, which is the log file.
    auto flags = captureStandardOutput ? G_SUBPROCESS_FLAGS_STDOUT_PIPE : G_SUBPROCESS_FLAGS_NONE;
    GError* error = nullptr;
    auto process = glib::ObjectPtr<GSubprocess>::adopt(g_subprocess_newv(argv.data(), flags, &error));
    if (!process) {
        result.error = glib::statusFromError(error).errorDescription();
        return result;
    }
    result.launched = true;
    GBytes* output = nullptr;
    if (!g_subprocess_communicate(process.get(), nullptr, nullptr, captureStandardOutput ? &output : nullptr,
                                  nullptr, &error)) {
        result.error = glib::statusFromError(error).errorDescription();
    }
    if (output) {
        gsize size = 0;
        const auto* data = static_cast<const char*>(g_bytes_get_data(output, &size));
        result.standardOutput.assign(data ? data : "", size);
        g_bytes_unref(output);
    }
    if (g_subprocess_get_if_exited(process.get())) {
        result.terminationStatus = g_subprocess_get_exit_status(process.get());
    } else if (g_subprocess_get_if_signaled(process.get())) {
        result.terminationStatus = 128 + g_subprocess_get_term_sig(process.get());
    }
    return result;
}

}  // namespace platform::Task
