// NativeMessageHandler: the connection settings file that tells the agent which proxy to use.

#include <filesystem>

#include "../platform/FileManager.h"
#include "../platform/Preferences.h"
#include "../platform/PropertyList.h"
#include "KelvanePaths.h"
#include "Logging.h"
#include "NativeMessageHandler.h"

void NativeMessageHandler::setupProxyDetails() {
    platform::Preferences& defaults = platform::Preferences::standardUserDefaults();
    auto host = defaults.objectForKey("host");
    auto port = defaults.objectForKey("port");
    auto authRequired = defaults.objectForKey("authRequired");
    auto userName = defaults.objectForKey("userName");
    auto password = defaults.objectForKey("password");
    // All five, each of its own kind, or nothing is written.
    if (!host || !host->string() || !port || !port->get<std::int64_t>() || !authRequired ||
        !authRequired->get<bool>() || !userName || !userName->string() || !password ||
        !password->string()) {
        return;
    }
    if (host->string()->empty()) return;
    std::int64_t portNumber = *port->get<std::int64_t>();
    if (portNumber < 0 || portNumber > 65535) return;
    bool withCredentials = *authRequired->get<bool>();

    platform::FileManager& files = platform::FileManager::defaultManager();
    std::string path = KelvanePaths::connectionSettingsFile();
    auto apply = [&](platform::PlistDictionary& settings) {
        settings.insert_or_assign("ProxyIpAddress", *host->string());
        settings.insert_or_assign("ProxyServerPort", portNumber);
        settings.insert_or_assign("UserName",
                                  withCredentials ? *userName->string() : std::string());
        settings.insert_or_assign("Password",
                                  withCredentials ? *password->string() : std::string());
    };

    if (files.fileExistsAtPath(path)) {
        auto existing = platform::PropertyList::readFile(path);
        if (!existing || !existing->dictionary()) return;  // left untouched
        platform::PlistDictionary settings = *existing->dictionary();
        apply(settings);
        // Written beside and renamed: the agent never finds a half-written file.
        if (!files.writeContentsAtomically(path, platform::PropertyList::toXml(settings))) {
            printLine(
                "setupProxyDetails() : Unable to write connection settings to "
                "ConnectionSettings.plist.");
        }
        return;
    }
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (!files.directoryExistsAtPath(folder) && !files.createDirectory(folder, true)) {
        printLine(
            "setupProxyDetails() : Unable to create the connection plist file at the desired "
            "path.");
        return;
    }
    platform::PlistDictionary settings;
    apply(settings);
    (void)files.writeContentsAtomically(path, platform::PropertyList::toXml(settings));
}
