#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Replaceable.h"

namespace platform {

// What the system knows of a mounted volume.
struct VolumeInfo {
    bool removable = false;
    bool writable = false;
    bool unmountable = false;
    std::string description;
    std::string type;
};

// Mounted volumes.
class Volumes : public Replaceable<Volumes> {
  public:
    virtual ~Volumes() = default;
    static Volumes& shared();

    // The folder under which disk images are attached: $KELVANE_VOLUMES_ROOT when set; else
    // /Volumes when it exists and this user may write there; else a place of this user's own,
    // $XDG_RUNTIME_DIR/Volumes when the session has a runtime folder, ~/Library/Volumes
    // otherwise.
    virtual std::string volumesRoot() const = 0;

    // Mount points of the mounted volumes a user would see, in the order this system lists
    // them, followed by the disk images attached by the project's disk-image tool.
    virtual std::vector<std::string> mountedVolumePaths() const = 0;

    // Flags and kind of the volume mounted at the path; absent when no volume is mounted there.
    virtual std::optional<VolumeInfo> fileSystemInfo(const std::string& mountPoint) const = 0;
};

// Path inside an attached volume ("Orvo.app/Contents") to the mode (permission bits) its image
// records for it.
using RecordedModes = std::map<std::string, unsigned>;

// Registry of attached disk images, shared with the disk-image tool: one record per mount
// point, kept in a hidden folder of the volumes root. An attached volume is read-only as a
// whole; the record keeps the modes its image gave each entry, which copies out of it take.
class AttachedImages : public Replaceable<AttachedImages> {
  public:
    virtual ~AttachedImages() = default;
    static AttachedImages& shared();

    virtual std::string registryFolder() const = 0;
    virtual bool isAttached(const std::string& mountPoint) const = 0;
    virtual std::vector<std::string> mountPoints() const = 0;
    virtual bool record(const std::string& mountPoint, const std::string& imagePath,
                        const RecordedModes& modes = {}) = 0;
    virtual bool forget(const std::string& mountPoint) = 0;
    // The attached volume that holds the path, if any.
    virtual std::optional<std::string> mountPointContaining(const std::string& path) const = 0;
    virtual RecordedModes recordedModes(const std::string& mountPoint) const = 0;
};

}  // namespace platform
