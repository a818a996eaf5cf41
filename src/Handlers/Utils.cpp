#include "Utils.h"

#include "../Objects/SessionDetails.h"
#include "../platform/Bundle.h"
#include "../platform/FileManager.h"
#include "../platform/SearchPaths.h"
#include "LogHandler.h"
#include "Logging.h"

namespace {

platform::FileManager& fileManager() {
    platform::FileManager* manager = SessionDetails::getInstance().defaultOrvoDirectoryManager();
    return manager ? *manager : platform::FileManager::defaultManager();
}

struct FolderLines {
    const char* alreadyPresent;
    const char* created;
    const char* failed;
};

void createFolderIfMissing(const char* function, const std::string& path,
                           const FolderLines& lines) {
    platform::FileManager& files = fileManager();
    // Anything at the path counts, even a plain file: it is left alone.
    if (files.fileExistsAtPath(path)) {
        logLine(lines.alreadyPresent, function);
        return;
    }
    if (files.createDirectory(path, true)) {
        logLine(lines.created, function);
    } else {
        logLine(lines.failed, function);
    }
}

std::string versionText(const platform::PlistValue* value) {
    if (!value) return "(null)";
    if (auto* text = value->string()) return *text;
    if (auto* number = value->get<std::int64_t>()) return std::to_string(*number);
    return "(null)";
}

}  // namespace

std::string Utils::orvoKelvaneNativeFolderPath() {
    return platform::SearchPaths::homeDirectory() +
           "/Library/Application Support/OrvoKelvaneNativeFolder/";
}

std::string Utils::conveloNativeFolderPath() {
    return platform::SearchPaths::homeDirectory() + "/Library/Application Support/ConveloNative/";
}

void Utils::createKelvaneDirectoriesWithLogHandler(LogHandler& logHandler) {
    static constexpr const char* kFunction = "+[Utils createKelvaneDirectoriesWithLogHandler:]";
    guarded(kFunction, [&] {
        logHandler.createOrvoKelvaneLogFolder();
        logLine("%s : ********************************************************* \n", kFunction);
        logLine("%s : ************* Orvo Kelvane App Started ************ \n", kFunction);
        logLine("%s : ********************************************************* \n", kFunction);
        createConveloNativeFolder();
        createOrvoKelvaneNativeFolder();
    });
}

void Utils::createConveloNativeFolder() {
    static constexpr const char* kFunction = "+[Utils createConveloNativeFolder]";
    guarded(kFunction, [&] {
        createFolderIfMissing(kFunction, conveloNativeFolderPath(),
                              {"%s Convelo Native folder Already Present",
                               "%s Convelo Native Folder Created...",
                               "%s Failed to Create Convelo Native Folder..."});
    });
}

void Utils::createOrvoKelvaneNativeFolder() {
    static constexpr const char* kFunction = "+[Utils createOrvoKelvaneNativeFolder]";
    guarded(kFunction, [&] {
        createFolderIfMissing(kFunction, orvoKelvaneNativeFolderPath(),
                              {"%s Orvo Kelvane Native folder Already Present",
                               "%s Orvo Kelvane Native Folder Created...",
                               "%s Failed to Create Orvo Kelvane Native Folder..."});
    });
}

void Utils::findCurrentAppPath() {
    static constexpr const char* kFunction = "+[Utils findCurrentAppPath]";
    guarded(kFunction, [&] {
        std::string path = platform::Bundle::mainBundlePath();
        SessionDetails::getInstance().setKelvaneAppPath(path);
        logLine("%s Orvo Kelvane App path : %@", kFunction, path);
    });
}

void Utils::getOrvoKelvaneAppVersion() {
    static constexpr const char* kFunction = "+[Utils getOrvoKelvaneAppVersion]";
    guarded(kFunction, [&] {
        SessionDetails& session = SessionDetails::getInstance();
        std::string path = session.kelvaneAppPath().value_or("");
        auto bundle = fileManager().fileExistsAtPath(path) ? platform::Bundle::bundleWithPath(path)
                                                           : std::nullopt;
        if (!bundle) {
            logLine("%s : Orvo Tendra Kelvane app not found, Setting app version to zero ( default)",
                    kFunction);
            session.setLocalOrvoKelvaneAppVersion("0");
            return;
        }
        std::string version =
            versionText(bundle->objectForInfoDictionaryKey("CFBundleShortVersionString"));
        session.setLocalOrvoKelvaneAppVersion(version);
        logLine("%s local Orvo Tendra Kelvane App version : %@", kFunction,
                session.localOrvoKelvaneAppVersion());
    });
}

void Utils::parseCommandLineArgs() {
    static constexpr const char* kFunction = "+[Utils parseCommandLineArgs]";
    guarded(kFunction, [&] {
        SessionDetails& session = SessionDetails::getInstance();
        session.setDefaultOrvoDirectoryManager(&platform::FileManager::defaultManager());
        session.setOrvoKelvaneNativeFolder(orvoKelvaneNativeFolderPath());
        logLine("%s ******* Orvo Tendrra Kelvane App Invoked By User.", kFunction);
    });
}

void Utils::updateKelvaneIfNeeded() {
    static constexpr const char* kFunction = "+[Utils updateKelvaneIfNeeded]";
    guarded(kFunction, [&] {
        // Nothing stages a newer build yet, so the flag stays down in this build.
        if (!SessionDetails::getInstance().isAppReplaceFlag()) {
            logLine("%s There is No Updated App downloaded from server.", kFunction);
        }
        logLine("%s : ************************** Orvo Kelvane App terminated ******* \n\n",
                kFunction);
    });
}
