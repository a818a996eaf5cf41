#pragma once

#include <mutex>
#include <vector>

#include "../Preferences.h"

namespace platform {

// Preferences kept as an XML property list at one path; the argument domain comes from the
// given launch arguments.
class PlistPreferences final : public Preferences {
  public:
    PlistPreferences(std::string path, const std::vector<std::string>& arguments);
    ~PlistPreferences() override;

    std::optional<PlistValue> objectForKey(const std::string& key) const override;
    void setObject(const std::string& key, PlistValue value) override;
    void removeObjectForKey(const std::string& key) override;
    bool synchronize() override;
    PlistDictionary dictionaryRepresentation() const override;

    std::string storePath() const override { return m_path; }

    // "-Key value" pairs, as the system's argument domain reads them.
    static PlistDictionary parseArgumentDomain(const std::vector<std::string>& arguments);

  private:
    void load();

    const std::string m_path;
    const PlistDictionary m_arguments;
    mutable std::mutex m_mutex;
    PlistDictionary m_stored;
    bool m_dirty = false;
};

}  // namespace platform
