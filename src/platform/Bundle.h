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
    // Resources/<language>.lproj/<name> when the customer's language has its own copy of the
    // resource, else Resources/<name>. The static form needs no Info.plist read.
    std::string pathForResource(const std::string& name) const {
        return pathForResource(name, m_path);
    }
    static std::string pathForResource(const std::string& name, const std::string& bundlePath);
    // Contents/Info.plist as a dictionary; empty when missing or unreadable.
    const PlistDictionary& infoDictionary() const { return m_info; }
    const PlistValue* objectForInfoDictionaryKey(const std::string& key) const;
    // CFBundleShortVersionString; absent when the Info.plist is missing, unreadable or lacks it.
    std::optional<std::string> shortVersionString() const;
    // Contents/MacOS/<CFBundleExecutable> when the Info.plist names one this user may run:
    // a copy cut short lacks it.
    std::optional<std::string> executablePath() const;

    // Negative, zero or positive as `a` is older than, the same as or newer than `b`,
    // compared as versions: 1.10 is newer than 1.9.
    static int compareVersions(const std::string& a, const std::string& b);

  private:
    Bundle(std::string path, PlistDictionary info)
        : m_path(std::move(path)), m_info(std::move(info)) {}

    std::string m_path;
    PlistDictionary m_info;
};

}  // namespace platform
