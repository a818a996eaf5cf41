#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace platform {
class FileManager;
}

// A value that readers always see whole: a getter returns a copy taken under the lock, so it
// stays valid even when another thread replaces the field at once.
template <typename T>
class WholeValue {
  public:
    T get() const {
        std::lock_guard lock(m_mutex);
        return m_value;
    }
    void set(T value) {
        std::lock_guard lock(m_mutex);
        m_value = std::move(value);
    }

  private:
    mutable std::mutex m_mutex;
    T m_value{};
};

using Text = std::optional<std::string>;  // absent is distinct from ""

// The process-wide record of the support request, the joined session, the installed versions
// and the update checks' results. Fields are read and written whole from any thread; no
// operation spans several fields.
class SessionDetails {
  public:
    static SessionDetails& getInstance();

    // The joined session: its key, the customer's name, and the web server that serves it.
    Text sessionKey() const { return m_sessionKey.get(); }
    void setSessionKey(Text value) { m_sessionKey.set(std::move(value)); }
    Text name() const { return m_name.get(); }
    void setName(Text value) { m_name.set(std::move(value)); }
    Text webServerName() const { return m_webServerName.get(); }
    void setWebServerName(Text value) { m_webServerName.set(std::move(value)); }
    // The data centre of the session, and the one the configuration file named.
    Text dcName() const { return m_dcName.get(); }
    void setDcName(Text value) { m_dcName.set(std::move(value)); }
    Text plistDcName() const { return m_plistDcName.get(); }
    void setPlistDcName(Text value) { m_plistDcName.set(std::move(value)); }
    Text plistWebServerName() const { return m_plistWebServerName.get(); }
    void setPlistWebServerName(Text value) { m_plistWebServerName.set(std::move(value)); }
    // The installed agent's and this application's versions, "0" when not installed.
    Text localOrvoAppVersion() const { return m_localOrvoAppVersion.get(); }
    void setLocalOrvoAppVersion(Text value) { m_localOrvoAppVersion.set(std::move(value)); }
    Text localOrvoKelvaneAppVersion() const { return m_localOrvoKelvaneAppVersion.get(); }
    void setLocalOrvoKelvaneAppVersion(Text value) {
        m_localOrvoKelvaneAppVersion.set(std::move(value));
    }
    // Where this application and its configuration are.
    Text infoPlistPath() const { return m_infoPlistPath.get(); }
    void setInfoPlistPath(Text value) { m_infoPlistPath.set(std::move(value)); }
    Text kelvaneAppPath() const { return m_kelvaneAppPath.get(); }
    void setKelvaneAppPath(Text value) { m_kelvaneAppPath.set(std::move(value)); }
    // "true" when the session moved to a custom domain away from the static web server.
    Text customDomainEnabled() const { return m_customDomainEnabled.get(); }
    void setCustomDomainEnabled(Text value) { m_customDomainEnabled.set(std::move(value)); }
    Text staticWebServerName() const { return m_staticWebServerName.get(); }
    void setStaticWebServerName(Text value) { m_staticWebServerName.set(std::move(value)); }
    // The support request's credentials and the page to join it on.
    Text sessionDigest() const { return m_sessionDigest.get(); }
    void setSessionDigest(Text value) { m_sessionDigest.set(std::move(value)); }
    Text kelvaneToken() const { return m_kelvaneToken.get(); }
    void setKelvaneToken(Text value) { m_kelvaneToken.set(std::move(value)); }
    Text pathForKelvane() const { return m_pathForKelvane.get(); }
    void setPathForKelvane(Text value) { m_pathForKelvane.set(std::move(value)); }
    // Where a newer build of this application is staged, and where it comes from.
    Text orvoKelvaneNativeFolder() const { return m_orvoKelvaneNativeFolder.get(); }
    void setOrvoKelvaneNativeFolder(Text value) { m_orvoKelvaneNativeFolder.set(std::move(value)); }
    Text kelvaneDownloadUrl() const { return m_kelvaneDownloadUrl.get(); }
    void setKelvaneDownloadUrl(Text value) { m_kelvaneDownloadUrl.set(std::move(value)); }
    // Where the agent's image comes from, as the agent update check answered.
    Text awsUrl() const { return m_awsUrl.get(); }
    void setAwsUrl(Text value) { m_awsUrl.set(std::move(value)); }
    Text awsServer() const { return m_awsServer.get(); }
    void setAwsServer(Text value) { m_awsServer.set(std::move(value)); }
    Text cdnUrl() const { return m_cdnUrl.get(); }
    void setCdnUrl(Text value) { m_cdnUrl.set(std::move(value)); }
    Text fallbackUrl() const { return m_fallbackUrl.get(); }
    void setFallbackUrl(Text value) { m_fallbackUrl.set(std::move(value)); }

    // The self-update check's answer, and whether a staged build replaces this one at exit.
    bool kelvaneUpdateNeeded() const { return m_kelvaneUpdateNeeded.load(); }
    void setKelvaneUpdateNeeded(bool value) { m_kelvaneUpdateNeeded.store(value); }
    bool isAppReplaceFlag() const { return m_isAppReplaceFlag.load(); }
    void setIsAppReplaceFlag(bool value) { m_isAppReplaceFlag.store(value); }
    // The agent update check's answers.
    bool isUpdateNeeded() const { return m_isUpdateNeeded.load(); }
    void setIsUpdateNeeded(bool value) { m_isUpdateNeeded.store(value); }
    bool isAwsAvailable() const { return m_isAwsAvailable.load(); }
    void setIsAwsAvailable(bool value) { m_isAwsAvailable.store(value); }
    bool isCdnAvailable() const { return m_isCdnAvailable.load(); }
    void setIsCdnAvailable(bool value) { m_isCdnAvailable.store(value); }

    // Absent until set, which is not the same as false.
    std::optional<bool> isvalidSessionKey() const { return m_isvalidSessionKey.get(); }
    void setIsvalidSessionKey(std::optional<bool> value) { m_isvalidSessionKey.set(value); }
    std::optional<bool> isInvokeFromInstaller() const { return m_isInvokeFromInstaller.get(); }
    void setIsInvokeFromInstaller(std::optional<bool> value) { m_isInvokeFromInstaller.set(value); }

    std::int32_t retryCounter() const { return m_retryCounter.load(); }
    void setRetryCounter(std::int32_t value) { m_retryCounter.store(value); }

    platform::FileManager* defaultOrvoDirectoryManager() const {
        return m_defaultOrvoDirectoryManager.load();
    }
    void setDefaultOrvoDirectoryManager(platform::FileManager* manager) {
        m_defaultOrvoDirectoryManager.store(manager);
    }
    // The manager set above, or the process's default one until it is set.
    platform::FileManager& orvoDirectoryManager() const;

    SessionDetails(const SessionDetails&) = delete;
    SessionDetails& operator=(const SessionDetails&) = delete;

  private:
    SessionDetails() = default;

    WholeValue<Text> m_sessionKey;
    WholeValue<Text> m_name;
    WholeValue<Text> m_webServerName;
    WholeValue<Text> m_dcName;
    WholeValue<Text> m_plistDcName;
    WholeValue<Text> m_plistWebServerName;
    WholeValue<Text> m_localOrvoAppVersion;
    WholeValue<Text> m_localOrvoKelvaneAppVersion;
    WholeValue<Text> m_infoPlistPath;
    WholeValue<Text> m_kelvaneAppPath;
    WholeValue<Text> m_customDomainEnabled;
    WholeValue<Text> m_staticWebServerName;
    WholeValue<Text> m_sessionDigest;
    WholeValue<Text> m_kelvaneToken;
    WholeValue<Text> m_pathForKelvane;
    WholeValue<Text> m_orvoKelvaneNativeFolder;
    WholeValue<Text> m_kelvaneDownloadUrl;
    WholeValue<Text> m_awsUrl;
    WholeValue<Text> m_awsServer;
    WholeValue<Text> m_cdnUrl;
    WholeValue<Text> m_fallbackUrl;
    std::atomic<bool> m_kelvaneUpdateNeeded{false};
    std::atomic<bool> m_isAppReplaceFlag{false};
    std::atomic<bool> m_isUpdateNeeded{false};
    std::atomic<bool> m_isAwsAvailable{false};
    std::atomic<bool> m_isCdnAvailable{false};
    WholeValue<std::optional<bool>> m_isvalidSessionKey;
    WholeValue<std::optional<bool>> m_isInvokeFromInstaller;
    std::atomic<std::int32_t> m_retryCounter{0};
    std::atomic<platform::FileManager*> m_defaultOrvoDirectoryManager{nullptr};
};
