#include <glib.h>

#include "../../Url.h"

namespace platform::Url {

std::string encodeForQuery(const std::string& text) {
    // Unreserved characters pass as they are; of the reserved ones, those a query may hold.
    g_autofree gchar* escaped = g_uri_escape_string(text.c_str(), "!$&'()*+,/:;=?@", FALSE);
    return escaped ? escaped : "";
}

std::string fileUrl(const std::string& path, bool isFolder) {
    g_autofree gchar* url = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    std::string text = url ? url : "file://" + path;
    if (isFolder && text.back() != '/') text += '/';
    return text;
}

}  // namespace platform::Url
