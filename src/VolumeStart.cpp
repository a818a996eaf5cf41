#include "VolumeStart.h"

#include <cstdio>
#include <filesystem>

#include "Handlers/KelvanePaths.h"
#include "Product.h"
#include "StartRequest.h"
#include "platform/Bundle.h"
#include "platform/FileManager.h"
#include "platform/Process.h"
#include "platform/Volumes.h"

namespace {

namespace fs = std::filesystem;

// Whether `folder` is a mounted Kelvane volume that the volume search takes requests from.
bool isKelvaneVolume(const std::string& folder) {
    if (folder.find(Product::kVolumeName) == std::string::npos) return false;
    platform::Volumes& volumes = platform::Volumes::shared();
    for (const std::string& volume : volumes.mountedVolumePaths()) {
        if (volume != folder) continue;
        auto info = volumes.fileSystemInfo(volume);
        return info && info->removable && info->unmountable;
    }
    return false;
}

// Copies of processes that have ended are of no further use.
void removeCopiesOfEndedProcesses(const std::string& copies) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(copies, ec)) {
        std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos ||
            name.size() > 9) {
            continue;
        }
        if (!platform::Process::isAlive(std::stoi(name)))
            (void)platform::FileManager::defaultManager().removeItem(entry.path().string());
    }
}

}  // namespace

std::optional<std::string> VolumeStart::kelvaneVolumeOf(const std::string& bundlePath) {
    std::string folder = fs::path(bundlePath).parent_path().string();
    if (!platform::FileManager::defaultManager().fileExistsAtPath(
            folder + "/" + Product::kConfigurationFileName) ||
        !isKelvaneVolume(folder))
        return std::nullopt;
    return folder;
}

void VolumeStart::removeCopyOfThisProcess(const std::string& bundlePath) {
    std::string own =
        KelvanePaths::volumeStartCopies() + "/" + std::to_string(platform::Process::id());
    if (fs::path(bundlePath).parent_path() == fs::path(own))
        (void)platform::FileManager::defaultManager().removeItem(own);
}

std::optional<std::string> VolumeStart::executableInstead(const std::string& bundlePath) {
    auto volume = kelvaneVolumeOf(bundlePath);
    if (!volume) return std::nullopt;
    platform::FileManager& files = platform::FileManager::defaultManager();

    std::string copies = KelvanePaths::volumeStartCopies();
    removeCopiesOfEndedProcesses(copies);
    // Named after this process, which keeps its id across the hand-over to the copy.
    std::string own = copies + "/" + std::to_string(platform::Process::id());
    std::string copy = own + "/" + Product::kBundleName;
    (void)files.removeItem(own);
    platform::Status made = files.createDirectory(own, true);
    if (made) made = files.copyItem(bundlePath, copy);
    auto bundle = made ? platform::Bundle::bundleWithPath(copy) : std::nullopt;
    auto executable = bundle ? bundle->executablePath() : std::nullopt;
    if (!executable) {
        std::fprintf(stderr,
                     "%s: cannot copy the application off its volume (%s); it runs from there.\n",
                     Product::kDisplayName,
                     made ? "the copy cannot be run" : made.errorDescription().c_str());
        (void)files.removeItem(own);
        return std::nullopt;
    }
    platform::Process::setEnvironmentVariable(StartRequest::kFromVolumeVariable, *volume);
    return executable;
}
