#pragma once

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

// The folder under which disk images are attached: $KELVANE_VOLUMES_ROOT, else /Volumes.
std::string volumesRoot();

// Mount points of the mounted volumes a user would see, in the system's order, followed by
// the disk images attached by the project's disk-image tool.
std::vector<std::string> mountedVolumePaths();

// Flags and kind of the volume mounted at the path; absent when no volume is mounted there.
std::optional<VolumeInfo> fileSystemInfo(const std::string& mountPoint);

// Registry of attached disk images, shared with the disk-image tool: one record per mount
// point, kept in a hidden folder of the volumes root.
namespace Attached {
std::string registryFolder();
bool isAttached(const std::string& mountPoint);
std::vector<std::string> mountPoints();
bool record(const std::string& mountPoint, const std::string& imagePath);
bool forget(const std::string& mountPoint);
}  // namespace Attached

}  // namespace Volumes

}  // namespace platform
