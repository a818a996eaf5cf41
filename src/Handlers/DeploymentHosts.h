#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

// Host names of the service's deployments, read from Contents/Resources/Deployment.plist so
// that no host is compiled in. Keys: the data-centre codes, "labAlternate" and "localDomain".
class DeploymentHosts {
  public:
    static DeploymentHosts& shared();

    std::optional<std::string> host(const std::string& key) const;
    // The suffix for developers' hosts ("<code>.<localDomain>"); absent when not configured.
    std::optional<std::string> localDomain() const { return host("localDomain"); }
    // "<code>.<localDomain>", or the code alone when no local domain is configured.
    std::string developerHost(const std::string& code) const;

    // Replaces the table with the file's contents; logs and empties it when unreadable.
    void loadFromFile(const std::string& path);

  private:
    DeploymentHosts();

    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_hosts;
};
