#include <gio/gio.h>

#include <unistd.h>

#include "../Bundle.h"
#include "../Workspace.h"
#include "GLibPtr.h"

namespace platform::Workspace {

bool openURL(const std::string& url) {
    GError* error = nullptr;
    bool opened = g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error);
    (void)glib::statusFromError(error);
    return opened;
}

bool openProxySettings() {
    // GNOME keeps the proxy settings in the network panel of its settings application.
    g_autofree char* settings = g_find_program_in_path("gnome-control-center");
    if (!settings) return false;
    const char* argv[] = {settings, "network", nullptr};
    GError* error = nullptr;
    bool started = g_spawn_async(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr,
                                 nullptr, &error);
    (void)glib::statusFromError(error);
    return started;
}

bool launchApplication(const std::string& bundlePath, const std::vector<std::string>& arguments) {
    auto bundle = Bundle::bundleWithPath(bundlePath);
    if (!bundle) return false;
    const PlistValue* executable = bundle->objectForInfoDictionaryKey("CFBundleExecutable");
    if (!executable || !executable->string() || executable->string()->empty()) return false;
    std::string program = bundlePath + "/Contents/MacOS/" + *executable->string();

    std::vector<char*> argv{program.data()};
    std::vector<std::string> copies(arguments);
    for (auto& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    // GLib closes every inherited descriptor but the standard three, which go to /dev/null,
    // and reaps the child; setsid gives it a session of its own so it outlives us.
    auto flags = static_cast<GSpawnFlags>(G_SPAWN_STDIN_FROM_DEV_NULL | G_SPAWN_STDOUT_TO_DEV_NULL |
                                          G_SPAWN_STDERR_TO_DEV_NULL);
    GError* error = nullptr;
    bool started = g_spawn_async(bundlePath.c_str(), argv.data(), nullptr, flags,
                                 +[](gpointer) { ::setsid(); }, nullptr, nullptr, &error);
    (void)glib::statusFromError(error);
    return started;
}

}  // namespace platform::Workspace
