#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../platform/Http.h"
#include "../platform/Task.h"

// The steps every disk image this application handles goes through, with the limits they
// share: the agent's image and this application's update take the same path from their
// address to a detached volume. The caller names its own operations, so each keeps its own
// log lines; the steps and their order are the same for both.
//
//   download -> move into place -> mount -> (the caller copies from the volume) -> detach
class DiskImagePipeline {
  public:
    struct Download {
        std::string address;
        std::string imagePath;  // where the image lies until it is mounted
        // The completion's operation name: "<the step that started it>_block_invoke".
        std::string block;
        // The first failure line, with the error and the address for its two values.
        const char* failedLine = "%s : Download failed! Error - %@ %@";
        std::vector<std::pair<std::string, std::string>> headers;
        std::function<void(std::uint64_t received, std::optional<std::uint64_t> expected)> progress;
        // Runs first on the completion thread, however the download ended.
        std::function<void()> ended;
        // Runs before the failure lines, with the result that failed.
        std::function<void(const platform::DownloadResult&)> failed;
        // Runs with the downloaded body's location, valid while it runs.
        std::function<void(const std::string& location)> downloaded;
    };

    // Returns at once; the rest runs on the download's completion thread. A download that
    // continues an earlier, broken one says so first; a failed one logs the failure line and the
    // whole error and asks for a retry.
    static void download(Download download);

    // Moves a downloaded body to the image path (a rename: the body lies beside it); logs the
    // outcome under `block`. False when the image is not in place.
    static bool placeImage(const std::string& location, const std::string& imagePath,
                           const std::string& block);

    // The disk-image tool's mount and detach, each bounded by the tool's time limit. A mount
    // that captures its output can be asked for its mount point.
    static platform::TaskResult mount(const std::string& imagePath, bool captureOutput);
    static platform::TaskResult detach(const std::string& mountPoint, bool captureOutput);

    // Removes the image once its volume has given up what it holds.
    static void removeImage(const std::string& imagePath);

    DiskImagePipeline() = delete;
};
