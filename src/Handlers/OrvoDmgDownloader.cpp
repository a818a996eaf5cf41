#include "OrvoDmgDownloader.h"

#include <cstdint>

#include "../Objects/SessionDetails.h"
#include "../platform/DistributedNotifications.h"
#include "../platform/FileManager.h"
#include "../platform/SystemVersion.h"
#include "../platform/Workspace.h"
#include "DiskImagePipeline.h"
#include "ImageTurn.h"
#include "KelvanePaths.h"
#include "Logging.h"
#include "ProvisioningProgress.h"

namespace {

void postSessionStatusFailure() {
    ProvisioningProgress::shared().failed();
    if (platform::Status posted = platform::DistributedNotifications::shared().post(
            "SendSessionStatusToTendraKelvane", {{"status", 0}});
        !posted) {
        logLine("%s : The session status could not be announced : %@",
                "-[OrvoDmgDownloader postSessionStatus]", posted.errorDescription());
    }
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

void OrvoDmgDownloader::startDownLoadingOrvoMacDmg() {
    static constexpr const char* kFunction = "-[OrvoDmgDownloader startDownLoadingOrvoMacDmg]";
    // The run's turn goes with the download and is let go when its last step ends.
    ImageTurn::Pass turn = std::move(m_turn);
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

        DiskImagePipeline::Download download;
        download.address = address;
        download.imagePath = KelvanePaths::agentImage();
        download.block = std::string(kFunction) + "_block_invoke";
        download.headers = {
            {"User-Agent", platform::format("%@ %@", system.productName, system.productVersion)}};
        download.progress = [](std::uint64_t received, std::optional<std::uint64_t> expected) {
            ProvisioningProgress::shared().downloadProgressed(received, expected);
        };
        download.ended = [] { ProvisioningProgress::shared().downloadEnded(); };
        download.failed = [](const platform::DownloadResult& result) {
            ProvisioningProgress::shared().failed(*result.failure);
        };
        download.downloaded = [self = shared_from_this(), block = download.block,
                               turn](const std::string& location) {
            if (DiskImagePipeline::placeImage(location, KelvanePaths::agentImage(), block))
                self->mountingOrvoMacDmg();
        };
        ProvisioningProgress::shared().downloadStarted();
        DiskImagePipeline::download(std::move(download));
    });
}

void OrvoDmgDownloader::mountingOrvoMacDmg() {
    static constexpr const char* kFunction = "-[OrvoDmgDownloader mountingOrvoMacDmg]";
    bool completed = guarded(
        kFunction,
        [&] {
            // Runs take turns, so a volume already there was left by a run that ended early; the
            // new image would mount beside it under another name while the copy reads the old one.
            if (platform::FileManager::defaultManager().fileExistsAtPath(
                    KelvanePaths::agentVolume())) {
                logLine("%s : Detaching %@, left mounted by an earlier run", kFunction,
                        KelvanePaths::agentVolume());
                unMountingOrvoMacDmg();
            }
            platform::TaskResult mount =
                DiskImagePipeline::mount(KelvanePaths::agentImage(), false);
            logLine("%s : dmg mount task termination status : %d", kFunction,
                    mount.terminationStatus);
            if (platform::FileManager::defaultManager().fileExistsAtPath(
                    KelvanePaths::installedAgent())) {
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
            const std::string folder = KelvanePaths::conveloNativeFolder();
            if (!files.directoryExistsAtPath(folder)) (void)files.createDirectory(folder, true);
            const std::string volume = KelvanePaths::agentVolume();
            const std::string agentPath = KelvanePaths::installedAgent();
            // Copies are made beside their destination and swapped in whole, so a copy cut
            // short (a full disk) leaves nothing that could be launched or read half-written.
            platform::ReplaceResult agent = files.replaceItem(volume + "/Orvo.app", agentPath);
            if (agent.status) {
                logLine("%s : Orvo.app file copied", kFunction);
            } else {
                logLine("%s : Orvo.app could not be copied : %@", kFunction,
                        agent.status.errorDescription());
            }
            if (!agent.status || !workspaceLaunchApplication(agentPath)) {
                logLine("orvo app file not launched");
                postSessionStatusFailure();
            } else {
                logLine("%s : App Path : %@ orvo app file launched!", kFunction, agentPath);
                static constexpr const char* kCopiedLines[] = {
                    "%s : Vellisk file copied", "%s : Quendar file copied",
                    "%s :Brakkon file copied",  "%s :Fenwyl file copied",
                    "%s :Sardane file copied",  "%s :Holmir file copied"};
                for (std::size_t i = 0; i < companionItems().size(); ++i) {
                    const std::string& item = companionItems()[i];
                    // A copy never overwrites: what is there already stays as it is. The copy
                    // is made beside and renamed, so a full disk leaves no half-written item.
                    std::string destination = folder + item;
                    bool existed = files.fileExistsAtPath(destination);
                    platform::Status copied = files.copyItem(volume + "/" + item, destination);
                    if (copied) {
                        logLine(kCopiedLines[i], kFunction);
                    } else if (!existed && files.fileExistsAtPath(volume + "/" + item)) {
                        logLine("%s : %@ could not be copied : %@", kFunction, item,
                                copied.errorDescription());
                    }
                }
            }
            DiskImagePipeline::removeImage(KelvanePaths::agentImage());
            unMountingOrvoMacDmg();
            return true;
        },
        false);
    if (!completed) postSessionStatusFailure();
}

void OrvoDmgDownloader::unMountingOrvoMacDmg() {
    static constexpr const char* kFunction = "-[OrvoDmgDownloader unMountingOrvoMacDmg]";
    guarded(kFunction, [&] {
        platform::TaskResult detach = DiskImagePipeline::detach(KelvanePaths::agentVolume(), false);
        logLine("%s : Dmg unmount task termination status : %d", kFunction,
                detach.terminationStatus);
    });
}

bool OrvoDmgDownloader::workspaceLaunchApplication(const std::string& path) {
    static constexpr const char* kFunction = "-[OrvoDmgDownloader workspaceLaunchApplication:]";
    // A launch that throws has been asked for; the failure status says it did not happen.
    auto launchFailed = [](const char* function, const char* description) {
        logException(function, description);
        postSessionStatusFailure();
    };
    return guarded(
        kFunction,
        [&] {
            std::string name = path.substr(path.find_last_of('/') + 1);
            // As the desktop brings a running application forward instead of starting it twice,
            // one agent serves every join.
            if (auto running = platform::Workspace::shared().runningApplicationProcess(path)) {
                logLine(
                    "%s : LaunchApplication: %@ is already running (process %d); not started "
                    "again",
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
            logLine("%s : LaunchApplication: %@ launched successfully with args : %@", kFunction,
                    name, describeArguments(launchArguments()));
            return true;
        },
        true, launchFailed);
}
