#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// Every folder and file this application and its agent share, and the limits the image steps
// share, in one place that depends on nothing else of the working classes. The classes that
// own a path keep their named operation as a forwarder to it.
class KelvanePaths {
  public:
    // "~/Library/Application Support/OrvoKelvaneNativeFolder/", trailing slash included: the
    // staged update, the image it comes in and the configuration file copied from its volume.
    static std::string orvoKelvaneNativeFolder();
    // "~/Library/Application Support/ConveloNative/", trailing slash included: the agent and
    // what it reads.
    static std::string conveloNativeFolder();
    // "~/Library/Logs/OrvoTendra": the connection settings file and our own log folder.
    static std::string orvoTendraLogsFolder();
    // The rotating log's folder, trailing slash included.
    static std::string orvoKelvaneLogFolder();

    static std::string connectionSettingsFile();
    static std::string joinDetailsFile();
    // The configuration file copied from the volume, and the preferences file that, when
    // present, takes its place.
    static std::string infoPlistFile();
    static std::string preferencesPlistFile();

    static std::string installedAgent();
    // The installed agent as the version check and the removal before a download spell it:
    // with a doubled slash, which the file system reads as one and their log lines show.
    static std::string installedAgentAsJoined();
    static std::string agentImage();
    static std::string agentVolume();

    static std::string stagedBundle();
    // Where a staged bundle is copied before it is renamed into place.
    static std::string stagedBundleCopy();
    static std::string updateImage();
    static std::string updateVolumeBundle();
    // The copy the customer starts from the menu, which the staged bundle replaces at exit.
    static std::string installedApplication();
    // Private copies of the bundle that starts from the Kelvane volume runs from, one folder
    // per process id.
    static std::string volumeStartCopies();

    KelvanePaths() = delete;
};

// The longest the disk-image tool may run: mounting even a large image takes seconds, and a
// run that has not ended after this never will. Provisioning and staging runs take turns, so
// a stuck tool would otherwise hold up every later join.
inline constexpr std::chrono::seconds kDiskToolTimeLimit{60};
// An image download's idle time-out: a line that keeps moving above the useful rate is never
// cut, however long the image takes; the run's turn is let go when the line stalls.
inline constexpr double kImageDownloadIdleSeconds = 240;
// Far above any real image; only a server gone wrong sends more.
inline constexpr std::uint64_t kMaximumImageBytes = std::uint64_t(2) << 30;
