#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Status.h"

namespace platform {

struct PlistValue;
using PlistDictionary = std::map<std::string, PlistValue>;
using PlistArray = std::vector<PlistValue>;

struct PlistData {
    std::string bytes;
    bool operator==(const PlistData&) const = default;
};

struct PlistDate {
    double secondsSinceReferenceDate = 0;  // reference date: 2001-01-01 00:00:00 UTC
    bool operator==(const PlistDate&) const = default;
};

// One node of a property list.
struct PlistValue {
    using Storage = std::variant<std::string, std::int64_t, bool, double, PlistData, PlistDate,
                                 PlistArray, PlistDictionary>;
    Storage value;

    PlistValue() : value(std::string()) {}
    template <typename T>
    requires std::is_constructible_v<Storage, T&&> PlistValue(T&& v) : value(std::forward<T>(v)) {}
    PlistValue(const char* text) : value(std::string(text)) {}
    PlistValue(int number) : value(std::int64_t{number}) {}

    template <typename T>
    const T* get() const {
        return std::get_if<T>(&value);
    }
    const std::string* string() const { return get<std::string>(); }
    const PlistDictionary* dictionary() const { return get<PlistDictionary>(); }

    bool operator==(const PlistValue&) const = default;
};

namespace PropertyList {

// Parses property-list bytes, XML or binary; a failure says why. No input can stop or hang
// the process.
Result<PlistValue> parse(const std::string& bytes);

// Reads and parses a property-list file.
Result<PlistValue> readFile(const std::string& path);

// The value as an XML property list. Text is written as XML can hold it: characters XML
// forbids are left out and bytes that are no UTF-8 become U+FFFD, with a log line saying so.
std::string toXml(const PlistValue& value);

}  // namespace PropertyList

}  // namespace platform
