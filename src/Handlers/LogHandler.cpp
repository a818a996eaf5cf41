#include "LogHandler.h"

#include "../Objects/SessionDetails.h"
#include "../platform/FileManager.h"
#include "../platform/FolderWatch.h"
#include "../platform/StandardStreams.h"
#include "KelvanePaths.h"
#include "Logging.h"

namespace {

// Single-precision 0.1, as the tick has always been scheduled.
constexpr double kTickInterval = static_cast<double>(0.1f);

platform::FileManager& fileManager() {
    return SessionDetails::getInstance().orvoDirectoryManager();
}

}  // namespace

std::string LogHandler::currentLogPath() const {
    return m_orvoKelvaneLogFolder.value_or("") + "orvoKelvane.log";
}

std::string LogHandler::backupLogPath(std::int32_t index) const {
    return m_orvoKelvaneLogFolder.value_or("") + platform::format("orvoKelvane%d.log", index);
}

void LogHandler::createOrvoKelvaneLogFolder() {
    static constexpr const char* kFunction = "-[LogHandler createOrvoKelvaneLogFolder]";
    guarded(kFunction, [&] {
        m_orvoKelvaneLogFolder = KelvanePaths::orvoKelvaneLogFolder();
        platform::Status created = fileManager().createDirectory(*m_orvoKelvaneLogFolder, true);
        if (created) {
            logLine("%s Orvo Kelvane Log Folder Created...", kFunction);
        } else {
            logLine("%s Failed to Create Orvo Kelvane Log Folder... %@", kFunction,
                    created.errorDescription());
        }
        loggingFile(loggingTimer());
        startLoggingTimer();
    });
}

void LogHandler::startLoggingTimer() {
    guarded("-[LogHandler startLoggingTimer]", [&] {
        m_loggingTimer = platform::MainLoop::main().scheduleTimer(
            kTickInterval, true, [this] { loggingFile(loggingTimer()); });
    });
}

void LogHandler::loggingFile(platform::Timer* /*timer*/) {
    guarded("-[LogHandler loggingFile:]", [&] {
        std::string current = currentLogPath();
        // A tick that finds the streams still on the log only flushes them; they are reopened
        // when the file was removed, moved or replaced, and once after every rotation.
        bool reopened = true;
        if (m_rotatedSinceReopen) {
            platform::StandardStreams::reopenAllOnto(current);
            m_rotatedSinceReopen = false;
        } else {
            reopened = platform::StandardStreams::keepAllOnto(current);
        }
        std::uint64_t size = fileManager().fileSize(current).value_or(0);
        bool quiet = !reopened && size == m_sizeAtLastTick;
        m_sizeAtLastTick = size;
        if (size > kMaximumLogSize) {
            rotate();
        } else if (quiet) {
            pauseUntilTheLogFolderChanges();
        }
    });
}

void LogHandler::pauseUntilTheLogFolderChanges() {
    // Only the running timer pauses; a tick called directly leaves it alone.
    if (!m_loggingTimer || !m_loggingTimer->isValid() || !m_orvoKelvaneLogFolder) return;
    auto watch =
        platform::FolderWatch::start(*m_orvoKelvaneLogFolder, [this] { resumeLoggingTimer(); });
    if (!watch) return;  // nothing would wake it: it keeps ticking
    // Whatever changed after this tick looked and before the watch began is caught here.
    std::string current = currentLogPath();
    if (platform::StandardStreams::keepAllOnto(current) ||
        fileManager().fileSize(current).value_or(0) != m_sizeAtLastTick) {
        return;
    }
    m_quietWatch = std::move(watch);
    m_loggingTimer->invalidate();
}

void LogHandler::resumeLoggingTimer() {
    m_quietWatch.reset();
    startLoggingTimer();
}

void LogHandler::rotate() {
    // Other threads' lines wait until the log is copied and emptied, so none is lost between.
    platform::StandardStreams::runWithOutputHeld([this] { rotateHeld(); });
}

void LogHandler::rotateHeld() {
    platform::FileManager& files = fileManager();
    // Shift every backup up by one, oldest first, then the current log becomes backup 0.
    for (std::int32_t i = m_logFileNameCount; i >= 0; --i) {
        std::string destination = backupLogPath(i);
        std::string source = i > 0 ? backupLogPath(i - 1) : currentLogPath();
        if (files.fileExistsAtPath(destination)) (void)files.removeItem(destination);
        (void)files.copyItem(source, destination);
    }
    if (m_logFileNameCount != kMaximumBackupIndex) ++m_logFileNameCount;
    // The streams are in append mode, so they go on writing at the new end.
    (void)files.truncateFile(currentLogPath());
    m_rotatedSinceReopen = true;
}
