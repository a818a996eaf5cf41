#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// What the system knows of a mounted volume.
struct VolumeInfo {
    bool removable = false;
    bool writable = false;
    bool unmountable = false;
    std::string description;
    std::string type;
};

namespace Volumes {

// The folder under which disk images are attached: $KELVANE_VOLUMES_ROOT when set; else
// /Volumes when it exists and this user may write there; else a place of this user's own,
// $XDG_RUNTIME_DIR/Volumes when the session has a runtime folder, ~/Library/Volumes otherwise.
std::string volumesRoot();

// Mount points of the mounted volumes a user would see, in the system's order, followed by
// the disk images attached by the project's disk-image tool.
std::vector<std::string> mountedVolumePaths();

// Flags and kind of the volume mounted at the path; absent when no volume is mounted there.
std::optional<VolumeInfo> fileSystemInfo(const std::string& mountPoint);

// Registry of attached disk images, shared with the disk-image tool: one record per mount
// point, kept in a hidden folder of the volumes root. An attached volume is read-only as a
// whole; the record keeps the modes its image gave each entry, which copies out of it take.
namespace Attached {
// Path inside the volume ("Orvo.app/Contents") to the mode (permission bits) the image
// records for it.
using RecordedModes = std::map<std::string, unsigned>;

std::string registryFolder();
bool isAttached(const std::string& mountPoint);
std::vector<std::string> mountPoints();
bool record(const std::string& mountPoint, const std::string& imagePath,
            const RecordedModes& modes = {});
bool forget(const std::string& mountPoint);
// The attached volume that holds the path, if any.
std::optional<std::string> mountPointContaining(const std::string& path);
RecordedModes recordedModes(const std::string& mountPoint);
}  // namespace Attached

}  // namespace Volumes

}  // namespace platform
