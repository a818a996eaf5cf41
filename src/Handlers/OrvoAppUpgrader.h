#pragma once

#include <memory>
#include <mutex>
#include <string>

class OrvoDmgDownloader;

// Knows which agent build is installed, writes the join-details file, and chooses between
// starting the installed agent and downloading a new one. One instance per process.
class OrvoAppUpgrader {
  public:
    static OrvoAppUpgrader& getInstance();

    void orvoAppVersionCheck();
    // Runs on the thread of the agent update check's completion.
    void orvoAppUpdater();
    void modifyOrvoJoinDetails();

    // The join-details file's content from the session state.
    static std::string joinDetailsContent();

    OrvoAppUpgrader(const OrvoAppUpgrader&) = delete;
    OrvoAppUpgrader& operator=(const OrvoAppUpgrader&) = delete;

  private:
    OrvoAppUpgrader() = default;

    std::mutex m_mutex;
    std::shared_ptr<OrvoDmgDownloader> m_downloader;  // kept alive while its download runs
};
