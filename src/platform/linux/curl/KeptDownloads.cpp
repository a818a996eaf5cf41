#include "KeptDownloads.h"

#include <sys/stat.h>
#include <unistd.h>

namespace platform::curl {

void KeptDownloads::add(const std::string& location, const std::string& destination,
                        const std::optional<partial::Record>& resumable) {
    std::lock_guard lock(m_mutex);
    m_unfinished[location] = Unfinished{destination, resumable};
}

void KeptDownloads::update(const std::string& location,
                           const std::optional<partial::Record>& resumable) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_unfinished.find(location); it != m_unfinished.end())
        it->second.resumable = resumable;
}

bool KeptDownloads::finish(std::initializer_list<std::string> locations) {
    std::lock_guard lock(m_mutex);
    bool mine = true;
    for (const std::string& location : locations) {
        if (!location.empty()) mine = m_unfinished.erase(location) > 0 && mine;
    }
    return mine;
}

void KeptDownloads::keepOrRemoveAll() {
    std::lock_guard lock(m_mutex);
    for (const auto& [location, unfinished] : m_unfinished)
        keepOrRemove(location, unfinished.destination, unfinished.resumable);
    m_unfinished.clear();
}

void KeptDownloads::keepOrRemove(const std::string& location, const std::string& destination,
                                 const std::optional<partial::Record>& resumable) {
    struct stat about {};
    bool kept = resumable && ::stat(location.c_str(), &about) == 0 && about.st_size > 0 &&
                static_cast<std::uint64_t>(about.st_size) < resumable->total &&
                partial::keep(location, destination, *resumable);
    if (!kept) ::unlink(location.c_str());
}

}  // namespace platform::curl
