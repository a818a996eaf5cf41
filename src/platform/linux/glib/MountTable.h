#pragma once

#include <optional>
#include <string>
#include <vector>

#include "../../Volumes.h"

namespace platform::mounts {

// One line of the system's mount table, with GLib's guesses about it.
struct MountRow {
    std::string path;
    std::string device;
    std::string type;
    bool systemInternal = false;  // GLib counts loop devices as such, desktop images included
    bool readOnly = false;
    bool canEject = false;
};

// The mount table as the system reports it now.
std::vector<MountRow> current();

// The account this process runs as, by name.
std::string currentUser();

// Where the desktop mounts what `user` opens or plugs in (udisks): /media/<user>/<name> and
// /run/media/<user>/<name>. A disk image opened from the file manager is a loop device there,
// which GLib alone would hide as internal.
bool isDesktopUserMount(const std::string& path, const std::string& user);
// A mount the desktop made for another account: never one of this user's volumes.
bool isAnotherUsersMount(const std::string& path, const std::string& user);

// The mount points `user` sees as volumes, in the table's order.
std::vector<std::string> visiblePaths(const std::vector<MountRow>& rows, const std::string& user);

// What the volume search asks about one mount point; absent when it is not in the table.
std::optional<VolumeInfo> infoFor(const std::vector<MountRow>& rows, const std::string& path,
                                  const std::string& user);

}  // namespace platform::mounts
