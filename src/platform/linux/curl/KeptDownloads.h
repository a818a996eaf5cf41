#pragma once

#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "PartialDownload.h"

namespace platform::curl {

// The files of downloads under way, for the end of the process, which does not wait for
// them: what each fetched is kept as a partial where it can be continued, else removed.
// Safe from any thread.
class KeptDownloads {
  public:
    void add(const std::string& location, const std::string& destination,
             const std::optional<partial::Record>& resumable);
    // What the bytes at `location` can now be continued as; nothing: they cannot.
    void update(const std::string& location, const std::optional<partial::Record>& resumable);
    // The download whose files are at `locations` (empty ones are none) has ended; false when
    // the end of the process dealt with its files already, which the caller must then leave
    // alone.
    bool finish(std::initializer_list<std::string> locations);
    // Keeps or removes the file of every download under way.
    void keepOrRemoveAll();

    // What a broken download fetched stays where it can be continued; anything else goes.
    static void keepOrRemove(const std::string& location, const std::string& destination,
                             const std::optional<partial::Record>& resumable);

  private:
    struct Unfinished {
        std::string destination;
        std::optional<partial::Record> resumable;
    };

    std::mutex m_mutex;
    std::map<std::string, Unfinished> m_unfinished;  // by the file's location
};

}  // namespace platform::curl
