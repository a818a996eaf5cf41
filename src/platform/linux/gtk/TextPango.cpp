#include <pango/pango.h>

#include "../../Text.h"

namespace platform::Text {

std::vector<std::string> characters(const std::string& text) {
    std::vector<std::string> result;
    const char* start = text.data();
    const char* end = start + text.size();
    while (start < end) {
        // Pango segments valid UTF-8 only: each invalid byte stands alone.
        const char* validEnd = nullptr;
        g_utf8_validate(start, end - start, &validEnd);
        if (validEnd > start) {
            glong length = g_utf8_strlen(start, validEnd - start);
            std::vector<PangoLogAttr> attributes(static_cast<std::size_t>(length) + 1);
            pango_get_log_attrs(start, static_cast<int>(validEnd - start), -1,
                                pango_language_from_string("C"), attributes.data(),
                                static_cast<int>(attributes.size()));
            const char* cluster = start;
            const char* position = start;
            for (glong i = 1; i <= length; ++i) {
                position = g_utf8_next_char(position);
                if (attributes[static_cast<std::size_t>(i)].is_cursor_position) {
                    result.emplace_back(cluster, position);
                    cluster = position;
                }
            }
            if (cluster < validEnd) result.emplace_back(cluster, validEnd);
            start = validEnd;
        }
        if (start < end) {
            result.emplace_back(start, start + 1);
            ++start;
        }
    }
    return result;
}

bool isValidUtf8(const std::string& text) {
    return g_utf8_validate_len(text.data(), text.size(), nullptr);
}

}  // namespace platform::Text
