#include "OrvoAppUpgrader.h"

#include <charconv>
#include <cstdio>

#include "../Objects/SessionDetails.h"
#include "../platform/Bundle.h"
#include "../platform/FileManager.h"
#include "ImageTurn.h"
#include "KelvanePaths.h"
#include "Logging.h"
#include "OrvoDmgDownloader.h"
#include "ProvisioningProgress.h"

OrvoAppUpgrader& OrvoAppUpgrader::getInstance() {
    static OrvoAppUpgrader* instance = [] {
        auto* upgrader = new OrvoAppUpgrader();  // lives until the process ends
        logLine("%s : Update Info Object Allocated", "+[OrvoAppUpgrader getInstance]");
        return upgrader;
    }();
    return *instance;
}

namespace {

// The version as text, as the platform describes a value: a number written as a number is
// sent as its digits. A bundle without a version is sent as having none installed.
std::string versionText(const platform::PlistValue* version) {
    if (!version) return "0";
    if (const std::string* text = version->string()) return *text;
    if (const auto* integer = version->get<std::int64_t>()) return std::to_string(*integer);
    if (const auto* flag = version->get<bool>()) return *flag ? "1" : "0";
    if (const auto* real = version->get<double>()) {
        // With a point in every locale: the service reads it, not a person.
        char text[32];
        auto written =
            std::to_chars(text, text + sizeof text, *real, std::chars_format::general, 15);
        return std::string(text, written.ptr);
    }
    return "0";
}

}  // namespace

std::string OrvoAppUpgrader::joinDetailsContent() {
    SessionDetails& session = SessionDetails::getInstance();
    // Absent fields are written as empty text.
    auto text = [](const Text& value) { return value.value_or(""); };
    return "CONVELO_IND\n" + platform::format(
                                 "&key=%@&webServerName=%@&kelvane_token=%@&c_plugin=true&DC=%@&"
                                 "email=%@&is_custom_domain=%@&",
                                 text(session.sessionKey()), text(session.webServerName()),
                                 text(session.kelvaneToken()), text(session.dcName()),
                                 text(session.name()), text(session.customDomainEnabled()));
}

void OrvoAppUpgrader::orvoAppVersionCheck() {
    static constexpr const char* kFunction = "-[OrvoAppUpgrader orvoAppVersionCheck]";
    guarded(kFunction, [&] {
        std::string path = KelvanePaths::installedAgentAsJoined();
        SessionDetails& session = SessionDetails::getInstance();
        auto bundle = platform::FileManager::defaultManager().fileExistsAtPath(path)
                          ? platform::Bundle::bundleWithPath(path)
                          : std::nullopt;
        if (!bundle) {
            logLine("%s : Orvo app not found, Setting app version to zero ( default) %@", kFunction,
                    path);
            session.setLocalOrvoAppVersion("0");
            return;
        }
        const platform::PlistValue* version =
            bundle->objectForInfoDictionaryKey("CFBundleShortVersionString");
        session.setLocalOrvoAppVersion(versionText(version));
        logLine("%s local Orvo App version : %@ %@", kFunction, session.localOrvoAppVersion(),
                path);
    });
}

void OrvoAppUpgrader::orvoAppUpdater() {
    static constexpr const char* kFunction = "-[OrvoAppUpgrader orvoAppUpdater]";
    guarded(kFunction, [&] {
        // A run still working waits to finish; this one then uses the session as it is now.
        ImageTurn::Pass turn = ImageTurn::take(ImageTurn::Image::agent);
        std::string removalPath = KelvanePaths::installedAgentAsJoined();
        auto downloader = std::make_shared<OrvoDmgDownloader>();
        {
            std::lock_guard lock(m_mutex);
            m_downloader = downloader;
        }
        if (SessionDetails::getInstance().isUpdateNeeded()) {
            logLine("%s : Updated Orvo App Version Available in Server..", kFunction);
            platform::FileManager& files = platform::FileManager::defaultManager();
            if (files.fileExistsAtPath(removalPath)) (void)files.removeItem(removalPath);
            modifyOrvoJoinDetails();
            downloader->setImageTurn(std::move(turn));
            downloader->startDownLoadingOrvoMacDmg();
        } else {
            logLine("%s : This mac has latest Orvo App", kFunction);
            modifyOrvoJoinDetails();
            // The result changes no step; the customer still learns that nothing started.
            if (!downloader->workspaceLaunchApplication(KelvanePaths::installedAgent())) {
                ProvisioningProgress::shared().failed();
            }
        }
    });
}

void OrvoAppUpgrader::modifyOrvoJoinDetails() {
    static constexpr const char* kFunction = "-[OrvoAppUpgrader modifyOrvoJoinDetails]";
    guarded(kFunction, [&] {
        logLine("%s : Modify joindetails called!", kFunction);
        SessionDetails& session = SessionDetails::getInstance();
        platform::FileManager& files = platform::FileManager::defaultManager();
        std::string path = KelvanePaths::joinDetailsFile();
        std::string content = joinDetailsContent();
        if (files.fileExistsAtPath(path)) {
            logLine("%s : orvojoindetails.conf file already Present in folder %@", kFunction, path);
            logLine(
                "%s : Orvo Joindetails Content : Session key=%@ webServerName=%@ DC=%@ "
                "customDomain=%@",
                kFunction, session.sessionKey(), session.webServerName(), session.dcName(),
                session.customDomainEnabled());
        } else {
            logLine("%s : orvojoindetails.conf file Not Present in folder %@", kFunction, path);
            logLine("%s : Orvo Joindetails Content : Session key=%@ webServerName=%@ DC=%@",
                    kFunction, session.sessionKey(), session.webServerName(), session.dcName());
        }
        // Written beside and renamed over the old file: the agent never reads a half-written
        // file, and when the write fails (a full disk, say) the last good file stays.
        if (files.writeContentsAtomically(path, content)) {
            logLine("%s : New orvojoindetails.conf file has been created by Kelvane in folder %@ ",
                    kFunction, path);
        } else {
            logLine("%s : Unable to create New orvojoindetails.conf file by Kelvane in folder %@",
                    kFunction, path);
        }
    });
}
