#include <glib.h>
#include <glib/gstdio.h>
#include <utime.h>

#include <filesystem>

#include "../../DesktopIntegration.h"
#include "../../ProductIdentity.h"
#include "../../SearchPaths.h"
#include "../support/GLibPtr.h"

namespace fs = std::filesystem;

namespace platform {

namespace {

constexpr const char* kMainGroup = G_KEY_FILE_DESKTOP_GROUP;

// The user's data folder as the desktop reads it: $XDG_DATA_HOME when it is an absolute path,
// else ~/.local/share, from the HOME this process was given.
std::string userDataFolder() {
    const char* configured = g_getenv("XDG_DATA_HOME");
    if (configured && configured[0] == '/') return configured;
    return SearchPaths::shared().homeDirectory() + "/.local/share";
}

// One argument as an Exec line spells it: quoted when it holds anything the line reserves,
// with the characters that stay special inside quotes escaped, and field codes' % doubled.
// The key file's own escaping is applied on top when the line is stored.
std::optional<std::string> execArgument(const std::string& argument) {
    if (argument.find_first_of("\n\r") != std::string::npos) return std::nullopt;
    std::string doubled;
    for (char c : argument) doubled += c == '%' ? std::string("%%") : std::string(1, c);
    if (!doubled.empty() && doubled.find_first_of(" \t\"'\\><~|&;$*?#()`") == std::string::npos)
        return doubled;
    std::string quoted = "\"";
    for (char c : doubled) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::optional<std::string> execLine(const std::vector<std::string>& command) {
    std::string line;
    for (const std::string& argument : command) {
        auto spelled = execArgument(argument);
        if (!spelled) return std::nullopt;
        line += (line.empty() ? "" : " ") + *spelled;
    }
    if (line.empty()) return std::nullopt;
    return line;
}

// The bundle's icons, size by size, into the user's hicolor theme. Written before the entry,
// so the entry never names an icon that is not there yet.
Status copyIcons(const std::string& bundleIcons, const std::string& userIcons) {
    std::error_code ec;
    if (!fs::is_directory(bundleIcons, ec)) return Status::failure(bundleIcons + " is missing");
    for (auto it = fs::recursive_directory_iterator(bundleIcons, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        fs::path target = fs::path(userIcons) / fs::relative(it->path(), bundleIcons, ec);
        fs::create_directories(target.parent_path(), ec);
        if (!ec) fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, ec);
        if (ec) return Status::failure("cannot copy " + it->path().string() + ": " + ec.message());
    }
    if (ec) return Status::failure("cannot read " + bundleIcons + ": " + ec.message());
    // The toolkits look at a theme again when its folder's time changes.
    (void)g_utime(userIcons.c_str(), nullptr);
    return Status::ok();
}

class KeyFileDesktopIntegration final : public DesktopIntegration {
  public:
    Result<std::string> addToMenu(const MenuEntry& entry) override;
};

}  // namespace

Result<std::string> KeyFileDesktopIntegration::addToMenu(const MenuEntry& entry) {
    const std::string& id = productIdentity().applicationId;
    std::string resources = entry.bundlePath + "/Contents/Resources";
    std::string template_ = resources + "/" + id + ".desktop";
    g_autoptr(GKeyFile) keys = g_key_file_new();
    GError* error = nullptr;
    // Every language's texts and the comments come along as the bundle has them.
    if (!g_key_file_load_from_file(
            keys, template_.c_str(),
            GKeyFileFlags(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS), &error)) {
        return glib::statusFromError(error).failure();
    }
    auto exec = execLine(entry.command);
    if (!exec) return unexpected("its command cannot be written as one line");
    g_key_file_set_string(keys, kMainGroup, G_KEY_FILE_DESKTOP_KEY_EXEC, exec->c_str());
    for (const auto& [action, command] : entry.actionCommands) {
        std::string group = "Desktop Action " + action;
        auto actionExec = execLine(command);
        if (!g_key_file_has_group(keys, group.c_str()) || !actionExec) continue;
        g_key_file_set_string(keys, group.c_str(), G_KEY_FILE_DESKTOP_KEY_EXEC,
                              actionExec->c_str());
    }

    std::string data = userDataFolder();
    if (Status icons = copyIcons(resources + "/icons/hicolor", data + "/icons/hicolor"); !icons)
        return icons.failure();
    std::string folder = data + "/applications";
    if (g_mkdir_with_parents(folder.c_str(), 0700) != 0)
        return unexpected("cannot make " + folder + ": " + g_strerror(errno));
    std::string path = folder + "/" + id + ".desktop";
    // Written beside and renamed: the menu never reads half an entry.
    if (!g_key_file_save_to_file(keys, path.c_str(), &error))
        return glib::statusFromError(error).failure();
    return path;
}

DesktopIntegration& DesktopIntegration::shared() {
    static KeyFileDesktopIntegration backend;
    return backend;
}

}  // namespace platform
