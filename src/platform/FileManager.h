#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Replaceable.h"
#include "Status.h"

namespace platform {

// How a replacement ended; `copied` tells a failed copy (nothing changed) from a failed swap.
struct ReplaceResult {
    Status status;
    bool copied = false;
};

// File-system access used by the logic. Copies never overwrite: callers remove the
// destination first where they mean to replace it.
class FileManager : public Replaceable<FileManager> {
  public:
    virtual ~FileManager() = default;

    // The process-wide instance for this operating system.
    static FileManager& defaultManager();

    // True when anything (file, folder, link) exists at the path; dangling links count.
    virtual bool fileExistsAtPath(const std::string& path) const = 0;
    virtual bool directoryExistsAtPath(const std::string& path) const = 0;

    // Folders are created private to their owner (0700): everything the application keeps
    // under the user's Library is the customer's own.
    virtual Status createDirectory(const std::string& path, bool withIntermediates) = 0;
    // Removes a file, link or whole folder tree. A folder first leaves its path in one step,
    // so a process that dies meanwhile never leaves half a folder under the old name.
    virtual Status removeItem(const std::string& path) = 0;
    // Copies a file or folder tree, keeping permissions and symbolic links; a copy out of an
    // attached disk image takes the modes the image records. The copy is made under a hidden
    // name beside the destination and renamed into place, so the destination holds either
    // nothing or the whole copy. Fails when the destination already exists.
    virtual Status copyItem(const std::string& source, const std::string& destination) = 0;
    // Puts a copy of `source` at `destination`, replacing what is there, so that at every moment
    // one whole item stands at `destination`: the copy is made beside it, swapped in in one step,
    // and the old item removed afterwards. A process killed at any step leaves either the old or
    // the new item in place, plus a leftover that removeLeftoversOfEndedProcesses clears.
    virtual ReplaceResult replaceItem(const std::string& source,
                                      const std::string& destination) = 0;
    // Clears, from the folder, what copies, removals and replacements left behind when their
    // process ended before they did: an item a replacement had moved aside goes back to its name
    // when nothing took its place, anything else is removed. Returns the paths it cleared.
    virtual std::vector<std::string> removeLeftoversOfEndedProcesses(const std::string& folder) = 0;
    virtual Status moveItem(const std::string& source, const std::string& destination) = 0;

    virtual std::optional<std::uint64_t> fileSize(const std::string& path) const = 0;
    virtual Status truncateFile(const std::string& path) = 0;
    // The item's permission bits (as 0644), absent when it does not exist; links are followed.
    virtual std::optional<unsigned> permissionsOfItem(const std::string& path) const = 0;
    virtual Status setPermissions(const std::string& path, unsigned permissions) = 0;

    virtual Result<std::string> contentsAtPath(const std::string& path) const = 0;
    // Plain write that replaces whatever was at the path.
    virtual Status writeContents(const std::string& path, const std::string& bytes) = 0;
    // Writes beside the destination and renames over it, so a process that dies leaves either
    // the old or the new contents, never a half-written file. The file is readable and writable
    // by its owner only (0600): what is written this way holds the customer's details. `durable`
    // also waits for the disk, so that holds across a power loss too; it costs a flush each time.
    virtual Status writeContentsAtomically(const std::string& path, const std::string& bytes,
                                           bool durable = true) = 0;
};

}  // namespace platform
