#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "../../BinaryPropertyList.h"
#include "../../FileManager.h"
#include "../../Log.h"
#include "../../PropertyList.h"

// XML property lists are read with GLib's markup parser and written here, not by libplist:
// its library name and interface changed between the Debian releases one build runs on. What
// is written is byte for byte what libplist 2.2 wrote, so files already written stay the same.

namespace platform::PropertyList {

namespace {

// Values are built, copied and destroyed recursively; nesting deeper than any real settings
// file would let hostile input exhaust the stack.
constexpr int kMaxDepth = 256;

// Dates count seconds from 2001-01-01 00:00:00 UTC, this many seconds after the Unix epoch.
constexpr std::int64_t kReferenceDateUnix = 978307200;
constexpr std::int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, and back.
constexpr std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

struct CivilDate {
    std::int64_t year;
    unsigned month, day;
};

constexpr CivilDate civilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2), month, day};
}

// The four-digit years the date form can hold.
constexpr double kFirstDate =
    static_cast<double>(daysFromCivil(1, 1, 1) * kSecondsPerDay - kReferenceDateUnix);
constexpr double kLastDate =
    static_cast<double>(daysFromCivil(10000, 1, 1) * kSecondsPerDay - 1 - kReferenceDateUnix);

// "YYYY-MM-DDTHH:MM:SSZ". The form has whole seconds only: the fraction is cut toward zero.
// Dates outside the years 1 to 9999 have no such form and are pinned to its ends.
std::string formatDate(double seconds) {
    double whole = std::isnan(seconds) ? 0 : std::clamp(std::trunc(seconds), kFirstDate, kLastDate);
    std::int64_t unixTime = static_cast<std::int64_t>(whole) + kReferenceDateUnix;
    std::int64_t days = unixTime / kSecondsPerDay;
    std::int64_t inDay = unixTime % kSecondsPerDay;
    if (inDay < 0) {
        inDay += kSecondsPerDay;
        --days;
    }
    CivilDate date = civilFromDays(days);
    auto second = static_cast<unsigned>(inDay);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02uZ", static_cast<int>(date.year),
                  date.month, date.day, second / 3600, second / 60 % 60, second % 60);
    return text;
}

std::optional<double> parseDate(std::string_view text) {
    constexpr std::string_view form = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != form.size()) return std::nullopt;
    for (std::size_t i = 0; i < form.size(); ++i) {
        if (form[i] == 'd' ? !g_ascii_isdigit(text[i]) : text[i] != form[i]) return std::nullopt;
    }
    auto number = [&](std::size_t at, std::size_t digits) {
        unsigned value = 0;
        for (std::size_t i = at; i < at + digits; ++i) value = value * 10 + unsigned(text[i] - '0');
        return value;
    };
    unsigned year = number(0, 4), month = number(5, 2), day = number(8, 2);
    unsigned hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (month < 1 || month > 12 || year < 1 ||
        !g_date_valid_dmy(static_cast<GDateDay>(day), static_cast<GDateMonth>(month),
                          static_cast<GDateYear>(year)) ||
        hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    std::int64_t unixTime =
        daysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    return static_cast<double>(unixTime - kReferenceDateUnix);
}

// As C formats it, in any locale, with the spellings of zero, infinities and NaN that the
// files already written hold.
std::string formatReal(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "+infinity" : "-infinity";
    if (value == 0) return "0.0";
    char text[G_ASCII_DTOSTR_BUF_SIZE];
    return g_ascii_formatd(text, sizeof text, "%.17g", value);
}

std::optional<double> parseReal(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::string copy(text);
    char* end = nullptr;
    double value = g_ascii_strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size()) return std::nullopt;
    return value;
}

// Decimal, or hexadecimal after "0x". Values up to 2^64 - 1 are read: unsigned 64-bit values
// some writers store keep their bits, as binary lists hold them.
Result<std::int64_t> parseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return unexpected("not an integer");
    std::uint64_t magnitude = 0;
    for (char c : text) {
        int digit = base == 16 ? g_ascii_xdigit_value(c) : g_ascii_digit_value(c);
        if (digit < 0) return unexpected("not an integer");
        if (magnitude > (UINT64_MAX - static_cast<unsigned>(digit)) / base)
            return unexpected("integer out of range");
        magnitude = magnitude * base + static_cast<unsigned>(digit);
    }
    if (negative) {
        if (magnitude > std::uint64_t{1} << 63) return unexpected("integer out of range");
        return static_cast<std::int64_t>(0 - magnitude);
    }
    return static_cast<std::int64_t>(magnitude);
}

constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Value(char c) {
    const char* at = std::char_traits<char>::find(kBase64Digits, 64, c);
    return at ? static_cast<int>(at - kBase64Digits) : -1;
}

std::string encodeBase64(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            group = group << 8 | (k < count ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k)
            text += k <= count ? kBase64Digits[group >> (18 - 6 * k) & 0x3F] : '=';
    }
    return text;
}

// Whitespace anywhere, as writers break the text into lines; otherwise groups of four digits,
// padded with "=" at the very end only.
std::optional<std::string> decodeBase64(std::string_view text) {
    std::string digits;
    for (char c : text) {
        if (!g_ascii_isspace(c)) digits += c;
    }
    if (digits.size() % 4 != 0) return std::nullopt;
    std::string bytes;
    bytes.reserve(digits.size() / 4 * 3);
    for (std::size_t i = 0; i < digits.size(); i += 4) {
        bool last = i + 4 == digits.size();
        std::uint32_t group = 0;
        int padding = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            char c = digits[i + k];
            int value = 0;
            if (c == '=' && last && k >= 2) {
                ++padding;
            } else if (padding > 0 || (value = base64Value(c)) < 0) {
                return std::nullopt;
            }
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        bytes += static_cast<char>(group >> 16);
        if (padding < 2) bytes += static_cast<char>(group >> 8 & 0xFF);
        if (padding < 1) bytes += static_cast<char>(group & 0xFF);
    }
    return bytes;
}

// Text from the document for a refusal, cut short: it may be huge.
std::string quoted(std::string_view text) {
    constexpr std::size_t kShown = 40;
    if (text.size() <= kShown) return "\"" + std::string(text) + "\"";
    return "\"" + std::string(text.substr(0, kShown)) + "...\"";
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isXmlSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isXmlSpace(text.back())) text.remove_suffix(1);
    return text;
}

enum class Element { Plist, Array, Dict, Key, String, Integer, Real, Date, Data, True, False };

constexpr std::pair<std::string_view, Element> kElementNames[] = {
    {"plist", Element::Plist}, {"array", Element::Array},   {"dict", Element::Dict},
    {"key", Element::Key},     {"string", Element::String}, {"integer", Element::Integer},
    {"real", Element::Real},   {"date", Element::Date},     {"data", Element::Data},
    {"true", Element::True},   {"false", Element::False},
};

std::optional<Element> elementNamed(std::string_view name) {
    for (const auto& [known, element] : kElementNames) {
        if (name == known) return element;
    }
    return std::nullopt;
}

std::string_view nameOf(Element element) {
    for (const auto& [name, known] : kElementNames) {
        if (element == known) return name;
    }
    return {};
}

bool isContainer(Element element) {
    return element == Element::Array || element == Element::Dict;
}

// Elements whose text is their value.
bool holdsText(Element element) {
    return element == Element::Key || element == Element::String || element == Element::Integer ||
           element == Element::Real || element == Element::Date || element == Element::Data;
}

// Builds the value from the parser's events. The open elements live on a vector, not the call
// stack, and nesting is bounded as each element opens.
class XmlReader {
  public:
    Result<PlistValue> read(std::string_view xml) {
        static const GMarkupParser callbacks = {&XmlReader::started, &XmlReader::ended,
                                                &XmlReader::gotText, nullptr, nullptr};
        g_autoptr(GMarkupParseContext) context =
            g_markup_parse_context_new(&callbacks, G_MARKUP_TREAT_CDATA_AS_TEXT, this, nullptr);
        g_autoptr(GError) error = nullptr;
        if (!g_markup_parse_context_parse(context, xml.data(), static_cast<gssize>(xml.size()),
                                          &error) ||
            !g_markup_parse_context_end_parse(context, &error)) {
            return unexpected("XML property list: " + std::string(error->message));
        }
        if (!m_root) return unexpected("XML property list: no value");
        return std::move(*m_root);
    }

  private:
    struct Open {
        Element element;
        std::string text;                // what holdsText() elements read so far
        PlistValue value;                // what containers hold so far
        std::optional<std::string> key;  // a dictionary's key still waiting for its value
    };

    static void started(GMarkupParseContext* context, const gchar* name, const gchar**,
                        const gchar**, gpointer self, GError** error) {
        fail(context, static_cast<XmlReader*>(self)->start(name), error);
    }
    static void ended(GMarkupParseContext* context, const gchar*, gpointer self, GError** error) {
        fail(context, static_cast<XmlReader*>(self)->end(), error);
    }
    static void gotText(GMarkupParseContext* context, const gchar* text, gsize length,
                        gpointer self, GError** error) {
        fail(context, static_cast<XmlReader*>(self)->addText(std::string_view(text, length)),
             error);
    }
    // Worded as the parser's own refusals, which name where they happened.
    static void fail(GMarkupParseContext* context, const std::optional<std::string>& why,
                     GError** error) {
        if (!why) return;
        int line = 0, character = 0;
        g_markup_parse_context_get_position(context, &line, &character);
        g_set_error(error, G_MARKUP_ERROR, G_MARKUP_ERROR_INVALID_CONTENT,
                    "Error on line %d char %d: %s", line, character, why->c_str());
    }

    // Each step answers why the document is refused, or nothing.
    std::optional<std::string> start(std::string_view name) {
        auto element = elementNamed(name);
        if (!element) return "unknown element <" + std::string(name) + ">";
        Open* parent = m_open.empty() ? nullptr : &m_open.back();
        if (*element == Element::Plist) {
            if (parent) return std::string("<plist> inside a value");
            if (m_root) return std::string("more than one value");
        } else if (parent && parent->element != Element::Plist) {
            if (!isContainer(parent->element)) return "<" + std::string(name) + "> inside a value";
            if (parent->element == Element::Dict) {
                if (*element == Element::Key && parent->key)
                    return "the key " + quoted(*parent->key) + " has no value";
                if (*element != Element::Key && !parent->key)
                    return "<" + std::string(name) + "> without a key in a dictionary";
            } else if (*element == Element::Key) {
                return std::string("a key outside a dictionary");
            }
        } else if (*element == Element::Key) {
            return std::string("a key outside a dictionary");
        } else if (m_root) {
            return std::string("more than one value");
        }
        if (*element != Element::Plist && *element != Element::Key && m_depth > kMaxDepth)
            return "nested deeper than " + std::to_string(kMaxDepth) + " levels";
        Open open{*element, {}, {}, {}};
        if (*element == Element::Array) open.value = PlistArray{};
        if (*element == Element::Dict) open.value = PlistDictionary{};
        if (isContainer(*element)) ++m_depth;
        m_open.push_back(std::move(open));
        return std::nullopt;
    }

    std::optional<std::string> end() {
        Open done = std::move(m_open.back());
        m_open.pop_back();
        if (isContainer(done.element)) --m_depth;
        PlistValue value;
        switch (done.element) {
            case Element::Plist:
                if (!m_root) return std::string("an empty <plist>");
                return std::nullopt;
            case Element::Key:
                m_open.back().key = std::move(done.text);
                return std::nullopt;
            case Element::Dict:
                if (done.key) return "the key " + quoted(*done.key) + " has no value";
                value = std::move(done.value);
                break;
            case Element::Array:
                value = std::move(done.value);
                break;
            case Element::True:
            case Element::False:
                value = done.element == Element::True;
                break;
            case Element::String:
                value = std::move(done.text);
                break;
            case Element::Integer: {
                auto number = parseInteger(trimmed(done.text));
                if (!number) return number.error() + ": " + quoted(done.text);
                value = *number;
                break;
            }
            case Element::Real: {
                auto number = parseReal(trimmed(done.text));
                if (!number) return "not a real number: " + quoted(done.text);
                value = *number;
                break;
            }
            case Element::Date: {
                auto seconds = parseDate(trimmed(done.text));
                if (!seconds)
                    return "not a date of the form YYYY-MM-DDTHH:MM:SSZ: " + quoted(done.text);
                value = PlistDate{*seconds};
                break;
            }
            case Element::Data: {
                auto bytes = decodeBase64(done.text);
                if (!bytes) return std::string("data that is no base64");
                value = PlistData{std::move(*bytes)};
                break;
            }
        }
        if (m_open.empty() || m_open.back().element == Element::Plist) {
            m_root = std::move(value);
        } else if (auto* array = std::get_if<PlistArray>(&m_open.back().value.value)) {
            array->push_back(std::move(value));
        } else {
            Open& dictionary = m_open.back();
            std::get<PlistDictionary>(dictionary.value.value)
                .insert_or_assign(std::move(*dictionary.key), std::move(value));
            dictionary.key.reset();
        }
        return std::nullopt;
    }

    std::optional<std::string> addText(std::string_view text) {
        if (!m_open.empty() && holdsText(m_open.back().element)) {
            m_open.back().text.append(text);
        } else if (!trimmed(text).empty()) {
            return m_open.empty()
                       ? std::string("text outside the property list")
                       : "text inside <" + std::string(nameOf(m_open.back().element)) + ">";
        }
        return std::nullopt;
    }

    std::vector<Open> m_open;
    std::optional<PlistValue> m_root;
    int m_depth = 0;  // open arrays and dictionaries
};

// XML 1.0 holds only these characters, not even as references; a strict reader refuses a
// document with any other.
bool allowedInXml(gunichar c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The text as XML can hold it: bytes that are no UTF-8 (NUL among them) become U+FFFD,
// characters XML forbids are left out. Counts what it changed.
std::string xmlText(const std::string& text, std::size_t& changed) {
    g_autofree char* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string result;
    result.reserve(text.size());
    for (const char* p = valid; *p; p = g_utf8_next_char(p)) {
        gunichar c = g_utf8_get_char(p);
        if (allowedInXml(c)) result.append(p, static_cast<std::size_t>(g_utf8_next_char(p) - p));
    }
    if (result != text) ++changed;
    return result;
}

// The layout the files already written have: a tab per level, empty containers as one tag,
// base64 lines that end by column 76 counting a tab as 8 (at most 8 tabs before them).
class XmlWriter {
  public:
    std::string xml;
    std::size_t changed = 0;
    std::string firstKey;  // where the first change was, for the log (never the value)

    void write(const PlistValue& value, int depth, const std::string& key) {
        std::visit([&](const auto& v) { writeValue(v, depth, key); }, value.value);
    }

  private:
    void indent(int depth) { xml.append(static_cast<std::size_t>(depth), '\t'); }

    // The text as XML can hold it, counting what changed under `key`.
    std::string safe(const std::string& raw, const std::string& key) {
        std::size_t before = changed;
        std::size_t uncounted = 0;
        std::string result = xmlText(raw, m_counting ? changed : uncounted);
        if (changed != before && firstKey.empty()) firstKey = key;
        return result;
    }

    // Counts what writing would change, in the order writing visits it.
    void count(const PlistValue& value, const std::string& key) {
        if (const auto* text = value.string()) {
            safe(*text, key);
        } else if (const auto* array = value.get<PlistArray>()) {
            for (const auto& item : *array) count(item, key);
        } else if (const auto* dictionary = value.dictionary()) {
            for (const auto& [name, item] : *dictionary) {
                safe(name, key);
                count(item, name);
            }
        }
    }

    void escaped(const std::string& text) {
        for (char c : text) {
            switch (c) {
                case '&':
                    xml += "&amp;";
                    break;
                case '<':
                    xml += "&lt;";
                    break;
                case '>':
                    xml += "&gt;";
                    break;
                default:
                    xml += c;
            }
        }
    }

    void writeValue(const std::string& v, int, const std::string& key) {
        xml += "<string>";
        escaped(safe(v, key));
        xml += "</string>";
    }
    void writeValue(std::int64_t v, int, const std::string&) {
        xml += "<integer>" + std::to_string(v) + "</integer>";
    }
    void writeValue(bool v, int, const std::string&) { xml += v ? "<true/>" : "<false/>"; }
    void writeValue(double v, int, const std::string&) {
        xml += "<real>" + formatReal(v) + "</real>";
    }
    void writeValue(const PlistDate& v, int, const std::string&) {
        xml += "<date>" + formatDate(v.secondsSinceReferenceDate) + "</date>";
    }
    void writeValue(const PlistData& v, int depth, const std::string&) {
        xml += "<data>\n";
        int tabs = std::min(depth, 8);
        std::size_t perLine = static_cast<std::size_t>((76 - 8 * tabs) / 4 * 3);
        std::string_view bytes = v.bytes;
        for (std::size_t at = 0; at < bytes.size(); at += perLine) {
            indent(tabs);
            xml += encodeBase64(bytes.substr(at, perLine));
            xml += '\n';
        }
        indent(depth);
        xml += "</data>";
    }
    void writeValue(const PlistArray& v, int depth, const std::string& key) {
        if (v.empty()) {
            xml += "<array/>";
            return;
        }
        xml += "<array>\n";
        for (const auto& item : v) {
            indent(depth + 1);
            write(item, depth + 1, key);
            xml += '\n';
        }
        indent(depth);
        xml += "</array>";
    }
    void writeValue(const PlistDictionary& v, int depth, const std::string& key) {
        if (v.empty()) {
            xml += "<dict/>";
            return;
        }
        // Keys that leaving characters out made the same are one key, holding the later value
        // in the earlier one's place.
        std::vector<const PlistDictionary::value_type*> entries;
        std::unordered_map<std::string, std::size_t> positions;
        for (const auto& entry : v) {
            std::size_t unused = 0;
            auto [at, added] = positions.try_emplace(xmlText(entry.first, unused), entries.size());
            if (added) {
                entries.push_back(&entry);
            } else {
                entries[at->second] = &entry;
            }
        }
        // Merged keys leave values unwritten that still count as changed.
        bool counting = m_counting;
        if (entries.size() != v.size() && counting) {
            count(v, key);
            m_counting = false;
        }
        xml += "<dict>\n";
        for (const auto* entry : entries) {
            indent(depth + 1);
            xml += "<key>";
            escaped(safe(entry->first, key));
            xml += "</key>\n";
            indent(depth + 1);
            write(entry->second, depth + 1, entry->first);
            xml += '\n';
        }
        indent(depth);
        xml += "</dict>";
        m_counting = counting;
    }

    bool m_counting = true;
};

}  // namespace

Result<PlistValue> parse(const std::string& bytes) {
    if (bytes.empty()) return unexpected("empty property list");
    if (BinaryPropertyList::isBinary(bytes)) return BinaryPropertyList::parse(bytes);
    // XML has no NUL character, not even as a reference.
    if (bytes.find('\0') != std::string::npos) return unexpected("property list holds a NUL byte");
    std::string_view xml = bytes;
    if (xml.starts_with("\xEF\xBB\xBF")) xml.remove_prefix(3);  // a byte-order mark
    // A file in another encoding, or damaged, keeps what it can: its stray bytes become U+FFFD
    // rather than losing every setting to the markup parser's refusal.
    if (!g_utf8_validate_len(xml.data(), xml.size(), nullptr)) {
        g_autofree char* valid = g_utf8_make_valid(xml.data(), static_cast<gssize>(xml.size()));
        return XmlReader().read(valid);
    }
    return XmlReader().read(xml);
}

Result<PlistValue> readFile(const std::string& path) {
    auto bytes = FileManager::defaultManager().contentsAtPath(path);
    if (!bytes) return unexpected(bytes.error());
    return parse(*bytes);
}

std::string toXml(const PlistValue& value) {
    XmlWriter writer;
    writer.xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n";
    writer.write(value, 0, "");
    writer.xml += "\n</plist>\n";
    if (writer.changed > 0) {
        NSLog("Property list: " + std::to_string(writer.changed) +
              " text value(s) held characters XML cannot hold (first under the key \"" +
              writer.firstKey + "\"); they were left out");
    }
    return std::move(writer.xml);
}

}  // namespace platform::PropertyList
