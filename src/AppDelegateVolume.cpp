// AppDelegate: finding the Kelvane volume, taking over its configuration file and installing
// the application from it.

#include <algorithm>
#include <filesystem>

#include "AppDelegate.h"
#include "Handlers/KelvaneConfiguration.h"
#include "Handlers/Logging.h"
#include "Handlers/MenuEntryWriter.h"
#include "Handlers/Utils.h"
#include "Product.h"
#include "StartRequest.h"
#include "platform/Bundle.h"
#include "platform/FileManager.h"
#include "platform/Preferences.h"
#include "platform/PropertyList.h"
#include "platform/SearchPaths.h"
#include "platform/Text.h"
#include "platform/Url.h"
#include "platform/Volumes.h"

namespace {

// A configuration file holds three short values; anything far larger is not one.
constexpr std::size_t kMaximumConfigurationBytes = 64 * 1024;

std::string trueFalse(bool value) {
    return value ? "true" : "false";
}

std::string describeUrls(const std::vector<std::string>& folders) {
    std::string text = "(\n";
    for (std::size_t i = 0; i < folders.size(); ++i) {
        text += "    \"" + platform::Url::fileUrl(folders[i], true) + "\"" +
                (i + 1 < folders.size() ? ",\n" : "\n");
    }
    return text + ")";
}

void removeDefault(platform::Preferences& defaults, const char* key) {
    if (defaults.objectForKey(key)) {
        defaults.removeObjectForKey(key);
        defaults.synchronize();
    }
}

}  // namespace

std::vector<std::string> AppDelegate::getKelvaneVolumePath() {
    namespace fs = std::filesystem;
    std::string bundleFolder = fs::path(platform::Bundle::mainBundlePath()).parent_path().string();
    printLine("getKelvaneVolumePath() : Application folder : " +
              platform::SearchPaths::shared().localApplicationsDirectory());

    std::string configuration = bundleFolder + "/" + Product::kConfigurationFileName;
    std::string application = bundleFolder + "/" + Product::kBundleName;
    platform::FileManager& files = platform::FileManager::defaultManager();
    if (files.fileExistsAtPath(configuration)) {
        printLine("getKelvaneVolumePath() : Configuration file lies beside the application : " +
                  configuration);
        return {};
    }

    std::vector<std::string> volumes = platform::Volumes::shared().mountedVolumePaths();
    if (volumes.empty()) {
        printLine("getKelvaneVolumePath() : No mounted volumes found");
        return {};
    }
    printLine("\ngetKelvaneVolumePath() : Mounted Volumes : " + describeUrls(volumes));

    // A start from a Kelvane volume takes that volume's request, whatever else is mounted.
    auto startedFrom = StartRequest::current().volume;
    if (startedFrom && std::find(volumes.begin(), volumes.end(), *startedFrom) == volumes.end())
        startedFrom.reset();
    for (const std::string& volume : volumes) {
        if (volume.find(Product::kVolumeName) == std::string::npos) continue;
        if (startedFrom && volume != *startedFrom) continue;
        auto info = platform::Volumes::shared().fileSystemInfo(volume);
        platform::VolumeInfo flags = info.value_or(platform::VolumeInfo{});
        printLine(std::string("getKelvaneVolumePath()") +
                  " : Result : " + trueFalse(info.has_value()) + " Volume : " + volume +
                  ", isRemovable :" + trueFalse(flags.removable) + ", isWritable : " +
                  trueFalse(flags.writable) + ", isUnmountable : " + trueFalse(flags.unmountable) +
                  ", Description : " + flags.description + ", type : " + flags.type);
        if (flags.unmountable && flags.removable) {
            configuration = volume + "/" + Product::kConfigurationFileName;
            application = volume + "/" + Product::kBundleName;
            printLine("getKelvaneVolumePath() : KelvaneConfiguration Directory : " +
                      platform::Url::fileUrl(configuration, false));
        }
    }
    return {configuration, application};
}

std::optional<AppDelegate::Parameters> AppDelegate::parseKelvaneConfiguration(
    const std::string& filePath) {
    auto contents = platform::FileManager::defaultManager().contentsAtPath(filePath);
    std::string error = contents ? "" : contents.error();
    std::string text = contents.value_or("");
    if (error.empty() && text.size() > kMaximumConfigurationBytes) {
        error = "\"" + filePath + "\" is " + std::to_string(text.size()) +
                " bytes, too large for a configuration file";
    } else if (error.empty() && !platform::Text::isValidUtf8(text)) {
        error = "\"" + filePath + "\" is not UTF-8 text";
    }
    if (!error.empty()) {
        printLine(std::string("parseKelvaneConfiguration(filePath:)") +
                  " :Error reading Kelvane Configuration File. \n Error Description = " + error);
        return std::nullopt;
    }

    KelvaneConfiguration configuration = KelvaneConfiguration::parse(text);
    platform::Preferences& defaults = platform::Preferences::standardUserDefaults();
    if (!configuration.hasParts) {
        defaults.removeObjectForKey("KelvaneToken");
        defaults.synchronize();
        return Parameters{};
    }
    // Stale values of what the file names are dropped; the token always is.
    if (configuration.namesDataCentre) removeDefault(defaults, "DC");
    if (configuration.namesJoinPath) removeDefault(defaults, "pathForKelvane");
    if (configuration.namesToken) {
        removeDefault(defaults, "KelvaneToken");
    } else {
        defaults.removeObjectForKey("KelvaneToken");
        defaults.synchronize();
    }
    return configuration.pairs;
}

void AppDelegate::saveParametersToPlist(const Parameters& parameters,
                                        const std::string& plistPath) {
    platform::FileManager& files = platform::FileManager::defaultManager();
    std::string folder = std::filesystem::path(plistPath).parent_path().string();
    platform::Status status = platform::Status::ok();
    if (!files.directoryExistsAtPath(folder)) status = files.createDirectory(folder, true);
    if (status) {
        platform::PlistDictionary dictionary;
        for (const auto& [key, value] : parameters) dictionary.emplace(key, value);
        // Written beside and renamed, so a crash never leaves a half-written info plist.
        status =
            files.writeContentsAtomically(plistPath, platform::PropertyList::toXml(dictionary));
    }
    if (!status) {
        printLine("Error saving parameters to Info.plist. \n Error Description = " +
                  status.errorDescription());
    }
}

std::optional<std::string> AppDelegate::getAppVersion(const std::string& atPath) {
    auto bundle = platform::Bundle::bundleWithPath(atPath);
    return bundle ? bundle->shortVersionString() : std::nullopt;
}

void AppDelegate::copyKelvaneConfiguration(const std::string& orvoKelvaneConfFilePath,
                                           const std::string& orvoKelvaneAppPathURL) {
    static constexpr const char* kFunction =
        "copyKelvaneConfiguration(orvoKelvaneConfFilePath:orvoKelvaneAppPathURL:)";
    platform::FileManager& files = platform::FileManager::defaultManager();

    std::string infoPlist = Utils::infoPlistPath();
    if (files.fileExistsAtPath(infoPlist)) {
        if (platform::Status removed = files.removeItem(infoPlist); !removed) {
            printLine(
                "Error removing existing Kelvane Configuration File. \n Error Description = " +
                removed.errorDescription());
        }
    }
    if (auto parameters = parseKelvaneConfiguration(orvoKelvaneConfFilePath)) {
        saveParametersToPlist(*parameters, infoPlist);
    }

    std::string applications = platform::SearchPaths::shared().userApplicationsDirectory();
    std::string installed = applications + "/" + Product::kBundleName;
    auto installedVersion = getAppVersion(installed);
    auto volumeVersion = getAppVersion(orvoKelvaneAppPathURL);
    // Any difference in the version text installs, an older build on the volume included.
    bool install = installedVersion ? installedVersion != volumeVersion : volumeVersion.has_value();
    if (!install) return;

    // Copied beside, then swapped in with one rename where the file system exchanges two names;
    // elsewhere the old bundle is moved aside first, and the next start puts it back should
    // this process die before the new one is in place.
    if (!files.directoryExistsAtPath(applications)) (void)files.createDirectory(applications, true);
    platform::ReplaceResult replaced = files.replaceItem(orvoKelvaneAppPathURL, installed);
    if (replaced.copied && !replaced.status) {
        // The installed copy could not be swapped out: as a failed removal followed by a copy
        // that finds its destination taken.
        printLine(
            std::string(kFunction) +
            " Error removing existing Orvo Tendra Kelvane Application. \n Error Description = " +
            replaced.status.errorDescription());
    }
    if (!replaced.status) {
        printLine(std::string(kFunction) +
                  " : Error copying Orvo Tendra Kelvane Application to Application Folder.\n "
                  "Error Description = " +
                  replaced.status.errorDescription());
        return;
    }
    MenuEntryWriter::addToMenu(kFunction, installed);
}
