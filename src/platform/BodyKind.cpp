#include "BodyKind.h"

#include <nlohmann/json.hpp>

namespace platform::BodyKind {

namespace {

std::string_view withoutLeadingSpace(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::size_t start = text.find_first_not_of(" \t\r\n");
    return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

}  // namespace

bool isPrimaryVolumeDescriptor(std::string_view sector) {
    return sector.size() >= 6 && sector[0] == 1 && sector.substr(1, 5) == "CD001";
}

bool startsAsDiskImage(std::string_view head) {
    return head.size() >= kDiskImageSignatureBytes &&
           isPrimaryVolumeDescriptor(head.substr(kVolumeDescriptorOffset));
}

bool isJsonObject(std::string_view text) {
    std::string_view value = withoutLeadingSpace(text);
    // Checked without building the document: the parser keeps its own stack, so a deeply
    // nested answer costs no recursion.
    return !value.empty() && value.front() == '{' &&
           nlohmann::json::accept(value.begin(), value.end());
}

bool looksLikeMarkup(std::string_view head) {
    std::string_view start = withoutLeadingSpace(head);
    return !start.empty() && start.front() == '<';
}

}  // namespace platform::BodyKind
