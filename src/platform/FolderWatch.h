#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

// Tells once, on the main thread, that something in a folder changed: a file in it written,
// created, removed, moved or given other attributes, or the folder itself removed or moved.
// It then stops watching. Destroying it stops the watch without a call.
class FolderWatch {
  public:
    virtual ~FolderWatch() = default;

    // Absent when the folder cannot be watched (it is missing, or the system's watches are
    // used up); the caller then looks for itself.
    static std::unique_ptr<FolderWatch> start(const std::string& folder,
                                              std::function<void()> changed);
};

}  // namespace platform
