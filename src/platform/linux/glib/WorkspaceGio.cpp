#include <gio/gio.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "../../Bundle.h"
#include "../../Workspace.h"
#include "../support/GLibPtr.h"

namespace platform {

namespace {

class GioWorkspace final : public Workspace {
  public:
    Status openURL(const std::string& url) override;
    Status showInFileManager(const std::string& path) override;
    Status openProxySettings() override;
    Status launchApplication(const std::string& bundlePath,
                             const std::vector<std::string>& arguments) override;
    std::optional<int> runningApplicationProcess(const std::string& bundlePath) override;
};

}  // namespace

Status GioWorkspace::openURL(const std::string& url) {
    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) return Status::ok();
    if (!error) return Status::failure("no application opens " + url);
    return glib::statusFromError(error);
}

Status GioWorkspace::showInFileManager(const std::string& path) {
    GError* error = nullptr;
    g_autofree char* uri = g_filename_to_uri(path.c_str(), nullptr, &error);
    if (!uri) return glib::statusFromError(error);
    // The file managers' shared interface selects the file in a window of their own.
    if (g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        const char* uris[] = {uri, nullptr};
        g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
            "org.freedesktop.FileManager1", "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr,
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply) return Status::ok();
    }
    g_autofree char* folder = g_path_get_dirname(path.c_str());
    g_autofree char* folderUri = g_filename_to_uri(folder, nullptr, nullptr);
    return openURL(folderUri ? folderUri : folder);
}

Status GioWorkspace::openProxySettings() {
    // Each desktop keeps its proxy settings in its own settings program; the first one
    // installed is used.
    static const std::vector<std::vector<const char*>> kSettings = {
        {"gnome-control-center", "network"},  // GNOME
        {"systemsettings", "kcm_proxy"},      // KDE Plasma 6
        {"systemsettings5", "proxy"},         // KDE Plasma 5
        {"kcmshell5", "proxy"},
        {"cinnamon-settings", "network"},
        {"nm-connection-editor"},
    };
    for (const auto& command : kSettings) {
        g_autofree char* program = g_find_program_in_path(command[0]);
        if (!program) continue;
        std::vector<char*> argv{program};
        for (std::size_t i = 1; i < command.size(); ++i)
            argv.push_back(const_cast<char*>(command[i]));
        argv.push_back(nullptr);
        GError* error = nullptr;
        if (g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr,
                          &error)) {
            return Status::ok();
        }
        return glib::statusFromError(error);
    }
    return Status::failure("this desktop has no proxy settings program");
}

namespace {

// The executable a bundle names in its Info.plist.
std::optional<std::string> bundleExecutable(const std::string& bundlePath) {
    auto bundle = Bundle::bundleWithPath(bundlePath);
    if (!bundle) return std::nullopt;
    const PlistValue* executable = bundle->objectForInfoDictionaryKey("CFBundleExecutable");
    if (!executable || !executable->string() || executable->string()->empty()) return std::nullopt;
    return bundlePath + "/Contents/MacOS/" + *executable->string();
}

}  // namespace

Status GioWorkspace::launchApplication(const std::string& bundlePath,
                                       const std::vector<std::string>& arguments) {
    auto executable = bundleExecutable(bundlePath);
    if (!executable)
        return Status::failure("\"" + bundlePath +
                               "\" is no application bundle with an executable");
    std::string program = *executable;

    std::vector<char*> argv{program.data()};
    std::vector<std::string> copies(arguments);
    for (auto& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    // GLib closes every inherited descriptor but the standard three, which go to /dev/null,
    // and reaps the child; setsid gives it a session of its own so it outlives us.
    auto flags = static_cast<GSpawnFlags>(G_SPAWN_STDIN_FROM_DEV_NULL | G_SPAWN_STDOUT_TO_DEV_NULL |
                                          G_SPAWN_STDERR_TO_DEV_NULL);
    GError* error = nullptr;
    g_spawn_async(
        bundlePath.c_str(), argv.data(), nullptr, flags, +[](gpointer) { ::setsid(); }, nullptr,
        nullptr, &error);
    return glib::statusFromError(error);
}

std::optional<int> GioWorkspace::runningApplicationProcess(const std::string& bundlePath) {
    auto executable = bundleExecutable(bundlePath);
    if (!executable) return std::nullopt;
    std::error_code ec;
    std::filesystem::path wanted = std::filesystem::canonical(*executable, ec);
    if (ec) return std::nullopt;
    // The kernel shows each process's executable; other users' processes stay unreadable.
    std::filesystem::directory_iterator it("/proc", ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code unreadable;
        std::filesystem::path running =
            std::filesystem::read_symlink(it->path() / "exe", unreadable);
        if (!unreadable && running == wanted) return std::atoi(name.c_str());
    }
    return std::nullopt;
}

Workspace& Workspace::shared() {
    static GioWorkspace backend;
    return replacedOr(backend);
}

}  // namespace platform
