#include "Bundle.h"

#include "FileManager.h"
#include "Localization.h"

namespace platform {

std::optional<Bundle> Bundle::bundleWithPath(const std::string& path) {
    if (!FileManager::defaultManager().directoryExistsAtPath(path)) return std::nullopt;
    PlistDictionary info;
    if (auto root = PropertyList::readFile(path + "/Contents/Info.plist")) {
        if (auto* dictionary = root->dictionary()) info = *dictionary;
    }
    return Bundle(path, std::move(info));
}

const PlistValue* Bundle::objectForInfoDictionaryKey(const std::string& key) const {
    auto it = m_info.find(key);
    return it == m_info.end() ? nullptr : &it->second;
}

std::string Bundle::pathForResource(const std::string& name, const std::string& bundlePath) {
    std::string resources = bundlePath + "/Contents/Resources/";
    std::string language = Localization::language();
    std::string localized = resources + language + ".lproj/" + name;
    // A regional catalogue ("pt_BR") may share its language's pages ("pt").
    std::string base = resources + language.substr(0, language.find('_')) + ".lproj/" + name;
    FileManager& files = FileManager::defaultManager();
    if (files.fileExistsAtPath(localized)) return localized;
    if (files.fileExistsAtPath(base)) return base;
    return resources + name;
}

std::optional<std::string> Bundle::shortVersionString() const {
    const PlistValue* version = objectForInfoDictionaryKey("CFBundleShortVersionString");
    if (!version || !version->string()) return std::nullopt;
    return *version->string();
}

}  // namespace platform
