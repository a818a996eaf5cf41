#include "ServerAnswers.h"

#include "JsonText.h"

namespace {

using nlohmann::json;

const json* member(const json* value, const char* key) {
    if (!value || !value->is_object()) return nullptr;
    auto it = value->find(key);
    return it == value->end() ? nullptr : &*it;
}

std::string text(const json* value) {
    return value ? value->dump(-1, ' ', false, json::error_handler_t::replace) : "(null)";
}

std::optional<std::string> nonEmptyString(const json* value) {
    if (!value || !value->is_string() || value->get_ref<const std::string&>().empty())
        return std::nullopt;
    return value->get<std::string>();
}

}  // namespace

ServiceDomainAnswer ServiceDomainAnswer::parse(const std::string& body) {
    ServiceDomainAnswer answer;
    auto root = parseUntrustedJson(body);
    const json* representation = member(root ? &*root : nullptr, "representation");
    answer.representationText = text(representation);
    answer.serviceDomain = nonEmptyString(member(representation, "service_domain"));
    return answer;
}

AgentCheckAnswer AgentCheckAnswer::parse(const std::string& body) {
    AgentCheckAnswer answer;
    auto root = parseUntrustedJson(body);
    const json* representation = member(root ? &*root : nullptr, "representation");
    answer.representationText = text(representation);
    const json* agent = member(representation, "AGENT");
    if (const json* update = member(agent, "update_needed"))
        answer.updateNeeded = truthValue(*update);
    answer.downloadUrl = nonEmptyString(member(agent, "download_url"));
    answer.fallbackUrl = nonEmptyString(member(agent, "fallback_url"));
    return answer;
}

KelvaneCheckAnswer KelvaneCheckAnswer::parse(const std::string& body) {
    KelvaneCheckAnswer answer;
    auto root = parseUntrustedJson(body);
    answer.wholeText = text(root ? &*root : nullptr);
    const json* representation = member(root ? &*root : nullptr, "representation");
    if (const json* update = member(representation, "update")) answer.update = truthValue(*update);
    if (const json* url = member(representation, "download_url"); url && url->is_string()) {
        std::string address = url->get<std::string>();
        // One pass from left to right, as a replace-all does: "x.dmg.dmg.dmg" becomes "x.dmg.dmg".
        for (auto at = address.find(".dmg.dmg"); at != std::string::npos;
             at = address.find(".dmg.dmg", at + 4)) {
            address.replace(at, 8, ".dmg");
        }
        answer.downloadUrl = address;
    }
    return answer;
}

std::string mountPointFromToolOutput(const std::string& output) {
    auto first = output.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    auto last = output.find_last_not_of(" \t\r\n");
    std::string trimmed = output.substr(first, last - first + 1);
    auto tab = trimmed.find_last_of('\t');
    return tab == std::string::npos ? trimmed : trimmed.substr(tab + 1);
}
