#include "OrvoKelvaneUpdater.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "../Objects/SessionDetails.h"
#include "../Product.h"
#include "../platform/FileManager.h"
#include "../platform/Http.h"
#include "../platform/NotificationCenter.h"
#include "../platform/SearchPaths.h"
#include "../platform/Task.h"
#include "../platform/Volumes.h"
#include "Logging.h"
#include "ServerAnswers.h"
#include "Utils.h"

namespace {

// An idle time-out: a line that keeps moving above the useful rate is never cut.
constexpr double kDownloadTimeout = 240;
// Far above any real image; only a server gone wrong sends more.
constexpr std::uint64_t kMaximumImageBytes = std::uint64_t(2) << 30;

// Counts staging runs that are between downloading and detaching, so the exit step can wait
// for them instead of installing a half-copied bundle. `turn` lets one run at a time own the
// image, the volume and the staged bundle: a second check that reports an update while a
// run stages (a restored connection at start-up does that) would otherwise remove the image
// and the bundle from under the first, and leave nothing staged.
struct StagingRuns {
    std::mutex mutex;
    std::condition_variable settled;
    int active = 0;
    std::mutex turn;
};

StagingRuns& stagingRuns() {
    static StagingRuns* runs = new StagingRuns();  // used until the very end of the process
    return *runs;
}

}  // namespace

OrvoKelvaneUpdater::StagingRun::StagingRun() {
    std::lock_guard lock(stagingRuns().mutex);
    ++stagingRuns().active;
}

OrvoKelvaneUpdater::StagingRun::~StagingRun() {
    {
        std::lock_guard lock(stagingRuns().mutex);
        --stagingRuns().active;
    }
    stagingRuns().settled.notify_all();
}

std::shared_ptr<OrvoKelvaneUpdater> OrvoKelvaneUpdater::getInstance() {
    static std::mutex classLock;
    std::lock_guard lock(classLock);
    std::shared_ptr<OrvoKelvaneUpdater> updater(new OrvoKelvaneUpdater());
    logLine("%s : Update Info Object Allocated", "+[OrvoKelvaneUpdater getInstance]");
    return updater;
}

std::string OrvoKelvaneUpdater::stagedBundlePath() {
    return Utils::orvoKelvaneNativeFolderPath() + Product::kBundleName;
}
std::string OrvoKelvaneUpdater::downloadedImagePath() {
    return Utils::orvoKelvaneNativeFolderPath() + "OrvoTendraKelvane.dmg";
}

bool OrvoKelvaneUpdater::waitForStagingToSettle(std::chrono::milliseconds limit) {
    std::unique_lock lock(stagingRuns().mutex);
    return stagingRuns().settled.wait_for(lock, limit, [] { return stagingRuns().active == 0; });
}

void OrvoKelvaneUpdater::checkOrvoKelvaneUpdate() {
    static constexpr const char* kFunction = "-[OrvoKelvaneUpdater checkOrvoKelvaneUpdate]";
    guarded(kFunction, [&] {
        if (SessionDetails::getInstance().kelvaneUpdateNeeded()) {
            downloadKelvanedmg();
        } else {
            logLine("%s Orvo Tendra Kelvane has Latest Version.", kFunction);
        }
    });
}

void OrvoKelvaneUpdater::downloadKelvanedmg() {
    static constexpr const char* kFunction = "-[OrvoKelvaneUpdater downloadKelvanedmg]";
    guarded(kFunction, [&] {
        platform::FileManager& files = platform::FileManager::defaultManager();
        if (!files.directoryExistsAtPath(Utils::orvoKelvaneNativeFolderPath()))
            (void)files.createDirectory(Utils::orvoKelvaneNativeFolderPath(), true);
        SessionDetails& session = SessionDetails::getInstance();
        std::string address = session.kelvaneDownloadUrl().value_or(
            "https://" + session.webServerName().value_or("") + "/agent/OrvoTendraKelvane.dmg");
        logLine("%s : Orvo Kelvane Dmg Url : %@", kFunction, address);

        platform::HttpRequest request;
        request.url = address;
        request.timeoutSeconds = kDownloadTimeout;
        request.maximumBodyBytes = kMaximumImageBytes;
        request.htmlMeansSignInPage = true;
        std::string block = std::string(kFunction) + "_block_invoke";
        platform::HttpClient::shared().download(
            std::move(request), downloadedImagePath(),
            [self = shared_from_this(), block, address](const platform::DownloadResult& result) {
                guarded(block.c_str(), [&] {
                    if (result.resumedFrom) {
                        logLine("%s : Download continued from byte %ld of the earlier try", block,
                                static_cast<long>(*result.resumedFrom));
                    }
                    if (result.error) {
                        logLine("%s : Download failed! Error - %@ %@ ", block, result.error,
                                address);
                        logLine("%s : Download failed! Whole Error - %@", block, result.error);
                        platform::NotificationCenter::defaultCenter().post("RetryDMGDownloadig");
                        return;
                    }
                    // From here to the detach the exit step waits for this run, also while
                    // it waits for its turn.
                    StagingRun run;
                    std::lock_guard turn(stagingRuns().turn);
                    platform::FileManager& fileManager = platform::FileManager::defaultManager();
                    std::string image = downloadedImagePath();
                    (void)fileManager.removeItem(image);
                    // The download lies beside its destination: moving it there is a rename.
                    platform::Status copied = fileManager.moveItem(result.location, image);
                    if (!copied) {
                        logLine("%s : Error copying file to destination - %@", block,
                                copied.errorDescription());
                        return;
                    }
                    logLine("%s : Download finished successfully", block);
                    self->mountingOrvoKelvaneDmg();
                });
            });
    });
}

void OrvoKelvaneUpdater::mountingOrvoKelvaneDmg() {
    static constexpr const char* kFunction = "-[OrvoKelvaneUpdater mountingOrvoKelvaneDmg]";
    // This step reports an exception in a short line of its own.
    try {
        platform::TaskResult mount = platform::Task::shared().run(
            Product::kDiskImageTool, {"mount", downloadedImagePath()}, true, kDiskToolTimeLimit);
        m_latestKelvaneDmgPath = mountPointFromToolOutput(mount.standardOutput);
        copyAppFile();
    } catch (const std::exception& exception) {
        logLine("%s : Exception: %@", kFunction, exception.what());
    } catch (...) {
        logLine("%s : Exception: %@", kFunction, "unknown exception");
    }
}

void OrvoKelvaneUpdater::copyAppFile() {
    static constexpr const char* kFunction = "-[OrvoKelvaneUpdater copyAppFile]";
    guarded(kFunction, [&] {
        platform::FileManager& files = platform::FileManager::defaultManager();
        std::string staged = stagedBundlePath();
        if (files.fileExistsAtPath(staged)) {
            if (files.removeItem(staged)) {
                logLine("%s : Existing Updated Orvo Kelvane Removed in folder %@", kFunction,
                        Utils::orvoKelvaneNativeFolderPath());
            }
        } else {
            logLine("%s : No Existing Updated Orvo Kelvane Present in folder %@", kFunction,
                    Utils::orvoKelvaneNativeFolderPath());
        }
        // Copied under another name and renamed, so the staged path never holds half a bundle.
        std::string source = platform::Volumes::shared().volumesRoot() + "/" +
                             Product::kVolumeName + "/" + Product::kBundleName;
        std::string copying =
            Utils::orvoKelvaneNativeFolderPath() + "." + Product::kBundleName + ".staging";
        if (files.fileExistsAtPath(copying)) (void)files.removeItem(copying);
        if (files.copyItem(source, copying) && files.moveItem(copying, staged)) {
            SessionDetails::getInstance().setIsAppReplaceFlag(true);
            logLine("%s : Orvo Tendra Kelvane.app file copied to  OrvoKelvaneNative folder",
                    kFunction);
        } else {
            (void)files.removeItem(copying);
        }
        unMountingOrvoKelvaneDmg();
        if (files.fileExistsAtPath(downloadedImagePath()))
            (void)files.removeItem(downloadedImagePath());
    });
}

void OrvoKelvaneUpdater::unMountingOrvoKelvaneDmg() {
    static constexpr const char* kFunction = "-[OrvoKelvaneUpdater unMountingOrvoKelvaneDmg]";
    guarded(kFunction, [&] {
        if (m_latestKelvaneDmgPath) {
            platform::TaskResult detach = platform::Task::shared().run(
                Product::kDiskImageTool, {"detach", *m_latestKelvaneDmgPath}, true,
                kDiskToolTimeLimit);
            logLine("%s : Dmg unmount task termination status : %d", kFunction,
                    detach.terminationStatus);
            m_latestKelvaneDmgPath.reset();
        } else {
            logLine("%s : No Kelvane DMG is mounted to unmount", kFunction);
        }
    });
}
