#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PropertyList.h"
#include "Replaceable.h"

namespace platform {

// The per-user preferences store. Launch arguments of the form "-Key value" form an argument
// domain that wins over stored values and is never written back. Safe from any thread.
class Preferences : public Replaceable<Preferences> {
  public:
    virtual ~Preferences() = default;

    static Preferences& standardUserDefaults();
    // A store of its own kept in `path`, without an argument domain; tests put one in the
    // shared store's place.
    static std::unique_ptr<Preferences> atPath(const std::string& path);

    // The value that a read sees: argument domain first, then the stored value.
    virtual std::optional<PlistValue> objectForKey(const std::string& key) const = 0;
    std::optional<std::string> stringForKey(const std::string& key) const;
    // 0 when absent; text is read as a number where it holds one, as macOS does.
    std::int64_t integerForKey(const std::string& key) const;
    // false when absent; "YES"/"true"/non-zero numbers read as true.
    bool boolForKey(const std::string& key) const;

    virtual void setObject(const std::string& key, PlistValue value) = 0;
    void setString(const std::string& key, const std::string& value) { setObject(key, value); }
    void setInteger(const std::string& key, std::int64_t value) { setObject(key, value); }
    void setBool(const std::string& key, bool value) { setObject(key, value); }
    virtual void removeObjectForKey(const std::string& key) = 0;

    // Writes unsaved changes to disk and waits for it. The file is read again first and this
    // process's changes applied to it, so values another process stored meanwhile are kept.
    // False when the write failed.
    virtual bool synchronize() = 0;
    // The same write, made on a thread of its own so the caller (the main thread) never waits
    // for the disk; writes asked for while one runs are made as one. A failure is logged.
    virtual void synchronizeInBackground() = 0;

    // The file the values are stored in.
    virtual std::string storePath() const = 0;

    // Every visible key and value, argument domain applied.
    virtual PlistDictionary dictionaryRepresentation() const = 0;

    // The argument domain made anew from `launchArguments` (what follows the program): a later
    // start's arguments take the place of this process's own when its request is taken over.
    virtual void replaceArgumentDomain(const std::vector<std::string>& launchArguments) = 0;
};

}  // namespace platform
