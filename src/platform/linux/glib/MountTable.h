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

// Where the desktop mounts what its user opens or plugs in (udisks): /media/<user>/<name> and
// /run/media/<user>/<name>. A disk image opened from the file manager is a loop device there,
// which GLib alone would hide as internal.
bool isDesktopUserMount(const std::string& path);

// The mount points a user sees as volumes, in the table's order.
std::vector<std::string> visiblePaths(const std::vector<MountRow>& rows);

// What the volume search asks about one mount point; absent when it is not in the table.
std::optional<VolumeInfo> infoFor(const std::vector<MountRow>& rows, const std::string& path);

}  // namespace platform::mounts
