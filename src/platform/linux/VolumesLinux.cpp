#include <fcntl.h>
#include <gio/gunixmounts.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "../Volumes.h"

namespace fs = std::filesystem;

namespace platform::Volumes {

namespace {

std::string normalised(const std::string& path) {
    std::string result = fs::path(path).lexically_normal().string();
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

// One file name per mount point; the mount point's last component is unique in the root.
std::string recordPath(const std::string& mountPoint) {
    return Attached::registryFolder() + "/" + fs::path(normalised(mountPoint)).filename().string();
}

struct MountList {
    GList* entries = nullptr;
    MountList() { entries = g_unix_mounts_get(nullptr); }
    ~MountList() { g_list_free_full(entries, reinterpret_cast<GDestroyNotify>(g_unix_mount_free)); }
};

}  // namespace

std::string volumesRoot() {
    if (const char* root = std::getenv("KELVANE_VOLUMES_ROOT"); root && *root) return normalised(root);
    return "/Volumes";
}

std::string Attached::registryFolder() { return volumesRoot() + "/.kelvane-attached"; }

bool Attached::isAttached(const std::string& mountPoint) {
    std::string path = normalised(mountPoint);
    if (fs::path(path).parent_path().string() != volumesRoot()) return false;
    std::error_code ec;
    return fs::is_regular_file(recordPath(path), ec) && fs::is_directory(path, ec);
}

std::vector<std::string> Attached::mountPoints() {
    std::vector<std::string> points;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(registryFolder(), ec)) {
        std::string point = volumesRoot() + "/" + entry.path().filename().string();
        if (fs::is_directory(point, ec)) points.push_back(point);
    }
    std::sort(points.begin(), points.end());
    return points;
}

bool Attached::record(const std::string& mountPoint, const std::string& imagePath) {
    std::error_code ec;
    fs::create_directories(registryFolder(), ec);
    int fd = ::open(recordPath(mountPoint).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::string text = imagePath + "\n";
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return ::close(fd) == 0 && ok;
}

bool Attached::forget(const std::string& mountPoint) {
    return ::unlink(recordPath(mountPoint).c_str()) == 0;
}

std::vector<std::string> mountedVolumePaths() {
    std::vector<std::string> paths;
    MountList mounts;
    for (GList* item = mounts.entries; item; item = item->next) {
        auto* entry = static_cast<GUnixMountEntry*>(item->data);
        // Kernel and system mounts (/proc, /sys, /run, ...) are not volumes a user sees.
        if (g_unix_mount_is_system_internal(entry)) continue;
        paths.emplace_back(g_unix_mount_get_mount_path(entry));
    }
    for (auto& point : Attached::mountPoints()) {
        if (std::find(paths.begin(), paths.end(), point) == paths.end()) paths.push_back(point);
    }
    return paths;
}

std::optional<VolumeInfo> fileSystemInfo(const std::string& mountPoint) {
    if (Attached::isAttached(mountPoint)) {
        // Attached disk images behave as on the desktop they come from: ejectable, read-only.
        return VolumeInfo{true, false, true, "disk image", "iso9660"};
    }
    std::string path = normalised(mountPoint);
    MountList mounts;
    for (GList* item = mounts.entries; item; item = item->next) {
        auto* entry = static_cast<GUnixMountEntry*>(item->data);
        if (path != g_unix_mount_get_mount_path(entry)) continue;
        VolumeInfo info;
        bool internal = g_unix_mount_is_system_internal(entry);
        info.removable = g_unix_mount_guess_can_eject(entry);
        info.writable = !g_unix_mount_is_readonly(entry);
        info.unmountable = !internal && path != "/";
        info.description = g_unix_mount_get_device_path(entry);
        info.type = g_unix_mount_get_fs_type(entry);
        return info;
    }
    return std::nullopt;
}

}  // namespace platform::Volumes
