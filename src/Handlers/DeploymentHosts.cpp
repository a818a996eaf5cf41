#include "DeploymentHosts.h"

#include "../platform/Bundle.h"
#include "../platform/PropertyList.h"
#include "Logging.h"

DeploymentHosts& DeploymentHosts::shared() {
    static DeploymentHosts hosts;
    return hosts;
}

DeploymentHosts::DeploymentHosts() {
    loadFromFile(platform::Bundle::mainBundlePath() + "/Contents/Resources/Deployment.plist");
}

void DeploymentHosts::loadFromFile(const std::string& path) {
    static constexpr const char* kFunction = "-[DeploymentHosts loadFromFile:]";
    std::map<std::string, std::string> hosts;
    auto root = platform::PropertyList::readFile(path);
    if (!root || !root->dictionary()) {
        logLine(
            "%s : Deployment hosts unavailable (%@: %@); data centres resolve as unrecognised "
            "codes",
            kFunction, path, root ? std::string("not a dictionary") : root.error());
    } else {
        for (const auto& [key, value] : *root->dictionary()) {
            if (const std::string* host = value.string(); host && !host->empty()) {
                hosts.emplace(key, *host);
            } else {
                logLine("%s : Deployment host %@ in %@ is not a host name; ignored", kFunction, key,
                        path);
            }
        }
    }
    std::lock_guard lock(m_mutex);
    m_hosts = std::move(hosts);
}

std::optional<std::string> DeploymentHosts::host(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    auto it = m_hosts.find(key);
    if (it == m_hosts.end()) return std::nullopt;
    return it->second;
}

std::string DeploymentHosts::developerHost(const std::string& code) const {
    auto domain = localDomain();
    return domain ? code + "." + *domain : code;
}
