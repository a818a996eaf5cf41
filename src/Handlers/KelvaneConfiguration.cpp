#include "KelvaneConfiguration.h"

#include <string_view>
#include <vector>

namespace {

std::vector<std::string> splitDroppingEmpty(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

}  // namespace

KelvaneConfiguration KelvaneConfiguration::parse(std::string text) {
    static constexpr std::string_view kMarker = "CONVELO_IND\n";
    // Removed in one pass: a marker that only forms once another is gone stays text.
    std::string cleaned;
    cleaned.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (text.compare(at, kMarker.size(), kMarker) == 0) {
            at += kMarker.size();
        } else {
            cleaned += text[at++];
        }
    }
    KelvaneConfiguration configuration;
    for (const std::string& part : splitDroppingEmpty(cleaned, '&')) {
        configuration.hasParts = true;
        std::vector<std::string> pieces = splitDroppingEmpty(part, '=');
        if (pieces.empty()) continue;
        configuration.namesToken |= pieces[0] == "KelvaneToken";
        configuration.namesDataCentre |= pieces[0] == "DC";
        configuration.namesJoinPath |= pieces[0] == "pathForKelvane";
        if (pieces.size() == 2) configuration.pairs.insert_or_assign(pieces[0], pieces[1]);
    }
    return configuration;
}
