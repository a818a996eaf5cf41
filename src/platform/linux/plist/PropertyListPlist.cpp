#include <plist/plist.h>

#include <cmath>
#include <memory>

#include <glib.h>

#include "../../BinaryPropertyList.h"
#include "../../FileManager.h"
#include "../../Log.h"
#include "../../PropertyList.h"

namespace platform::PropertyList {

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

struct CharFree {
    void operator()(char* text) const { std::free(text); }
};
using CharPtr = std::unique_ptr<char, CharFree>;

// libplist nests only as deep as the input; a hostile file could nest deeply enough to
// exhaust the stack, so conversion stops at a depth no real settings file reaches.
constexpr int kMaxDepth = 256;

std::optional<PlistValue> fromNode(plist_t node, int depth) {
    if (!node || depth > kMaxDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_STRING: {
            char* raw = nullptr;
            plist_get_string_val(node, &raw);
            CharPtr text(raw);
            return PlistValue(std::string(text ? text.get() : ""));
        }
        case PLIST_BOOLEAN: {
            uint8_t value = 0;
            plist_get_bool_val(node, &value);
            return PlistValue(value != 0);
        }
        case PLIST_UINT: {
            uint64_t value = 0;
            plist_get_uint_val(node, &value);
            return PlistValue(static_cast<std::int64_t>(value));
        }
        case PLIST_REAL: {
            double value = 0;
            plist_get_real_val(node, &value);
            return PlistValue(value);
        }
        case PLIST_DATA: {
            char* raw = nullptr;
            uint64_t length = 0;
            plist_get_data_val(node, &raw, &length);
            CharPtr bytes(raw);
            return PlistValue(PlistData{std::string(bytes ? bytes.get() : "", length)});
        }
        case PLIST_DATE: {
            int32_t seconds = 0, microseconds = 0;
            plist_get_date_val(node, &seconds, &microseconds);
            return PlistValue(PlistDate{seconds + microseconds / 1e6});
        }
        case PLIST_ARRAY: {
            PlistArray array;
            uint32_t size = plist_array_get_size(node);
            for (uint32_t i = 0; i < size; ++i) {
                auto item = fromNode(plist_array_get_item(node, i), depth + 1);
                if (!item) return std::nullopt;
                array.push_back(std::move(*item));
            }
            return PlistValue(std::move(array));
        }
        case PLIST_DICT: {
            PlistDictionary dictionary;
            plist_dict_iter iterator = nullptr;
            plist_dict_new_iter(node, &iterator);
            for (;;) {
                char* rawKey = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, iterator, &rawKey, &item);
                CharPtr key(rawKey);
                if (!item) break;
                auto value = fromNode(item, depth + 1);
                if (!value || !key) {
                    std::free(iterator);
                    return std::nullopt;
                }
                dictionary.insert_or_assign(key.get(), std::move(*value));
            }
            std::free(iterator);
            return PlistValue(std::move(dictionary));
        }
        default:
            return std::nullopt;
    }
}

// XML 1.0 holds only these characters, not even as references; a strict reader refuses a
// document with any other.
bool allowedInXml(gunichar c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The text as XML can hold it: bytes that are no UTF-8 become U+FFFD, characters XML forbids
// are left out. Counts what it changed.
std::string xmlText(const std::string& text, std::size_t& changed) {
    g_autofree char* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string result;
    result.reserve(text.size());
    for (const char* p = valid; *p; p = g_utf8_next_char(p)) {
        gunichar c = g_utf8_get_char(p);
        if (allowedInXml(c)) result.append(p, static_cast<std::size_t>(g_utf8_next_char(p) - p));
    }
    // A NUL byte ends the C string early; what follows it is dropped as well.
    if (result != text) ++changed;
    return result;
}

struct XmlWriting {
    std::size_t changed = 0;
    std::string firstKey;  // where the first change was, for the log (never the value)
};

plist_t toNode(const PlistValue& value, XmlWriting& writing, const std::string& key) {
    struct Visitor {
        XmlWriting& writing;
        const std::string& key;
        std::string safe(const std::string& text) const {
            std::size_t before = writing.changed;
            std::string result = xmlText(text, writing.changed);
            if (writing.changed != before && writing.firstKey.empty()) writing.firstKey = key;
            return result;
        }
        plist_t operator()(const std::string& v) const { return plist_new_string(safe(v).c_str()); }
        plist_t operator()(std::int64_t v) const {
            return plist_new_uint(static_cast<uint64_t>(v));
        }
        plist_t operator()(bool v) const { return plist_new_bool(v ? 1 : 0); }
        plist_t operator()(double v) const { return plist_new_real(v); }
        plist_t operator()(const PlistData& v) const {
            return plist_new_data(v.bytes.data(), v.bytes.size());
        }
        plist_t operator()(const PlistDate& v) const {
            double whole = std::floor(v.secondsSinceReferenceDate);
            return plist_new_date(
                static_cast<int32_t>(whole),
                static_cast<int32_t>((v.secondsSinceReferenceDate - whole) * 1e6));
        }
        plist_t operator()(const PlistArray& v) const {
            plist_t array = plist_new_array();
            for (const auto& item : v) plist_array_append_item(array, toNode(item, writing, key));
            return array;
        }
        plist_t operator()(const PlistDictionary& v) const {
            plist_t dictionary = plist_new_dict();
            for (const auto& [name, item] : v) {
                std::string safeName = safe(name);
                plist_dict_set_item(dictionary, safeName.c_str(), toNode(item, writing, name));
            }
            return dictionary;
        }
    };
    return std::visit(Visitor{writing, key}, value.value);
}

}  // namespace

Result<PlistValue> parse(const std::string& bytes) {
    if (bytes.empty()) return unexpected("empty property list");
    if (bytes.size() > UINT32_MAX) return unexpected("property list too large");
    if (BinaryPropertyList::isBinary(bytes)) return BinaryPropertyList::parse(bytes);
    // XML has no NUL character; libplist 2.2 lets a raw one into a string or key and then
    // aborts when the value is read (found by fuzzing).
    if (bytes.find('\0') != std::string::npos) return unexpected("property list holds a NUL byte");
    plist_t raw = nullptr;
    plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
    PlistPtr root(raw);
    if (!root) return unexpected("not a property list");
    auto value = fromNode(root.get(), 0);
    if (!value) return unexpected("property list holds unsupported or too deeply nested values");
    return *value;
}

Result<PlistValue> readFile(const std::string& path) {
    auto bytes = FileManager::defaultManager().contentsAtPath(path);
    if (!bytes) return unexpected(bytes.error());
    return parse(*bytes);
}

std::string toXml(const PlistValue& value) {
    XmlWriting writing;
    PlistPtr root(toNode(value, writing, ""));
    if (writing.changed > 0) {
        NSLog("Property list: " + std::to_string(writing.changed) +
              " text value(s) held characters XML cannot hold (first under the key \"" +
              writing.firstKey + "\"); they were left out");
    }
    char* raw = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &raw, &length);
    std::string xml(raw ? raw : "", raw ? length : 0);
    plist_to_xml_free(raw);
    return xml;
}

}  // namespace platform::PropertyList
