#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ImageTurn.h"

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

    // The agent's turn, held until the run's last step ends, so the next run waits for it.
    void setImageTurn(ImageTurn::Pass turn) { m_turn = std::move(turn); }

  private:
    ImageTurn::Pass m_turn;
};
