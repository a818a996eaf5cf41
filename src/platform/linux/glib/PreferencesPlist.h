#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "../../Preferences.h"

namespace platform {

// Preferences kept as an XML property list at one path; the argument domain comes from the
// given launch arguments.
class PlistPreferences final : public Preferences {
  public:
    PlistPreferences(std::string path, const std::vector<std::string>& arguments);
    ~PlistPreferences() override;

    std::optional<PlistValue> objectForKey(const std::string& key) const override;
    void setObject(const std::string& key, PlistValue value) override;
    void removeObjectForKey(const std::string& key) override;
    bool synchronize() override;
    void synchronizeInBackground() override;
    PlistDictionary dictionaryRepresentation() const override;
    void replaceArgumentDomain(const std::vector<std::string>& launchArguments) override;

    std::string storePath() const override { return m_path; }

    // "-Key value" pairs, as macOS's argument domain reads them.
    static PlistDictionary parseArgumentDomain(const std::vector<std::string>& arguments);

  private:
    // What this process set (a value) or removed (none) since its last write.
    using Changes = std::map<std::string, std::optional<PlistValue>>;

    void load();
    void writeInBackground();

    const std::string m_path;
    mutable std::mutex m_mutex;  // guards the values, the changes and the arguments, never held
                                 // for the disk
    PlistDictionary m_arguments;
    PlistDictionary m_stored;
    Changes m_changes;
    std::mutex m_writing;  // one write at a time in this process

    std::mutex m_backgroundMutex;
    std::condition_variable m_backgroundWake;
    bool m_backgroundWanted = false;
    bool m_stopping = false;
    std::unique_ptr<std::thread> m_writer;
    pid_t m_writerProcess = 0;  // a forked child has no writer thread: it starts its own
};

}  // namespace platform
