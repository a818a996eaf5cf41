#include "BinaryPropertyList.h"

#include <cstdint>
#include <cstring>
#include <vector>

// The format: "bplist00", the objects, a table of their offsets, and a 32-byte trailer giving
// the sizes of offsets and object references, the object count, the top object and where the
// offset table starts. Each object begins with a marker byte: its type in the high nibble, a
// size or count in the low one (0xF: the count follows as an integer object).
//
// Written here rather than left to libplist, whose 2.2 reader aborts the process on some
// malformed lists (a string holding a NUL byte, found by fuzzing).

namespace platform::BinaryPropertyList {

namespace {

constexpr char kMagic[] = "bplist00";
constexpr std::size_t kTrailerSize = 32;
// Nesting no real list reaches; deeper input would only exhaust the stack.
constexpr int kMaxDepth = 256;
// Shared references let a small list stand for a huge tree; these bound what one parse builds.
constexpr std::uint64_t kMaxNodes = 1 << 17;
constexpr std::uint64_t kMaxBytes = 16 << 20;

class Reader {
  public:
    explicit Reader(const std::string& bytes) : m_bytes(bytes) {}

    const std::string& error() const { return m_error; }
    std::optional<PlistValue> read() {
        if (m_bytes.size() < sizeof kMagic - 1 + kTrailerSize) return fail("too short");
        std::size_t trailer = m_bytes.size() - kTrailerSize;
        m_offsetSize = byteAt(trailer + 6);
        m_referenceSize = byteAt(trailer + 7);
        std::uint64_t count = unsignedAt(trailer + 8, 8);
        std::uint64_t top = unsignedAt(trailer + 16, 8);
        m_tableStart = unsignedAt(trailer + 24, 8);
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_referenceSize < 1 || m_referenceSize > 8)
            return fail("bad offset or reference size");
        if (count == 0 || top >= count) return fail("bad object count or top object");
        if (m_tableStart < sizeof kMagic - 1 || m_tableStart > trailer ||
            count > (trailer - m_tableStart) / m_offsetSize) {
            return fail("offset table outside the list");
        }
        m_objectCount = count;
        m_onPath.assign(count, false);
        return object(top, 0);
    }

  private:
    std::optional<PlistValue> fail(const std::string& why) {
        if (m_error.empty()) m_error = "binary property list: " + why;
        return std::nullopt;
    }

    unsigned byteAt(std::size_t at) const { return static_cast<unsigned char>(m_bytes[at]); }

    // A big-endian unsigned number of `size` bytes (at most 8) at `at`; bounds checked by callers.
    std::uint64_t unsignedAt(std::size_t at, std::size_t size) const {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < size; ++i) value = value << 8 | byteAt(at + i);
        return value;
    }

    // True when `size` bytes from `at` lie among the objects (before the offset table).
    bool inside(std::uint64_t at, std::uint64_t size) const {
        return at >= sizeof kMagic - 1 && at <= m_tableStart && size <= m_tableStart - at;
    }

    // The count in a marker's low nibble, or the integer object after it; advances `at`.
    std::optional<std::uint64_t> count(unsigned info, std::uint64_t& at) {
        if (info != 0xF) return info;
        if (!inside(at, 1)) return std::nullopt;
        unsigned marker = byteAt(at);
        if (marker >> 4 != 0x1 || (marker & 0xF) > 3) return std::nullopt;
        std::uint64_t size = std::uint64_t(1) << (marker & 0xF);
        if (!inside(at + 1, size)) return std::nullopt;
        std::uint64_t value = unsignedAt(at + 1, size);
        at += 1 + size;
        return value;
    }

    bool spend(std::uint64_t bytes) {
        if (++m_nodes > kMaxNodes || bytes > kMaxBytes - m_bytesBuilt) return false;
        m_bytesBuilt += bytes;
        return true;
    }

    // The references of a collection: `n` of them, starting at `at`.
    std::optional<std::vector<std::uint64_t>> references(std::uint64_t at, std::uint64_t n) {
        if (n > m_tableStart / m_referenceSize || !inside(at, n * m_referenceSize))
            return std::nullopt;
        std::vector<std::uint64_t> refs(n);
        for (std::uint64_t i = 0; i < n; ++i) {
            refs[i] = unsignedAt(at + i * m_referenceSize, m_referenceSize);
            if (refs[i] >= m_objectCount) return std::nullopt;
        }
        return refs;
    }

    std::optional<PlistValue> object(std::uint64_t reference, int depth) {
        if (depth > kMaxDepth) return fail("nested too deeply");
        if (m_onPath[reference]) return fail("a reference loops back to its own container");
        std::uint64_t at = unsignedAt(m_tableStart + reference * m_offsetSize, m_offsetSize);
        if (!inside(at, 1)) return fail("object outside the list");
        unsigned marker = byteAt(at);
        unsigned type = marker >> 4, info = marker & 0xF;
        ++at;
        switch (type) {
            case 0x0:
                if (marker == 0x08 || marker == 0x09) {
                    if (!spend(0)) return fail("too large");
                    return PlistValue(marker == 0x09);
                }
                return fail("unsupported value");
            case 0x1: {
                if (info > 3) return fail("unsupported integer size");
                std::uint64_t size = std::uint64_t(1) << info;
                if (!inside(at, size) || !spend(0)) return fail("bad integer");
                std::uint64_t raw = unsignedAt(at, size);
                // Eight-byte integers are signed; shorter ones are not.
                return PlistValue(static_cast<std::int64_t>(raw));
            }
            case 0x2:
            case 0x3: {
                if ((type == 0x2 && info != 2 && info != 3) || (type == 0x3 && info != 3))
                    return fail("bad real or date");
                std::uint64_t size = std::uint64_t(1) << info;
                if (!inside(at, size) || !spend(0)) return fail("bad real or date");
                std::uint64_t raw = unsignedAt(at, size);
                double value = 0;
                if (size == 4) {
                    auto narrow = static_cast<std::uint32_t>(raw);
                    float single = 0;
                    std::memcpy(&single, &narrow, sizeof single);
                    value = single;
                } else {
                    std::memcpy(&value, &raw, sizeof value);
                }
                if (type == 0x3) return PlistValue(PlistDate{value});
                return PlistValue(value);
            }
            case 0x4:
            case 0x5:
            case 0x6: {
                auto n = count(info, at);
                std::uint64_t unit = type == 0x6 ? 2 : 1;
                if (!n || *n > m_tableStart || !inside(at, *n * unit) || !spend(*n * unit))
                    return fail("bad data or string");
                std::string raw = m_bytes.substr(at, *n * unit);
                if (type == 0x4) return PlistValue(PlistData{std::move(raw)});
                if (type == 0x5) return PlistValue(std::move(raw));
                return PlistValue(utf8FromUtf16(raw));
            }
            case 0xA:
            case 0xD: {
                auto n = count(info, at);
                if (!n || *n > m_tableStart) return fail("bad collection size");
                auto refs = references(at, type == 0xD ? *n * 2 : *n);
                if (!refs || !spend(0)) return fail("bad collection");
                m_onPath[reference] = true;
                std::optional<PlistValue> built =
                    type == 0xA ? array(*refs, depth) : dictionary(*refs, *n, depth);
                m_onPath[reference] = false;
                return built;
            }
            default:
                return fail("unsupported value");
        }
    }

    std::optional<PlistValue> array(const std::vector<std::uint64_t>& refs, int depth) {
        PlistArray items;
        items.reserve(refs.size());
        for (std::uint64_t ref : refs) {
            auto item = object(ref, depth + 1);
            if (!item) return std::nullopt;
            items.push_back(std::move(*item));
        }
        return PlistValue(std::move(items));
    }

    std::optional<PlistValue> dictionary(const std::vector<std::uint64_t>& refs, std::uint64_t n,
                                         int depth) {
        PlistDictionary entries;
        for (std::uint64_t i = 0; i < n; ++i) {
            auto key = object(refs[i], depth + 1);
            if (!key) return std::nullopt;
            if (!key->string()) return fail("a key that is no string");
            auto value = object(refs[n + i], depth + 1);
            if (!value) return std::nullopt;
            entries.insert_or_assign(*key->string(), std::move(*value));
        }
        return PlistValue(std::move(entries));
    }

    // Big-endian UTF-16 as UTF-8; a surrogate without its partner becomes U+FFFD.
    static std::string utf8FromUtf16(const std::string& raw) {
        std::string text;
        text.reserve(raw.size());
        auto unitAt = [&](std::size_t i) {
            return static_cast<std::uint32_t>(static_cast<unsigned char>(raw[i]) << 8 |
                                              static_cast<unsigned char>(raw[i + 1]));
        };
        for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
            std::uint32_t c = unitAt(i);
            if (c >= 0xD800 && c <= 0xDBFF && i + 3 < raw.size() && unitAt(i + 2) >= 0xDC00 &&
                unitAt(i + 2) <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
                i += 2;
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                c = 0xFFFD;
            }
            if (c < 0x80) {
                text += static_cast<char>(c);
            } else if (c < 0x800) {
                text += static_cast<char>(0xC0 | c >> 6);
                text += static_cast<char>(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                text += static_cast<char>(0xE0 | c >> 12);
                text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
                text += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                text += static_cast<char>(0xF0 | c >> 18);
                text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
                text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
                text += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return text;
    }

    const std::string& m_bytes;
    std::string m_error;  // the first reason the list was refused
    unsigned m_offsetSize = 0;
    unsigned m_referenceSize = 0;
    std::uint64_t m_tableStart = 0;
    std::uint64_t m_objectCount = 0;
    std::vector<bool> m_onPath;  // containers being read: a reference back to one is a loop
    std::uint64_t m_nodes = 0;
    std::uint64_t m_bytesBuilt = 0;
};

}  // namespace

bool isBinary(const std::string& bytes) {
    return bytes.size() >= sizeof kMagic - 1 && bytes.compare(0, sizeof kMagic - 1, kMagic) == 0;
}

Result<PlistValue> parse(const std::string& bytes) {
    Reader reader(bytes);
    auto value = reader.read();
    if (!value) {
        return unexpected(reader.error().empty() ? "binary property list: unreadable"
                                                 : reader.error());
    }
    return *value;
}

}  // namespace platform::BinaryPropertyList
