#include <glib.h>
#include <libintl.h>

#include <string>

#include "../../Localization.h"

namespace platform {

namespace {

// Set once at start, read from any thread afterwards.
std::string& textDomain() {
    static std::string domain;
    return domain;
}

}  // namespace

void Localization::useCatalogues(const std::string& folder, const std::string& domain) {
    textDomain() = domain;
    bindtextdomain(domain.c_str(), folder.c_str());
    // Our texts go to GTK and WebKit, which take UTF-8 whatever the locale's own encoding.
    bind_textdomain_codeset(domain.c_str(), "UTF-8");
    textdomain(domain.c_str());
}

std::string Localization::language() {
    if (textDomain().empty()) return "en";
    // A catalogue's header (the translation of "") names its language.
    const char* header = dgettext(textDomain().c_str(), "");
    if (!header || !*header) return "en";
    std::string text(header);
    std::string key = "Language: ";
    std::size_t start = text.find(key);
    if (start == std::string::npos) return "en";
    start += key.size();
    std::size_t end = text.find('\n', start);
    std::string language = text.substr(start, end == std::string::npos ? end : end - start);
    return language.empty() ? "en" : language;
}

std::string localized(const char* english) {
    if (textDomain().empty()) return english;
    return g_dgettext(textDomain().c_str(), english);
}

}  // namespace platform
