// kelvane-support-logs: packs what support needs into one archive in the user's Downloads
// folder and shows it there: the log with its backups, the application's and the agent's
// versions, the operating system, and the stored settings with every password taken out (from
// the settings and from any log line that carries one). It only reads the application's files,
// so it works while the application runs and never starts it.
#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "Product.h"
#include "platform/Bundle.h"
#include "platform/FileManager.h"
#include "platform/PropertyList.h"
#include "platform/SearchPaths.h"
#include "platform/SystemVersion.h"
#include "platform/Workspace.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kRemoved = "(removed)";

bool namesAPassword(std::string key) {
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key.find("password") != std::string::npos || key.find("passwd") != std::string::npos;
}

// Replaces every value stored under a password's name, at any depth, and remembers it.
void takeOutPasswords(platform::PlistValue& value, std::set<std::string>& secrets) {
    if (auto* dictionary = std::get_if<platform::PlistDictionary>(&value.value)) {
        for (auto& [key, item] : *dictionary) {
            if (namesAPassword(key)) {
                if (const std::string* text = item.string(); text && !text->empty())
                    secrets.insert(*text);
                item = kRemoved;
            } else {
                takeOutPasswords(item, secrets);
            }
        }
    } else if (auto* array = std::get_if<platform::PlistArray>(&value.value)) {
        for (auto& item : *array) takeOutPasswords(item, secrets);
    }
}

std::string withoutSecrets(std::string text, const std::set<std::string>& secrets) {
    for (const std::string& secret : secrets) {
        for (auto at = text.find(secret); at != std::string::npos;
             at = text.find(secret, at + std::string(kRemoved).size())) {
            text.replace(at, secret.size(), kRemoved);
        }
    }
    return text;
}

std::string versionOf(const std::string& bundle) {
    auto info = platform::PropertyList::readFile(bundle + "/Contents/Info.plist");
    const platform::PlistDictionary* dictionary = info ? info->dictionary() : nullptr;
    if (!dictionary) return "not found";
    auto it = dictionary->find("CFBundleShortVersionString");
    return it != dictionary->end() && it->second.string() ? *it->second.string() : "unknown";
}

std::string readAll(const std::string& path) {
    auto contents = platform::FileManager::defaultManager().contentsAtPath(path);
    return contents ? *contents : std::string();
}

struct Entry {
    std::string name;
    std::string contents;
};

bool writeZip(const std::string& path, const std::vector<Entry>& entries) {
    archive* zip = archive_write_new();
    archive_write_set_format_zip(zip);
    bool written = archive_write_open_filename(zip, path.c_str()) == ARCHIVE_OK;
    for (const Entry& entry : entries) {
        if (!written) break;
        archive_entry* header = archive_entry_new();
        archive_entry_set_pathname(header, entry.name.c_str());
        archive_entry_set_filetype(header, AE_IFREG);
        archive_entry_set_perm(header, 0600);
        archive_entry_set_size(header, static_cast<la_int64_t>(entry.contents.size()));
        archive_entry_set_mtime(header, std::time(nullptr), 0);
        written = archive_write_header(zip, header) == ARCHIVE_OK &&
                  archive_write_data(zip, entry.contents.data(), entry.contents.size()) ==
                      static_cast<la_ssize_t>(entry.contents.size());
        archive_entry_free(header);
    }
    written = archive_write_close(zip) == ARCHIVE_OK && written;
    archive_write_free(zip);
    return written;
}

}  // namespace

int main() {
    Product::handToPlatform();
    platform::SearchPaths& paths = platform::SearchPaths::shared();
    const std::string library = paths.userLibraryDirectory();
    const std::string logs = library + "/Logs/OrvoTendra/OrvoKelvane/";

    std::set<std::string> secrets;
    std::vector<Entry> entries;
    for (const auto& [file, name] :
         {std::pair{library + "/Preferences/" + Product::kApplicationId + ".plist",
                    std::string("settings/") + Product::kApplicationId + ".plist"},
          std::pair{library + "/Logs/OrvoTendra/ConnectionSettings.plist",
                    std::string("settings/ConnectionSettings.plist")}}) {
        auto settings = platform::PropertyList::readFile(file);
        if (!settings) continue;
        takeOutPasswords(*settings, secrets);
        entries.push_back({name, platform::PropertyList::toXml(*settings)});
    }

    std::vector<std::string> logFiles = {"orvoKelvane.log"};
    for (int i = 0; i <= 10; ++i) logFiles.push_back("orvoKelvane" + std::to_string(i) + ".log");
    for (const std::string& name : logFiles) {
        if (fs::is_regular_file(logs + name))
            entries.push_back({"logs/" + name, withoutSecrets(readAll(logs + name), secrets)});
    }

    platform::SystemVersion system = platform::OperatingSystem::shared().version();
    std::string installed = paths.userApplicationsDirectory() + "/" + Product::kBundleName;
    std::string agent = library + "/Application Support/ConveloNative/Orvo.app";
    entries.push_back(
        {"versions.txt", "Application (this copy, " + platform::Bundle::mainBundlePath() +
                             "): " + versionOf(platform::Bundle::mainBundlePath()) +
                             "\nApplication installed in ~/Applications: " + versionOf(installed) +
                             "\nAgent: " + versionOf(agent) +
                             "\nOperating system: " + system.productName.value_or("unknown") + " " +
                             system.productVersion.value_or("") + "\n"});

    const std::string downloads = paths.userDownloadsDirectory();
    (void)platform::FileManager::defaultManager().createDirectory(downloads, true);
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H.%M.%S", std::localtime(&now));
    const std::string archivePath = downloads + "/Orvo Tendra Kelvane logs " + stamp + ".zip";
    // Written under a hidden name and renamed, so the folder never shows half an archive.
    const std::string partial = downloads + "/.Orvo Tendra Kelvane logs " + stamp + ".zip.part";
    if (!writeZip(partial, entries) || ::rename(partial.c_str(), archivePath.c_str()) != 0) {
        ::unlink(partial.c_str());
        std::fprintf(stderr, "kelvane-support-logs: could not write %s\n", archivePath.c_str());
        return 1;
    }
    std::printf("%s\n", archivePath.c_str());
    if (platform::Status shown = platform::Workspace::shared().showInFileManager(archivePath);
        !shown) {
        std::fprintf(stderr, "kelvane-support-logs: saved, but not shown: %s\n",
                     shown.errorDescription().c_str());
    }
    return 0;
}
