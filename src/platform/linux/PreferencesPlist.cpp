#include "PreferencesPlist.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "../Bundle.h"
#include "../FileManager.h"
#include "../Log.h"
#include "../SearchPaths.h"

namespace platform {

namespace {

constexpr const char* kFallbackDomain = "com.Orvo.Tendra.OrvoTendraKelvane";

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
    return kFallbackDomain;
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
    static PlistPreferences preferences(
        SearchPaths::userLibraryDirectory() + "/Preferences/" + standardDomain() + ".plist",
        processArguments());
    return preferences;
}

PlistPreferences::PlistPreferences(std::string path, const std::vector<std::string>& arguments)
    : m_path(std::move(path)), m_arguments(parseArgumentDomain(arguments)) {
    load();
}

PlistPreferences::~PlistPreferences() { synchronize(); }

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
    std::string error;
    auto root = PropertyList::readFile(m_path, &error);
    if (root && root->dictionary()) {
        m_stored = *root->dictionary();
        return;
    }
    if (root) error = "its root is not a dictionary";
    // Keep the unreadable file for inspection instead of overwriting it at the next save.
    std::string aside = m_path + ".corrupt-" + timestampForFileName();
    Status moved = files.moveItem(m_path, aside);
    NSLog("Preferences file " + m_path + " could not be read (" + error + "); " +
          (moved ? "kept aside as " + aside : "could not keep it aside: " + moved.errorDescription()) +
          "; starting with empty preferences.");
}

std::optional<PlistValue> PlistPreferences::objectForKey(const std::string& key) const {
    if (auto it = m_arguments.find(key); it != m_arguments.end()) return it->second;
    std::lock_guard lock(m_mutex);
    if (auto it = m_stored.find(key); it != m_stored.end()) return it->second;
    return std::nullopt;
}

void PlistPreferences::setObject(const std::string& key, PlistValue value) {
    std::lock_guard lock(m_mutex);
    auto it = m_stored.find(key);
    if (it != m_stored.end() && it->second == value) return;  // nothing to write
    m_stored.insert_or_assign(key, std::move(value));
    m_dirty = true;
}

void PlistPreferences::removeObjectForKey(const std::string& key) {
    std::lock_guard lock(m_mutex);
    if (m_stored.erase(key) > 0) m_dirty = true;
}

bool PlistPreferences::synchronize() {
    std::lock_guard lock(m_mutex);
    if (!m_dirty) return true;
    FileManager& files = FileManager::defaultManager();
    std::string folder = std::filesystem::path(m_path).parent_path().string();
    if (!files.directoryExistsAtPath(folder)) (void)files.createDirectory(folder, true);
    // The page's messages write through one by one, so a flush to the disk on each would make
    // a burst of them crawl; the rename alone already keeps a killed process from leaving a
    // broken file.
    Status written = files.writeContentsAtomically(m_path, PropertyList::toXml(m_stored), false);
    if (!written) {
        NSLog("Preferences could not be saved: " + written.errorDescription());
        return false;
    }
    m_dirty = false;
    return true;
}

PlistDictionary PlistPreferences::dictionaryRepresentation() const {
    PlistDictionary all;
    {
        std::lock_guard lock(m_mutex);
        all = m_stored;
    }
    for (const auto& [key, value] : m_arguments) all.insert_or_assign(key, value);
    return all;
}

}  // namespace platform
