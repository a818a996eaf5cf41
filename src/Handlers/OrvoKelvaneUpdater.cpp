#include "OrvoKelvaneUpdater.h"

#include <condition_variable>
#include <mutex>

#include "../Objects/SessionDetails.h"
#include "../platform/FileManager.h"
#include "DiskImagePipeline.h"
#include "ImageTurn.h"
#include "KelvanePaths.h"
#include "Logging.h"
#include "ServerAnswers.h"

namespace {

// Counts staging runs that are between downloading and detaching, so the exit step can wait
// for them instead of installing a half-copied bundle.
struct StagingRuns {
    std::mutex mutex;
    std::condition_variable settled;
    int active = 0;
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
        const std::string folder = KelvanePaths::orvoKelvaneNativeFolder();
        if (!files.directoryExistsAtPath(folder)) (void)files.createDirectory(folder, true);
        SessionDetails& session = SessionDetails::getInstance();
        std::string address = session.kelvaneDownloadUrl().value_or(
            "https://" + session.webServerName().value_or("") + "/agent/OrvoTendraKelvane.dmg");
        logLine("%s : Orvo Kelvane Dmg Url : %@", kFunction, address);

        DiskImagePipeline::Download download;
        download.address = address;
        download.imagePath = KelvanePaths::updateImage();
        download.block = std::string(kFunction) + "_block_invoke";
        download.failedLine = "%s : Download failed! Error - %@ %@ ";
        download.downloaded = [self = shared_from_this(),
                               block = download.block](const std::string& location) {
            // From here to the detach the exit step waits for this run, also while it waits
            // for its turn: a second check that reports an update while a run stages (a
            // restored connection at start-up does that) would otherwise remove the image and
            // the bundle from under the first, and leave nothing staged.
            StagingRun run;
            ImageTurn::Pass turn = ImageTurn::take(ImageTurn::Image::stagedUpdate);
            if (DiskImagePipeline::placeImage(location, KelvanePaths::updateImage(), block))
                self->mountingOrvoKelvaneDmg();
        };
        DiskImagePipeline::download(std::move(download));
    });
}

void OrvoKelvaneUpdater::mountingOrvoKelvaneDmg() {
    static constexpr const char* kFunction = "-[OrvoKelvaneUpdater mountingOrvoKelvaneDmg]";
    // This step reports an exception in a short line of its own.
    guarded(
        kFunction,
        [&] {
            platform::TaskResult mount =
                DiskImagePipeline::mount(KelvanePaths::updateImage(), true);
            m_latestKelvaneDmgPath = mountPointFromToolOutput(mount.standardOutput);
            copyAppFile();
        },
        ShortExceptionLine{});
}

void OrvoKelvaneUpdater::copyAppFile() {
    static constexpr const char* kFunction = "-[OrvoKelvaneUpdater copyAppFile]";
    guarded(kFunction, [&] {
        platform::FileManager& files = platform::FileManager::defaultManager();
        const std::string folder = KelvanePaths::orvoKelvaneNativeFolder();
        const std::string staged = KelvanePaths::stagedBundle();
        if (files.fileExistsAtPath(staged)) {
            if (files.removeItem(staged)) {
                logLine("%s : Existing Updated Orvo Kelvane Removed in folder %@", kFunction,
                        folder);
            }
        } else {
            logLine("%s : No Existing Updated Orvo Kelvane Present in folder %@", kFunction,
                    folder);
        }
        // Copied under another name and renamed, so the staged path never holds half a bundle.
        const std::string source = KelvanePaths::updateVolumeBundle();
        const std::string copying = KelvanePaths::stagedBundleCopy();
        if (files.fileExistsAtPath(copying)) (void)files.removeItem(copying);
        if (files.copyItem(source, copying) && files.moveItem(copying, staged)) {
            SessionDetails::getInstance().setIsAppReplaceFlag(true);
            logLine("%s : Orvo Tendra Kelvane.app file copied to  OrvoKelvaneNative folder",
                    kFunction);
        } else {
            (void)files.removeItem(copying);
        }
        unMountingOrvoKelvaneDmg();
        DiskImagePipeline::removeImage(KelvanePaths::updateImage());
    });
}

void OrvoKelvaneUpdater::unMountingOrvoKelvaneDmg() {
    static constexpr const char* kFunction = "-[OrvoKelvaneUpdater unMountingOrvoKelvaneDmg]";
    guarded(kFunction, [&] {
        if (m_latestKelvaneDmgPath) {
            platform::TaskResult detach = DiskImagePipeline::detach(*m_latestKelvaneDmgPath, true);
            logLine("%s : Dmg unmount task termination status : %d", kFunction,
                    detach.terminationStatus);
            m_latestKelvaneDmgPath.reset();
        } else {
            logLine("%s : No Kelvane DMG is mounted to unmount", kFunction);
        }
    });
}
