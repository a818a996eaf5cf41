#pragma once

#include <memory>
#include <string>
#include <vector>

// Downloads the agent's disk image, installs the agent and its companion items into the
// Convelo native folder and starts it. One per provisioning run.
class OrvoDmgDownloader : public std::enable_shared_from_this<OrvoDmgDownloader> {
  public:
    static const std::vector<std::string>& launchArguments();
    static const std::vector<std::string>& companionItems();

    // Returns at once; the rest runs on the download's completion thread.
    void startDownLoadingOrvoMacDmg();
    void mountingOrvoMacDmg();
    void copyAppFileAndLaunch();
    void unMountingOrvoMacDmg();
    bool workspaceLaunchApplication(const std::string& path);

    // Held until the run's last step ends, so the next run waits for it.
    void setProvisioningPass(std::shared_ptr<void> pass) { m_pass = std::move(pass); }

    static std::string downloadedImagePath();
    static std::string installedAgentPath();
    static std::string agentVolumePath();

  private:
    void downloadFinished(const std::string& location, const std::string& block);
    const std::string& lastAddress() const { return m_lastAddress; }

    std::string m_lastAddress;  // for the failure line
    std::shared_ptr<void> m_pass;
};
