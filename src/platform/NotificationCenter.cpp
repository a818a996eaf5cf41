#include "NotificationCenter.h"

#include <algorithm>
#include <memory>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(const void* observer, const std::string& name,
                                     std::function<void()> handler) {
    std::lock_guard lock(m_mutex);
    m_registrations.push_back(
        {observer, name, std::make_shared<std::function<void()>>(std::move(handler))});
}

void NotificationCenter::removeObserver(const void* observer) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_registrations,
                  [observer](const Registration& r) { return r.observer == observer; });
}

void NotificationCenter::post(const std::string& name) {
    // Handlers run outside the lock so they can change the registrations; a handler removed
    // by an earlier one in the same post is skipped.
    std::vector<std::pair<const void*, std::shared_ptr<std::function<void()>>>> targets;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& r : m_registrations) {
            if (r.name == name) targets.emplace_back(r.observer, r.handler);
        }
    }
    for (const auto& target : targets) {
        const auto& handler = target.second;
        bool stillRegistered;
        {
            std::lock_guard lock(m_mutex);
            stillRegistered =
                std::any_of(m_registrations.begin(), m_registrations.end(),
                            [&handler](const Registration& r) { return r.handler == handler; });
        }
        if (stillRegistered) (*handler)();
    }
}

}  // namespace platform
