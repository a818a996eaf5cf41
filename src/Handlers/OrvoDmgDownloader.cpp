#include "OrvoDmgDownloader.h"

#include <cstdint>
#include <mutex>

#include "../Objects/SessionDetails.h"
#include "../Product.h"
#include "../platform/DistributedNotifications.h"
#include "../platform/FileManager.h"
#include "../platform/Http.h"
#include "../platform/Log.h"
#include "../platform/NotificationCenter.h"
#include "../platform/SearchPaths.h"
#include "../platform/SystemVersion.h"
#include "../platform/Task.h"
#include "../platform/Volumes.h"
#include "../platform/Workspace.h"
#include "Logging.h"
#include "ProvisioningProgress.h"
#include "Utils.h"

namespace {

// An idle time-out: a line that keeps moving above the useful rate is never cut, however long
// the image takes; the provisioning turn is let go when the line stalls.
constexpr double kDownloadTimeout = 240;
// Far above any real image; only a server gone wrong sends more.
constexpr std::uint64_t kMaximumImageBytes = std::uint64_t(2) << 30;

void postSessionStatusFailure() {
    ProvisioningProgress::shared().failed();
    if (platform::Status posted = platform::DistributedNotifications::shared().post(
            "SendSessionStatusToTendraKelvane", {{"status", 0}});
        !posted) {
        logLine("%s : The session status could not be announced : %@",
                "-[OrvoDmgDownloader postSessionStatus]", posted.errorDescription());
    }
}

// Provisioning runs started close together share the image file, the volume and the folder:
// their install steps take turns.
std::mutex& installMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string describeArguments(const std::vector<std::string>& arguments) {
    std::string text = "(\n";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string escaped;
        for (char c : arguments[i]) {
            if (c == '"' || c == '\\') escaped += '\\';
            escaped += c;
        }
        text += "    \"" + escaped + "\"" + (i + 1 < arguments.size() ? ",\n" : "\n");
    }
    return text + ")";
}

}  // namespace

const std::vector<std::string>& OrvoDmgDownloader::launchArguments() {
    static const std::vector<std::string> arguments = {
        "-timestamps",
        R"({"M3":"Agent downloaded time : 00:00:00 | Server : CDN",)"
        R"("M2":"Session Validated : 00:00:00",)"
        R"("M1":"Join Launched time : 00:00:00","M4":"Agent launched time : 00:00:00"})"};
    return arguments;
}

const std::vector<std::string>& OrvoDmgDownloader::companionItems() {
    static const std::vector<std::string> items = {"Vellisk", "Quendar", "Brakkon",
                                                   "Fenwyl",  "Sardane", "Holmir"};
    return items;
}

std::string OrvoDmgDownloader::downloadedImagePath() {
    return Utils::conveloNativeFolderPath() + "OrvoMac.dmg";
}
std::string OrvoDmgDownloader::installedAgentPath() {
    return Utils::conveloNativeFolderPath() + "Orvo.app";
}
std::string OrvoDmgDownloader::agentVolumePath() {
    return platform::Volumes::shared().volumesRoot() + "/Orvo";
}

void OrvoDmgDownloader::startDownLoadingOrvoMacDmg() {
    static constexpr const char* kFunction = "-[OrvoDmgDownloader startDownLoadingOrvoMacDmg]";
    // The run's pass goes with the download and is let go when its last step ends.
    std::shared_ptr<void> pass = std::move(m_pass);
    guarded(kFunction, [&] {
        SessionDetails& session = SessionDetails::getInstance();
        std::string address =
            session.isCdnAvailable()
                ? session.cdnUrl().value_or("")
                : "https://" + session.webServerName().value_or("") + "/agent/OrvoMac.dmg";
        logLine("%s : Orvo Dmg Url : %@", kFunction, address);
        platform::SystemVersion system = platform::OperatingSystem::shared().version();
        logLine("%s : System version details %@", kFunction, system.productName);
        logLine("%s : System version : %@", kFunction, system.productVersion);

        platform::HttpRequest request;
        request.url = address;
        request.timeoutSeconds = kDownloadTimeout;
        request.maximumBodyBytes = kMaximumImageBytes;
        request.htmlMeansSignInPage = true;
        request.headers = {
            {"User-Agent", platform::format("%@ %@", system.productName, system.productVersion)}};
        request.progress = [](std::uint64_t received, std::optional<std::uint64_t> expected) {
            ProvisioningProgress::shared().downloadProgressed(received, expected);
        };
        std::string block = std::string(kFunction) + "_block_invoke";
        m_lastAddress = address;
        ProvisioningProgress::shared().downloadStarted();
        platform::HttpClient::shared().download(
            std::move(request), downloadedImagePath(),
            [self = shared_from_this(), block, pass](const platform::DownloadResult& result) {
                ProvisioningProgress::shared().downloadEnded();
                guarded(block.c_str(), [&] {
                    if (result.resumedFrom) {
                        logLine("%s : Download continued from byte %ld of the earlier try", block,
                                static_cast<long>(*result.resumedFrom));
                    }
                    if (result.error) {
                        ProvisioningProgress::shared().failed(result.failure);
                        logLine("%s : Download failed! Error - %@ %@", block, result.error,
                                self->lastAddress());
                        logLine("%s : Download failed! Whole Error - %@", block, result.error);
                        platform::NotificationCenter::defaultCenter().post("RetryDMGDownloadig");
                        return;
                    }
                    self->downloadFinished(result.location, block);
                });
            });
    });
}

void OrvoDmgDownloader::downloadFinished(const std::string& location, const std::string& block) {
    platform::FileManager& files = platform::FileManager::defaultManager();
    std::string destination = downloadedImagePath();
    (void)files.removeItem(destination);
    // The download lies beside its destination: moving it there is a rename.
    if (platform::Status copied = files.moveItem(location, destination); !copied) {
        logLine("%s : Error copying file to destination - %@", block, copied.errorDescription());
        return;
    }
    logLine("%s : Download finished successfully", block);
    mountingOrvoMacDmg();
}

void OrvoDmgDownloader::mountingOrvoMacDmg() {
    static constexpr const char* kFunction = "-[OrvoDmgDownloader mountingOrvoMacDmg]";
    bool completed = guarded(
        kFunction,
        [&] {
            std::lock_guard lock(installMutex());
            // Runs take turns, so a volume already there was left by a run that ended early; the
            // new image would mount beside it under another name while the copy reads the old one.
            if (platform::FileManager::defaultManager().fileExistsAtPath(agentVolumePath())) {
                logLine("%s : Detaching %@, left mounted by an earlier run", kFunction,
                        agentVolumePath());
                unMountingOrvoMacDmg();
            }
            platform::TaskResult mount = platform::Task::shared().run(
                Product::kDiskImageTool, {"mount", downloadedImagePath()}, false,
                kDiskToolTimeLimit);
            logLine("%s : dmg mount task termination status : %d", kFunction,
                    mount.terminationStatus);
            if (platform::FileManager::defaultManager().fileExistsAtPath(
                    platform::SearchPaths::shared().homeDirectory() +
                    "/Library/Application Support/ConveloNative/Orvo.app")) {
                return true;
            }
            copyAppFileAndLaunch();
            unMountingOrvoMacDmg();
            return true;
        },
        false);
    if (!completed) postSessionStatusFailure();
}

void OrvoDmgDownloader::copyAppFileAndLaunch() {
    static constexpr const char* kFunction = "-[OrvoDmgDownloader copyAppFileAndLaunch]";
    bool completed = guarded(
        kFunction,
        [&] {
            platform::FileManager& files = platform::FileManager::defaultManager();
            if (!files.directoryExistsAtPath(Utils::conveloNativeFolderPath()))
                (void)files.createDirectory(Utils::conveloNativeFolderPath(), true);
            std::string volume = agentVolumePath();
            // Copies are made beside their destination and swapped in whole, so a copy cut
            // short (a full disk) leaves nothing that could be launched or read half-written.
            platform::ReplaceResult agent =
                files.replaceItem(volume + "/Orvo.app", installedAgentPath());
            if (agent.status) {
                logLine("%s : Orvo.app file copied", kFunction);
            } else {
                logLine("%s : Orvo.app could not be copied : %@", kFunction,
                        agent.status.errorDescription());
            }
            if (!agent.status || !workspaceLaunchApplication(installedAgentPath())) {
                platform::NSLog("orvo app file not launched");
                postSessionStatusFailure();
            } else {
                logLine("%s : App Path : %@ orvo app file launched!", kFunction,
                        installedAgentPath());
                static constexpr const char* kCopiedLines[] = {
                    "%s : Vellisk file copied", "%s : Quendar file copied",
                    "%s :Brakkon file copied",  "%s :Fenwyl file copied",
                    "%s :Sardane file copied",  "%s :Holmir file copied"};
                for (std::size_t i = 0; i < companionItems().size(); ++i) {
                    const std::string& item = companionItems()[i];
                    // An item an earlier run left (maybe empty, after a full disk) is replaced.
                    platform::ReplaceResult copied = files.replaceItem(
                        volume + "/" + item, Utils::conveloNativeFolderPath() + item);
                    if (copied.status) {
                        logLine(kCopiedLines[i], kFunction);
                    } else if (files.fileExistsAtPath(volume + "/" + item)) {
                        logLine("%s : %@ could not be copied : %@", kFunction, item,
                                copied.status.errorDescription());
                    }
                }
            }
            if (files.fileExistsAtPath(downloadedImagePath()))
                (void)files.removeItem(downloadedImagePath());
            unMountingOrvoMacDmg();
            return true;
        },
        false);
    if (!completed) postSessionStatusFailure();
}

void OrvoDmgDownloader::unMountingOrvoMacDmg() {
    static constexpr const char* kFunction = "-[OrvoDmgDownloader unMountingOrvoMacDmg]";
    guarded(kFunction, [&] {
        platform::TaskResult detach = platform::Task::shared().run(
            Product::kDiskImageTool, {"detach", agentVolumePath()}, false, kDiskToolTimeLimit);
        logLine("%s : Dmg unmount task termination status : %d", kFunction,
                detach.terminationStatus);
    });
}

bool OrvoDmgDownloader::workspaceLaunchApplication(const std::string& path) {
    static constexpr const char* kFunction = "-[OrvoDmgDownloader workspaceLaunchApplication:]";
    try {
        std::string name = path.substr(path.find_last_of('/') + 1);
        // As the desktop brings a running application forward instead of starting it twice,
        // one agent serves every join.
        if (auto running = platform::Workspace::shared().runningApplicationProcess(path)) {
            logLine("%s : LaunchApplication: %@ is already running (process %d); not started again",
                    kFunction, name, *running);
            return true;
        }
        if (platform::Status started =
                platform::Workspace::shared().launchApplication(path, launchArguments());
            !started) {
            logLine("%s : LaunchApplication: %@ could not be started : %@", kFunction, name,
                    started.errorDescription());
            return false;
        }
        logLine("%s : LaunchApplication: %@ launched successfully with args : %@", kFunction, name,
                describeArguments(launchArguments()));
        return true;
    } catch (const std::exception& exception) {
        logException(kFunction, exception.what());
        postSessionStatusFailure();
        return true;
    }
}
