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

// name, setter suffix
#define SESSION_DETAILS_TEXT_FIELDS(X)                        \
    X(sessionKey, SessionKey)                                 \
    X(name, Name)                                             \
    X(webServerName, WebServerName)                           \
    X(dcName, DcName)                                         \
    X(plistDcName, PlistDcName)                               \
    X(plistWebServerName, PlistWebServerName)                 \
    X(localOrvoAppVersion, LocalOrvoAppVersion)               \
    X(localOrvoKelvaneAppVersion, LocalOrvoKelvaneAppVersion) \
    X(infoPlistPath, InfoPlistPath)                           \
    X(kelvaneAppPath, KelvaneAppPath)                         \
    X(customDomainEnabled, CustomDomainEnabled)               \
    X(staticWebServerName, StaticWebServerName)               \
    X(sessionDigest, SessionDigest)                           \
    X(kelvaneToken, KelvaneToken)                             \
    X(pathForKelvane, PathForKelvane)                         \
    X(orvoKelvaneNativeFolder, OrvoKelvaneNativeFolder)       \
    X(kelvaneDownloadUrl, KelvaneDownloadUrl)                 \
    X(awsUrl, AwsUrl)                                         \
    X(awsServer, AwsServer)                                   \
    X(cdnUrl, CdnUrl)                                         \
    X(fallbackUrl, FallbackUrl)

#define SESSION_DETAILS_FLAG_FIELDS(X)          \
    X(kelvaneUpdateNeeded, KelvaneUpdateNeeded) \
    X(isAppReplaceFlag, IsAppReplaceFlag)       \
    X(isUpdateNeeded, IsUpdateNeeded)           \
    X(isAwsAvailable, IsAwsAvailable)           \
    X(isCdnAvailable, IsCdnAvailable)

// Optional flags: the record declares them as pointers to a boolean, null until set.
#define SESSION_DETAILS_OPTIONAL_FLAG_FIELDS(X) \
    X(isvalidSessionKey, IsvalidSessionKey)     \
    X(isInvokeFromInstaller, IsInvokeFromInstaller)

// The process-wide record of the support request, the joined session, the installed versions
// and the update checks' results. Fields are read and written whole from any thread; no
// operation spans several fields.
class SessionDetails {
  public:
    static SessionDetails& getInstance();

#define DECLARE_TEXT(field, Suffix)      \
    Text field() const {                 \
        return m_##field.get();          \
    }                                    \
    void set##Suffix(Text value) {       \
        m_##field.set(std::move(value)); \
    }
    SESSION_DETAILS_TEXT_FIELDS(DECLARE_TEXT)
#undef DECLARE_TEXT

#define DECLARE_FLAG(field, Suffix) \
    bool field() const {            \
        return m_##field.load();    \
    }                               \
    void set##Suffix(bool value) {  \
        m_##field.store(value);     \
    }
    SESSION_DETAILS_FLAG_FIELDS(DECLARE_FLAG)
#undef DECLARE_FLAG

#define DECLARE_OPTIONAL_FLAG(field, Suffix)      \
    std::optional<bool> field() const {           \
        return m_##field.get();                   \
    }                                             \
    void set##Suffix(std::optional<bool> value) { \
        m_##field.set(value);                     \
    }
    SESSION_DETAILS_OPTIONAL_FLAG_FIELDS(DECLARE_OPTIONAL_FLAG)
#undef DECLARE_OPTIONAL_FLAG

    std::int32_t retryCounter() const {
        return m_retryCounter.load();
    }
    void setRetryCounter(std::int32_t value) {
        m_retryCounter.store(value);
    }

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

#define MEMBER_TEXT(field, Suffix) WholeValue<Text> m_##field;
    SESSION_DETAILS_TEXT_FIELDS(MEMBER_TEXT)
#undef MEMBER_TEXT
#define MEMBER_FLAG(field, Suffix) std::atomic<bool> m_##field{false};
    SESSION_DETAILS_FLAG_FIELDS(MEMBER_FLAG)
#undef MEMBER_FLAG
#define MEMBER_OPTIONAL_FLAG(field, Suffix) WholeValue<std::optional<bool>> m_##field;
    SESSION_DETAILS_OPTIONAL_FLAG_FIELDS(MEMBER_OPTIONAL_FLAG)
#undef MEMBER_OPTIONAL_FLAG
    std::atomic<std::int32_t> m_retryCounter{0};
    std::atomic<platform::FileManager*> m_defaultOrvoDirectoryManager{nullptr};
};
