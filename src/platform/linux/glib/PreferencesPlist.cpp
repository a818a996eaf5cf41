#include "PreferencesPlist.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "../../Bundle.h"
#include "../../FileManager.h"
#include "../../Log.h"
#include "../../ProductIdentity.h"
#include "../../SearchPaths.h"
#include "../support/Owned.h"

namespace platform {

namespace {

std::vector<std::string> processArguments() {
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    std::string current;
    for (char c : raw) {
        if (c == '\0') {
            arguments.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    return arguments;
}

std::string standardDomain() {
    if (auto bundle = Bundle::bundleWithPath(Bundle::mainBundlePath())) {
        if (auto* value = bundle->objectForInfoDictionaryKey("CFBundleIdentifier")) {
            if (auto* identifier = value->string(); identifier && !identifier->empty()) {
                return *identifier;
            }
        }
    }
    return productIdentity().applicationId;
}

std::string timestampForFileName() {
    std::time_t now = std::time(nullptr);
    tm local;
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

}  // namespace

Preferences& Preferences::standardUserDefaults() {
    // Made when first needed, so a test's store in its place leaves the user's file unread.
    return replacedOrMade([]() -> Preferences& {
        static PlistPreferences preferences(SearchPaths::shared().userLibraryDirectory() +
                                                "/Preferences/" + standardDomain() + ".plist",
                                            processArguments());
        return preferences;
    });
}

std::unique_ptr<Preferences> Preferences::atPath(const std::string& path) {
    return std::make_unique<PlistPreferences>(path, std::vector<std::string>{});
}

PlistPreferences::PlistPreferences(std::string path, const std::vector<std::string>& arguments)
    : m_path(std::move(path)), m_arguments(parseArgumentDomain(arguments)) {
    load();
}

PlistPreferences::~PlistPreferences() {
    {
        std::lock_guard lock(m_backgroundMutex);
        m_stopping = true;
    }
    m_backgroundWake.notify_all();
    if (m_writer && m_writerProcess == ::getpid()) {
        m_writer->join();
    } else {
        (void)m_writer.release();  // the parent process's thread, copied by fork: not ours
    }
    synchronize();
}

PlistDictionary PlistPreferences::parseArgumentDomain(const std::vector<std::string>& arguments) {
    PlistDictionary domain;
    // arguments[0] is the program itself.
    for (std::size_t i = 1; i + 1 < arguments.size();) {
        const std::string& argument = arguments[i];
        if (argument.size() > 1 && argument[0] == '-' && argument[1] != '-') {
            domain.insert_or_assign(argument.substr(1), arguments[i + 1]);
            i += 2;
        } else {
            i += 1;
        }
    }
    return domain;
}

void PlistPreferences::load() {
    FileManager& files = FileManager::defaultManager();
    if (!files.fileExistsAtPath(m_path)) return;
    auto root = PropertyList::readFile(m_path);
    if (root && root->dictionary()) {
        m_stored = *root->dictionary();
        return;
    }
    std::string error = root ? "its root is not a dictionary" : root.error();
    // Keep the unreadable file for inspection instead of overwriting it at the next save.
    std::string aside = m_path + ".corrupt-" + timestampForFileName();
    Status moved = files.moveItem(m_path, aside);
    NSLog("Preferences file " + m_path + " could not be read (" + error + "); " +
          (moved ? "kept aside as " + aside
                 : "could not keep it aside: " + moved.errorDescription()) +
          "; starting with empty preferences.");
}

std::optional<PlistValue> PlistPreferences::objectForKey(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    if (auto it = m_arguments.find(key); it != m_arguments.end()) return it->second;
    if (auto it = m_stored.find(key); it != m_stored.end()) return it->second;
    return std::nullopt;
}

void PlistPreferences::setObject(const std::string& key, PlistValue value) {
    std::lock_guard lock(m_mutex);
    auto it = m_stored.find(key);
    if (it != m_stored.end() && it->second == value && !m_changes.count(key)) return;
    m_stored.insert_or_assign(key, value);
    m_changes.insert_or_assign(key, std::move(value));
}

void PlistPreferences::removeObjectForKey(const std::string& key) {
    std::lock_guard lock(m_mutex);
    if (m_stored.erase(key) > 0 || m_changes.count(key))
        m_changes.insert_or_assign(key, std::nullopt);
}

namespace {

// Holds an advisory lock on a folder, so that processes writing files in it take turns.
class FolderLock {
  public:
    explicit FolderLock(const std::string& folder)
        : m_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (m_fd) ::flock(m_fd.get(), LOCK_EX);
    }

  private:
    support::FileDescriptor m_fd;  // closing it lets go of the lock
};

void applyChanges(const std::map<std::string, std::optional<PlistValue>>& changes,
                  PlistDictionary& values) {
    for (const auto& [key, value] : changes) {
        if (value) {
            values.insert_or_assign(key, *value);
        } else {
            values.erase(key);
        }
    }
}

}  // namespace

bool PlistPreferences::synchronize() {
    std::lock_guard writing(m_writing);
    Changes changes;
    PlistDictionary known;
    {
        std::lock_guard lock(m_mutex);
        if (m_changes.empty()) return true;
        changes = m_changes;
        known = m_stored;
    }
    FileManager& files = FileManager::defaultManager();
    std::string folder = std::filesystem::path(m_path).parent_path().string();
    if (!files.directoryExistsAtPath(folder)) (void)files.createDirectory(folder, true);
    FolderLock turn(folder);
    // Another process may have stored values since this one read the file: they are kept, and
    // this process's own changes applied over them. A file that is gone or unreadable now
    // gives way to what this process knows.
    PlistDictionary merged = known;
    if (files.fileExistsAtPath(m_path)) {
        if (auto current = PropertyList::readFile(m_path); current && current->dictionary()) {
            merged = *current->dictionary();
            applyChanges(changes, merged);
        }
    }
    // The page's messages write through one by one, so a flush to the disk on each would make
    // a burst of them crawl; the rename alone already keeps a killed process from leaving a
    // broken file.
    Status written = files.writeContentsAtomically(m_path, PropertyList::toXml(merged), false);
    if (!written) {
        NSLog("Preferences could not be saved: " + written.errorDescription());
        return false;
    }
    std::lock_guard lock(m_mutex);
    // Changes made while the file was written stay to be written next time.
    for (const auto& [key, value] : changes) {
        if (auto it = m_changes.find(key); it != m_changes.end() && it->second == value)
            m_changes.erase(it);
    }
    applyChanges(m_changes, merged);
    m_stored = std::move(merged);
    return true;
}

void PlistPreferences::synchronizeInBackground() {
    std::lock_guard lock(m_backgroundMutex);
    m_backgroundWanted = true;
    if (m_writerProcess != ::getpid()) {
        (void)m_writer.release();  // the parent process's thread, copied by fork: not ours
        m_writerProcess = ::getpid();
        m_writer = std::make_unique<std::thread>([this] { writeInBackground(); });
    }
    m_backgroundWake.notify_one();
}

void PlistPreferences::writeInBackground() {
    std::unique_lock lock(m_backgroundMutex);
    for (;;) {
        m_backgroundWake.wait(lock, [this] { return m_backgroundWanted || m_stopping; });
        if (m_stopping) return;
        m_backgroundWanted = false;
        lock.unlock();
        (void)synchronize();
        lock.lock();
    }
}

PlistDictionary PlistPreferences::dictionaryRepresentation() const {
    PlistDictionary all;
    std::lock_guard lock(m_mutex);
    all = m_stored;
    for (const auto& [key, value] : m_arguments) all.insert_or_assign(key, value);
    return all;
}

void PlistPreferences::replaceArgumentDomain(const std::vector<std::string>& launchArguments) {
    std::vector<std::string> arguments{""};  // in the program's place
    arguments.insert(arguments.end(), launchArguments.begin(), launchArguments.end());
    PlistDictionary domain = parseArgumentDomain(arguments);
    std::lock_guard lock(m_mutex);
    m_arguments = std::move(domain);
}

}  // namespace platform
