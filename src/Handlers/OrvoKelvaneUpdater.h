#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

// Downloads the newer build of this application that the self-update check announced and
// stages it in the native folder; the running bundle is replaced only at exit.
class OrvoKelvaneUpdater : public std::enable_shared_from_this<OrvoKelvaneUpdater> {
  public:
    // A new updater on every call; it stays alive while its download runs.
    static std::shared_ptr<OrvoKelvaneUpdater> getInstance();

    void checkOrvoKelvaneUpdate();
    void downloadKelvanedmg();
    void mountingOrvoKelvaneDmg();
    void copyAppFile();
    void unMountingOrvoKelvaneDmg();

    const std::optional<std::string>& latestKelvaneDmgPath() const {
        return m_latestKelvaneDmgPath;
    }

    // Marks a staging run from its download's end to the detach; the exit step waits while
    // one exists.
    class StagingRun {
      public:
        StagingRun();
        ~StagingRun();
        StagingRun(const StagingRun&) = delete;
        StagingRun& operator=(const StagingRun&) = delete;
    };

    // Waits until no staging run is copying a bundle, for at most `limit`; true when none is.
    static bool waitForStagingToSettle(std::chrono::milliseconds limit);

  private:
    OrvoKelvaneUpdater() = default;

    std::optional<std::string> m_latestKelvaneDmgPath;
};
