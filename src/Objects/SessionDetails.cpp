#include "SessionDetails.h"

#include "../platform/FileManager.h"

SessionDetails& SessionDetails::getInstance() {
    // Function-local statics are created once even when two threads arrive together.
    static SessionDetails* instance = [] {
        auto* details = new SessionDetails();  // lives until the process ends
        details->setDefaultOrvoDirectoryManager(&platform::FileManager::defaultManager());
        return details;
    }();
    return *instance;
}

platform::FileManager& SessionDetails::orvoDirectoryManager() const {
    platform::FileManager* manager = defaultOrvoDirectoryManager();
    return manager ? *manager : platform::FileManager::defaultManager();
}
