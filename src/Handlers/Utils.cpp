#include "Utils.h"

#include <array>
#include <chrono>
#include <cstdio>

#include "../Objects/SessionDetails.h"
#include "../Product.h"
#include "../platform/Bundle.h"
#include "../platform/FileManager.h"
#include "../platform/Http.h"
#include "../platform/Preferences.h"
#include "../platform/PropertyList.h"
#include "../platform/SearchPaths.h"
#include "../platform/Url.h"
#include "DeploymentHosts.h"
#include "KelvanePaths.h"
#include "LogHandler.h"
#include "Logging.h"
#include "MenuEntryWriter.h"
#include "OrvoKelvaneUpdater.h"
#include "ServerAnswers.h"

namespace {

platform::FileManager& fileManager() {
    return SessionDetails::getInstance().orvoDirectoryManager();
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

std::string octalPermissions(unsigned permissions) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", permissions & 07777);
    return text;
}

std::string versionText(const platform::PlistValue* value) {
    if (!value) return "(null)";
    if (auto* text = value->string()) return *text;
    if (auto* number = value->get<std::int64_t>()) return std::to_string(*number);
    return "(null)";
}

}  // namespace

void Utils::createKelvaneDirectoriesWithLogHandler(LogHandler& logHandler) {
    static constexpr const char* kFunction = "+[Utils createKelvaneDirectoriesWithLogHandler:]";
    guarded(kFunction, [&] {
        logHandler.createOrvoKelvaneLogFolder();
        logLine("%s : ********************************************************* \n", kFunction);
        logLine("%s : ************* Orvo Kelvane App Started ************ \n", kFunction);
        logLine("%s : ********************************************************* \n", kFunction);
        createConveloNativeFolder();
        createOrvoKelvaneNativeFolder();
        keepCustomerDetailsPrivate(kFunction);
        // A copy or removal cut short by the end of an earlier run (a crash, a power loss) left
        // hidden half-finished work beside the agent, the staged update or the installed
        // application; it is never used, only removed.
        platform::FileManager& files = fileManager();
        for (const std::string& folder :
             {KelvanePaths::conveloNativeFolder(), KelvanePaths::orvoKelvaneNativeFolder(),
              platform::SearchPaths::shared().userApplicationsDirectory()}) {
            for (const std::string& leftover : files.removeLeftoversOfEndedProcesses(folder)) {
                logLine("%s : Cleared %@, left behind by an interrupted run", kFunction, leftover);
            }
        }
    });
}

void Utils::keepCustomerDetailsPrivate(const char* function) {
    platform::FileManager& files = fileManager();
    struct Item {
        std::string path;
        unsigned permissions;
    };
    const Item items[] = {
        {KelvanePaths::orvoTendraLogsFolder(), 0700},
        {KelvanePaths::orvoTendraLogsFolder() + "/OrvoKelvane", 0700},
        {KelvanePaths::orvoKelvaneNativeFolder(), 0700},
        {KelvanePaths::conveloNativeFolder(), 0700},
        {KelvanePaths::connectionSettingsFile(), 0600},
        {platform::Preferences::standardUserDefaults().storePath(), 0600},
        {KelvanePaths::joinDetailsFile(), 0600},
        {KelvanePaths::infoPlistFile(), 0600},
        {KelvanePaths::preferencesPlistFile(), 0600},
    };
    for (const Item& item : items) {
        auto current = files.permissionsOfItem(item.path);
        if (!current || (*current & 077) == 0) continue;
        platform::Status narrowed = files.setPermissions(item.path, item.permissions);
        logLine("%s : %@ was open to other users (mode %@); %@", function, item.path,
                octalPermissions(*current),
                narrowed ? std::string("it is now private to its owner")
                         : "it could not be made private: " + narrowed.errorDescription());
    }
}

void Utils::createConveloNativeFolder() {
    static constexpr const char* kFunction = "+[Utils createConveloNativeFolder]";
    guarded(kFunction, [&] {
        createFolderIfMissing(
            kFunction, KelvanePaths::conveloNativeFolder(),
            {"%s Convelo Native folder Already Present", "%s Convelo Native Folder Created...",
             "%s Failed to Create Convelo Native Folder..."});
    });
}

void Utils::createOrvoKelvaneNativeFolder() {
    static constexpr const char* kFunction = "+[Utils createOrvoKelvaneNativeFolder]";
    guarded(kFunction, [&] {
        createFolderIfMissing(kFunction, KelvanePaths::orvoKelvaneNativeFolder(),
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
            logLine(
                "%s : Orvo Tendra Kelvane app not found, Setting app version to zero ( default)",
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

std::string Utils::infoPlistPath() {
    return KelvanePaths::infoPlistFile();
}

std::optional<std::string> Utils::findWebserverNameWithDCName(
    const std::optional<std::string>& dcName) {
    static constexpr const char* kFunction = "+[Utils findWebserverNameWithDCName:]";
    return guarded(
        kFunction,
        [&]() -> std::optional<std::string> {
            if (!dcName) return std::nullopt;
            static constexpr std::array kKnownCodes = {
                "com", "lab", "stage", "pre", "eu", "in",   "jp", "au",
                "cn",  "uk",  "ca",    "sa",  "ae", "inec", "sg", "localorvo"};
            DeploymentHosts& hosts = DeploymentHosts::shared();
            for (const char* code : kKnownCodes) {
                if (*dcName == code) {
                    if (auto host = hosts.host(code)) return host;
                    break;  // not configured: resolves like an unrecognised code
                }
            }
            return hosts.developerHost(*dcName);
        },
        std::optional<std::string>(), LeadingExceptionLine{});
}

void Utils::parseCommandLineArgs() {
    static constexpr const char* kFunction = "+[Utils parseCommandLineArgs]";
    guarded(kFunction, [&] {
        SessionDetails& session = SessionDetails::getInstance();
        session.setDefaultOrvoDirectoryManager(&platform::FileManager::defaultManager());
        session.setOrvoKelvaneNativeFolder(KelvanePaths::orvoKelvaneNativeFolder());
        logLine("%s ******* Orvo Tendrra Kelvane App Invoked By User.", kFunction);

        std::string infoFile = fileManager().fileExistsAtPath(KelvanePaths::preferencesPlistFile())
                                   ? KelvanePaths::preferencesPlistFile()
                                   : infoPlistPath();
        logLine("%s : Info plist Filepath :  %@", kFunction, infoFile);
        readInfoFileArgs(infoFile);

        platform::PlistDictionary defaults =
            platform::Preferences::standardUserDefaults().dictionaryRepresentation();
        auto textFor = [&](const char* key) -> std::optional<std::string> {
            auto it = defaults.find(key);
            if (it == defaults.end() || !it->second.string()) return std::nullopt;
            return *it->second.string();
        };
        if (!session.kelvaneToken()) {
            if (auto token = textFor("KelvaneToken")) session.setKelvaneToken(token);
        }
        if (!session.dcName()) {
            if (auto dc = textFor("DC")) {
                session.setPlistDcName(dc);
                session.setDcName(dc);
                auto host = findWebserverNameWithDCName(dc);
                session.setWebServerName(host);
                session.setPlistWebServerName(host);
            }
        }
        if (!session.pathForKelvane()) {
            if (auto path = textFor("pathForKelvane")) session.setPathForKelvane(path);
        }
        logLine(
            "%s : Arguments Readed From Server => Websername : %@ , KelvaneToken : %@ , DC = %@",
            kFunction, session.webServerName(), session.kelvaneToken(), session.dcName());

        session.setStaticWebServerName(session.webServerName());
        session.setCustomDomainEnabled("false");
        if (auto token = session.kelvaneToken(); token && !token->empty()) {
            getCustomDomain();
        } else {
            logLine("%s : Kelvane Token is null, skipping getCustomDomain call.", kFunction);
        }
    });
}

void Utils::readInfoFileArgs(const std::string& path) {
    static constexpr const char* kFunction = "+[Utils readInfoFileArgs:]";
    guarded(kFunction, [&] {
        if (!fileManager().fileExistsAtPath(path)) {
            logLine("%s ******** info.plist Not Present file at path :%@", kFunction, path);
            return;
        }
        auto root = platform::PropertyList::readFile(path);
        const platform::PlistDictionary* info = root ? root->dictionary() : nullptr;
        if (!info) {
            logLine("%s Failed to read the info.plist file at path :%@", kFunction, path);
            return;
        }
        auto textFor = [&](const char* key) -> std::optional<std::string> {
            auto it = info->find(key);
            if (it == info->end()) return std::nullopt;
            if (!it->second.string()) {
                logLine("%s : Value of %@ in %@ is not text; ignored", kFunction, key, path);
                return std::nullopt;
            }
            return *it->second.string();
        };
        SessionDetails& session = SessionDetails::getInstance();
        platform::Preferences& defaults = platform::Preferences::standardUserDefaults();
        if (auto dc = textFor("DC")) {
            defaults.setString("DC", *dc);
            defaults.synchronize();
            session.setPlistDcName(dc);
            session.setDcName(dc);
            auto host = findWebserverNameWithDCName(dc);
            session.setWebServerName(host);
            session.setPlistWebServerName(host);
        }
        if (auto token = textFor("KelvaneToken")) {
            defaults.setString("KelvaneToken", *token);
            defaults.synchronize();
            session.setKelvaneToken(token);
        }
        if (auto joinPath = textFor("pathForKelvane")) {
            defaults.setString("pathForKelvane", *joinPath);
            defaults.synchronize();
            session.setPathForKelvane(joinPath);
        }
    });
}

void Utils::getCustomDomain() {
    static constexpr const char* kFunction = "+[Utils getCustomDomain]";
    // Start-up waits for this on the main thread, so it is bounded; a lookup answer is small,
    // so a large body is cut off rather than read.
    static constexpr double kTimeoutSeconds = 30;
    static constexpr std::uint64_t kMaximumAnswerBytes = 1024 * 1024;
    guarded(kFunction, [&] {
        SessionDetails& session = SessionDetails::getInstance();
        logLine("%s : ********************** Fetching Custom Domain for session", kFunction);
        std::string url = platform::Url::encodeForQuery(
            platform::format("https://%@/api/v2/service_domain?src=rs&kelvane_token=%@",
                             session.webServerName(), session.kelvaneToken()));
        logLine("%s : Requesting URL : %@", kFunction, url);

        platform::HttpRequest request;
        request.url = url;
        request.timeoutSeconds = kTimeoutSeconds;
        // Start-up waits for this answer: it is given up after the time-out, however it flows.
        request.totalSeconds = kTimeoutSeconds;
        request.maximumBodyBytes = kMaximumAnswerBytes;
        request.expectedBody = platform::ExpectedBody::jsonObject;
        platform::HttpResponse response = platform::HttpClient::shared().get(request);
        if (response.failure) {
            const std::string& why = response.failure->description;
            logLine("%s : Check Update failed : %@", kFunction, why);
            logLine("%s : Error in the HTTP Request(URL: %@) : %@", kFunction, url, why);
        }
        logLine("%s : Request Url URL : %@\n", kFunction, url);
        logLine("%s : Status code : %ld", kFunction, response.statusCode);
        if (response.statusCode != 200) return;

        ServiceDomainAnswer answer = ServiceDomainAnswer::parse(response.body);
        logLine("%s : Response : %@", kFunction, answer.representationText);
        if (!answer.serviceDomain) return;
        const std::string& serviceDomain = *answer.serviceDomain;
        session.setWebServerName(serviceDomain);
        session.setCustomDomainEnabled(serviceDomain == session.staticWebServerName() ? "false"
                                                                                      : "true");
    });
}

void Utils::updateKelvaneIfNeeded() {
    static constexpr const char* kFunction = "+[Utils updateKelvaneIfNeeded]";
    // A staging run still copying is given a moment to finish; a bundle is never installed
    // half-copied.
    static constexpr std::chrono::seconds kStagingWait{20};
    guarded(kFunction, [&] {
        SessionDetails& session = SessionDetails::getInstance();
        bool settled = OrvoKelvaneUpdater::waitForStagingToSettle(kStagingWait);
        if (!session.isAppReplaceFlag()) {
            logLine("%s There is No Updated App downloaded from server.", kFunction);
        } else if (!settled) {
            logLine(
                "%s : An update is still being staged; the installed application is kept for now.",
                kFunction);
        } else {
            logLine("%s Updated Kelvane Downloaded from server and Initiate to Copy ", kFunction);
            replaceInstalledApplication(kFunction);
        }
        logLine("%s : ************************** Orvo Kelvane App terminated ******* \n\n",
                kFunction);
    });
}

void Utils::replaceInstalledApplication(const char* function) {
    SessionDetails& session = SessionDetails::getInstance();
    platform::FileManager& files = fileManager();
    std::string staged =
        session.orvoKelvaneNativeFolder().value_or(KelvanePaths::orvoKelvaneNativeFolder()) +
        Product::kBundleName;
    if (!files.fileExistsAtPath(staged)) {
        logLine("%s There is No Updated Kelvane App Present in %@", function,
                session.orvoKelvaneNativeFolder());
        return;
    }
    std::string installed = KelvanePaths::installedApplication();
    // The replacement only updates an existing installation.
    if (!files.fileExistsAtPath(installed)) {
        logLine("%s Failed to Remove Existing old Kelvane app (%@) in folder %@ Error:  %@",
                function, session.localOrvoKelvaneAppVersion(), installed,
                "no application is installed there");
        return;
    }
    // Copied beside, then swapped in (see FileManager::replaceItem for the one moment, on file
    // systems without an exchange, when no bundle is in place).
    platform::ReplaceResult replaced = files.replaceItem(staged, installed);
    if (!replaced.copied) {
        logLine("%s Failed to copy Updated Kelvane app to folder %@", function, installed);
        return;
    }
    if (!replaced.status) {
        logLine("%s Failed to Remove Existing old Kelvane app (%@) in folder %@ Error:  %@",
                function, session.localOrvoKelvaneAppVersion(), installed,
                replaced.status.errorDescription());
        return;
    }
    logLine("%s Updated Kelvane app Copied to %@", function, installed);
    // The update may bring new icons or texts for the menu.
    MenuEntryWriter::addToMenu(function, installed);
}
