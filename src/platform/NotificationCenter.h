#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// The process's default notification center: named notifications without payload,
// delivered synchronously on the posting thread.
class NotificationCenter {
  public:
    static NotificationCenter& defaultCenter();

    void addObserver(const void* observer, const std::string& name, std::function<void()> handler);
    // Removes every registration of the observer.
    void removeObserver(const void* observer);
    // Calls each handler registered for the name, in order of registration. Handlers may
    // add or remove observers while they run.
    void post(const std::string& name);

  private:
    struct Registration {
        const void* observer;
        std::string name;
        std::shared_ptr<std::function<void()>> handler;
    };

    std::mutex m_mutex;
    std::vector<Registration> m_registrations;
};

}  // namespace platform
