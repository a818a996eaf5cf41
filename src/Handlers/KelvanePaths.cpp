#include "KelvanePaths.h"

#include "../Product.h"
#include "../platform/Format.h"
#include "../platform/SearchPaths.h"
#include "../platform/Volumes.h"

namespace {

std::string applicationSupport() {
    return platform::SearchPaths::shared().homeDirectory() + "/Library/Application Support/";
}

}  // namespace

std::string KelvanePaths::orvoKelvaneNativeFolder() {
    return applicationSupport() + "OrvoKelvaneNativeFolder/";
}

std::string KelvanePaths::conveloNativeFolder() {
    return applicationSupport() + "ConveloNative/";
}

std::string KelvanePaths::orvoTendraLogsFolder() {
    return platform::SearchPaths::shared().userLibraryDirectory() + "/Logs/OrvoTendra";
}

std::string KelvanePaths::orvoKelvaneLogFolder() {
    // Spelled with a doubled slash, as the log folder always has been; the file system reads
    // it as one.
    return platform::SearchPaths::shared().userLibraryDirectory() +
           "/Logs//OrvoTendra/OrvoKelvane/";
}

std::string KelvanePaths::connectionSettingsFile() {
    return orvoTendraLogsFolder() + "/ConnectionSettings.plist";
}

std::string KelvanePaths::joinDetailsFile() {
    return conveloNativeFolder() + "orvojoindetails.conf";
}

std::string KelvanePaths::infoPlistFile() {
    // Written as "Info.plist" and read as "info.plist" on a case-insensitive file system; on a
    // case-sensitive one both must name the same file, so there is only this one.
    return orvoKelvaneNativeFolder() + "Info.plist";
}

std::string KelvanePaths::preferencesPlistFile() {
    return platform::format("%@/%@.plist", orvoKelvaneNativeFolder(), Product::kApplicationId);
}

std::string KelvanePaths::installedAgent() {
    return conveloNativeFolder() + "Orvo.app";
}

std::string KelvanePaths::installedAgentAsJoined() {
    return conveloNativeFolder() + "/Orvo.app";
}

std::string KelvanePaths::agentImage() {
    return conveloNativeFolder() + "OrvoMac.dmg";
}

std::string KelvanePaths::agentVolume() {
    return platform::Volumes::shared().volumesRoot() + "/Orvo";
}

std::string KelvanePaths::stagedBundle() {
    return orvoKelvaneNativeFolder() + Product::kBundleName;
}

std::string KelvanePaths::stagedBundleCopy() {
    return orvoKelvaneNativeFolder() + "." + Product::kBundleName + ".staging";
}

std::string KelvanePaths::updateImage() {
    return orvoKelvaneNativeFolder() + "OrvoTendraKelvane.dmg";
}

std::string KelvanePaths::updateVolumeBundle() {
    return platform::Volumes::shared().volumesRoot() + "/" + Product::kVolumeName + "/" +
           Product::kBundleName;
}

std::string KelvanePaths::installedApplication() {
    return platform::SearchPaths::shared().userApplicationsDirectory() + "/" + Product::kBundleName;
}

std::string KelvanePaths::volumeStartCopies() {
    return platform::format("%@/Caches/%@/VolumeStart",
                            platform::SearchPaths::shared().userLibraryDirectory(),
                            Product::kApplicationId);
}
