#include "DiskImagePipeline.h"

#include "../Product.h"
#include "../platform/FileManager.h"
#include "../platform/NotificationCenter.h"
#include "KelvanePaths.h"
#include "Logging.h"

void DiskImagePipeline::download(Download download) {
    platform::HttpRequest request;
    request.url = download.address;
    request.timeoutSeconds = kImageDownloadIdleSeconds;
    request.maximumBodyBytes = kMaximumImageBytes;
    // A network's sign-in page answers an image's address with a page, not an image.
    request.expectedBody = platform::ExpectedBody::diskImage;
    request.headers = std::move(download.headers);
    request.progress = std::move(download.progress);
    std::string imagePath = download.imagePath;
    platform::HttpClient::shared().download(
        std::move(request), imagePath,
        [steps = std::move(download)](const platform::DownloadResult& result) {
            if (steps.ended) steps.ended();
            const std::string& block = steps.block;
            guarded(block.c_str(), [&] {
                if (result.resumedFrom) {
                    logLine("%s : Download continued from byte %ld of the earlier try", block,
                            static_cast<long>(*result.resumedFrom));
                }
                if (result.failure) {
                    if (steps.failed) steps.failed(result);
                    const std::string& why = result.failure->description;
                    logLine(steps.failedLine, block, why, steps.address);
                    logLine("%s : Download failed! Whole Error - %@", block, why);
                    platform::NotificationCenter::defaultCenter().post("RetryDMGDownloadig");
                    return;
                }
                if (steps.downloaded) steps.downloaded(result.location);
            });
        });
}

bool DiskImagePipeline::placeImage(const std::string& location, const std::string& imagePath,
                                   const std::string& block) {
    platform::FileManager& files = platform::FileManager::defaultManager();
    (void)files.removeItem(imagePath);
    if (platform::Status moved = files.moveItem(location, imagePath); !moved) {
        logLine("%s : Error copying file to destination - %@", block, moved.errorDescription());
        return false;
    }
    logLine("%s : Download finished successfully", block);
    return true;
}

platform::TaskResult DiskImagePipeline::mount(const std::string& imagePath, bool captureOutput) {
    return platform::Task::shared().run(Product::kDiskImageTool, {"mount", imagePath},
                                        captureOutput, kDiskToolTimeLimit);
}

platform::TaskResult DiskImagePipeline::detach(const std::string& mountPoint, bool captureOutput) {
    return platform::Task::shared().run(Product::kDiskImageTool, {"detach", mountPoint},
                                        captureOutput, kDiskToolTimeLimit);
}

void DiskImagePipeline::removeImage(const std::string& imagePath) {
    platform::FileManager& files = platform::FileManager::defaultManager();
    if (files.fileExistsAtPath(imagePath)) (void)files.removeItem(imagePath);
}
