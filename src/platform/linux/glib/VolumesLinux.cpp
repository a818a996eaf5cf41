#include <fcntl.h>
#include <gio/gunixmounts.h>
#include <pwd.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "../../SearchPaths.h"
#include "../../Volumes.h"
#include "../support/Owned.h"
#include "../support/WriteAll.h"
#include "MountTable.h"

namespace fs = std::filesystem;

namespace platform {

namespace {

std::string normalised(const std::string& path) {
    std::string result = fs::path(path).lexically_normal().string();
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

// One file name per mount point; the mount point's last component is unique in the root.
std::string recordPath(const std::string& mountPoint) {
    return AttachedImages::shared().registryFolder() + "/" +
           fs::path(normalised(mountPoint)).filename().string();
}

// Record lines hold paths; a line feed or backslash inside one is escaped.
std::string escaped(const std::string& text) {
    std::string result;
    for (char c : text) {
        if (c == '\\')
            result += "\\\\";
        else if (c == '\n')
            result += "\\n";
        else
            result += c;
    }
    return result;
}

std::string unescaped(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            result += text[++i] == 'n' ? '\n' : text[i];
        } else {
            result += text[i];
        }
    }
    return result;
}

bool isUsableFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

class LinuxVolumes final : public Volumes {
  public:
    std::string volumesRoot() const override;
    std::vector<std::string> mountedVolumePaths() const override;
    std::optional<VolumeInfo> fileSystemInfo(const std::string& mountPoint) const override;
};

class LinuxAttachedImages final : public AttachedImages {
  public:
    std::string registryFolder() const override;
    bool isAttached(const std::string& mountPoint) const override;
    std::vector<std::string> mountPoints() const override;
    bool record(const std::string& mountPoint, const std::string& imagePath,
                const RecordedModes& modes) override;
    bool forget(const std::string& mountPoint) override;
    std::optional<std::string> mountPointContaining(const std::string& path) const override;
    RecordedModes recordedModes(const std::string& mountPoint) const override;
};

}  // namespace

std::string LinuxVolumes::volumesRoot() const {
    if (const char* root = std::getenv("KELVANE_VOLUMES_ROOT"); root && *root)
        return normalised(root);
    if (isUsableFolder("/Volumes")) return "/Volumes";
    // An ordinary user cannot make /Volumes; the session's runtime folder is private to the
    // user and emptied at log-out, as mounts are.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime && *runtime == '/' && isUsableFolder(runtime)) {
        return normalised(std::string(runtime) + "/Volumes");
    }
    return normalised(SearchPaths::shared().userLibraryDirectory() + "/Volumes");
}

std::string LinuxAttachedImages::registryFolder() const {
    return Volumes::shared().volumesRoot() + "/.kelvane-attached";
}

bool LinuxAttachedImages::isAttached(const std::string& mountPoint) const {
    std::string path = normalised(mountPoint);
    if (fs::path(path).parent_path().string() != Volumes::shared().volumesRoot()) return false;
    std::error_code ec;
    return fs::is_regular_file(recordPath(path), ec) && fs::is_directory(path, ec);
}

std::vector<std::string> LinuxAttachedImages::mountPoints() const {
    std::vector<std::string> points;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(registryFolder(), ec)) {
        std::string point =
            Volumes::shared().volumesRoot() + "/" + entry.path().filename().string();
        if (fs::is_directory(point, ec)) points.push_back(point);
    }
    std::sort(points.begin(), points.end());
    return points;
}

// A record: the image's path on the first line, then one line per entry, "<octal mode>\t<path>".
bool LinuxAttachedImages::record(const std::string& mountPoint, const std::string& imagePath,
                                 const RecordedModes& modes) {
    std::error_code ec;
    fs::create_directories(registryFolder(), ec);
    support::FileDescriptor fd(
        ::open(recordPath(mountPoint).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd) return false;
    std::string text = escaped(imagePath) + "\n";
    char mode[16];
    for (const auto& [path, bits] : modes) {
        std::snprintf(mode, sizeof mode, "%o\t", bits & 07777);
        text += mode + escaped(path) + "\n";
    }
    bool written = writeAll(fd.get(), text.data(), text.size());
    return fd.reset() == 0 && written;
}

bool LinuxAttachedImages::forget(const std::string& mountPoint) {
    bool forgotten = ::unlink(recordPath(mountPoint).c_str()) == 0;
    // The last volume detached leaves the volumes root as it found it.
    ::rmdir(registryFolder().c_str());
    return forgotten;
}

std::optional<std::string> LinuxAttachedImages::mountPointContaining(
    const std::string& path) const {
    std::string absolute = normalised(fs::absolute(path).string());
    std::string root = Volumes::shared().volumesRoot() + "/";
    if (absolute.compare(0, root.size(), root) != 0) return std::nullopt;
    std::string name = absolute.substr(root.size(), absolute.find('/', root.size()) - root.size());
    std::string mountPoint = root + name;
    if (name.empty() || !isAttached(mountPoint)) return std::nullopt;
    return mountPoint;
}

RecordedModes LinuxAttachedImages::recordedModes(const std::string& mountPoint) const {
    RecordedModes modes;
    std::ifstream in(recordPath(mountPoint));
    std::string line;
    std::getline(in, line);  // the image
    while (std::getline(in, line)) {
        auto tab = line.find('\t');
        if (tab == std::string::npos) continue;
        char* end = nullptr;
        unsigned long bits = std::strtoul(line.c_str(), &end, 8);
        if (end != line.c_str() + tab) continue;
        modes[unescaped(line.substr(tab + 1))] = static_cast<unsigned>(bits & 07777);
    }
    return modes;
}

std::vector<std::string> LinuxVolumes::mountedVolumePaths() const {
    std::vector<std::string> paths = mounts::visiblePaths(mounts::current(), mounts::currentUser());
    for (auto& point : AttachedImages::shared().mountPoints()) {
        if (std::find(paths.begin(), paths.end(), point) == paths.end()) paths.push_back(point);
    }
    return paths;
}

std::optional<VolumeInfo> LinuxVolumes::fileSystemInfo(const std::string& mountPoint) const {
    if (AttachedImages::shared().isAttached(mountPoint)) {
        // Attached disk images behave as on macOS: ejectable, read-only.
        return VolumeInfo{true, false, true, "disk image", "iso9660"};
    }
    return mounts::infoFor(mounts::current(), normalised(mountPoint), mounts::currentUser());
}

namespace mounts {

std::vector<MountRow> current() {
    std::vector<MountRow> rows;
    g_autolist(GUnixMountEntry) entries = g_unix_mounts_get(nullptr);
    for (GList* item = entries; item; item = item->next) {
        auto* entry = static_cast<GUnixMountEntry*>(item->data);
        rows.push_back(MountRow{g_unix_mount_get_mount_path(entry),
                                g_unix_mount_get_device_path(entry),
                                g_unix_mount_get_fs_type(entry),
                                static_cast<bool>(g_unix_mount_is_system_internal(entry)),
                                static_cast<bool>(g_unix_mount_is_readonly(entry)),
                                static_cast<bool>(g_unix_mount_guess_can_eject(entry))});
    }
    return rows;
}

std::string currentUser() {
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_name)
        return entry->pw_name;
    const char* user = std::getenv("USER");
    return user ? user : "";
}

namespace {

// The <user> of /media/<user>/<name> or /run/media/<user>/<name>; absent for other paths.
std::optional<std::string> desktopMountOwner(const std::string& path) {
    for (const char* root : {"/media/", "/run/media/"}) {
        std::string prefix = root;
        if (path.rfind(prefix, 0) != 0) continue;
        // <user>/<name>: two components at least below the root.
        std::string rest = path.substr(prefix.size());
        auto slash = rest.find('/');
        if (slash == std::string::npos || slash == 0 || slash + 1 >= rest.size())
            return std::nullopt;
        return rest.substr(0, slash);
    }
    return std::nullopt;
}

}  // namespace

bool isDesktopUserMount(const std::string& path, const std::string& user) {
    auto owner = desktopMountOwner(path);
    return owner && !user.empty() && *owner == user;
}

bool isAnotherUsersMount(const std::string& path, const std::string& user) {
    auto owner = desktopMountOwner(path);
    return owner && *owner != user;
}

std::vector<std::string> visiblePaths(const std::vector<MountRow>& rows, const std::string& user) {
    std::vector<std::string> paths;
    for (const MountRow& row : rows) {
        if (isAnotherUsersMount(row.path, user)) continue;
        // Kernel and system mounts (/proc, /sys, /run, ...) are not volumes a user sees.
        if (row.systemInternal && !isDesktopUserMount(row.path, user)) continue;
        paths.push_back(row.path);
    }
    return paths;
}

std::optional<VolumeInfo> infoFor(const std::vector<MountRow>& rows, const std::string& path,
                                  const std::string& user) {
    for (const MountRow& row : rows) {
        if (row.path != path || isAnotherUsersMount(row.path, user)) continue;
        bool desktop = isDesktopUserMount(row.path, user);
        VolumeInfo info;
        info.removable = row.canEject || desktop;
        info.writable = !row.readOnly;
        info.unmountable = (!row.systemInternal || desktop) && path != "/";
        info.description = row.device;
        info.type = row.type;
        return info;
    }
    return std::nullopt;
}

}  // namespace mounts

Volumes& Volumes::shared() {
    static LinuxVolumes backend;
    return replacedOr(backend);
}

AttachedImages& AttachedImages::shared() {
    static LinuxAttachedImages backend;
    return replacedOr(backend);
}

}  // namespace platform
