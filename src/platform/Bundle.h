#pragma once

#include <optional>
#include <string>

#include "PropertyList.h"

namespace platform {

// An application bundle laid out as <name>.app/Contents/{Info.plist,MacOS/,Resources/}.
class Bundle {
  public:
    // Path of the bundle that holds the running executable; for an executable outside any
    // bundle, the folder that holds it.
    static std::string mainBundlePath();

    // Absent when nothing exists at the path.
    static std::optional<Bundle> bundleWithPath(const std::string& path);

    const std::string& bundlePath() const { return m_path; }
    std::string resourcePath() const { return m_path + "/Contents/Resources"; }
    // Contents/Info.plist as a dictionary; empty when missing or unreadable.
    const PlistDictionary& infoDictionary() const { return m_info; }
    const PlistValue* objectForInfoDictionaryKey(const std::string& key) const;

  private:
    Bundle(std::string path, PlistDictionary info)
        : m_path(std::move(path)), m_info(std::move(info)) {}

    std::string m_path;
    PlistDictionary m_info;
};

}  // namespace platform
