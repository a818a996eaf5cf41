#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "../platform/FolderWatch.h"
#include "../platform/MainLoop.h"

// Keeps the process's standard streams pointed at the rotating log file
// ~/Library/Logs//OrvoTendra/OrvoKelvane/orvoKelvane.log. Lives on the main thread.
class LogHandler {
  public:
    static constexpr std::uint64_t kMaximumLogSize = 262144;  // rotate above 256 KiB
    static constexpr std::int32_t kMaximumBackupIndex = 10;

    // Creates the folder, redirects the streams and starts the 0.1 s tick.
    void createOrvoKelvaneLogFolder();
    // One tick: reopens the streams onto the log file and rotates it when too large.
    void loggingFile(platform::Timer* timer);
    void startLoggingTimer();

    const std::optional<std::string>& orvoKelvaneLogFolder() const {
        return m_orvoKelvaneLogFolder;
    }
    void setOrvoKelvaneLogFolder(std::optional<std::string> folder) {
        m_orvoKelvaneLogFolder = std::move(folder);
    }
    platform::Timer* loggingTimer() const { return m_loggingTimer.get(); }
    void setLoggingTimer(std::unique_ptr<platform::Timer> timer) {
        m_loggingTimer = std::move(timer);
    }
    std::int32_t logFileNameCount() const { return m_logFileNameCount; }
    void setLogFileNameCount(std::int32_t count) { m_logFileNameCount = count; }

    std::string currentLogPath() const;
    std::string backupLogPath(std::int32_t index) const;

  private:
    void rotate();
    void rotateHeld();
    // A tick that found nothing to do stops the timer until something in the log folder
    // changes: every write to the log, from this process or another, and every removal or
    // move wakes it, and the next tick comes 0.1 s later. An idle process then does not wake.
    void pauseUntilTheLogFolderChanges();
    void resumeLoggingTimer();

    std::optional<std::string> m_orvoKelvaneLogFolder;
    std::unique_ptr<platform::Timer> m_loggingTimer;
    std::int32_t m_logFileNameCount = 0;
    // The streams are reopened on the tick after a rotation, not only when the file changed.
    bool m_rotatedSinceReopen = false;
    std::uint64_t m_sizeAtLastTick = 0;
    std::unique_ptr<platform::FolderWatch> m_quietWatch;
};
