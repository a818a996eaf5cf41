#include "RouteStore.h"

using nlohmann::json;

RouteStore::RouteStore(json startRoutes)
    : m_startRoutes(std::move(startRoutes)), m_routes(m_startRoutes) {}

json RouteStore::defaultRoutes(const std::string& agentImage, const std::string& kelvaneImage) {
    json routes = {
        {"/api/v2/service_domain", {{"json", {{"representation", {{"service_domain", ""}}}}}}},
        {"/api/v2/agent/check_update",
         {{"json",
           {{"representation",
             {{"AGENT",
               {{"update_needed", false}, {"download_url", ""}, {"fallback_url", ""}}}}}}}}},
        {"/api/v1/customer_plugin/check_update",
         {{"json", {{"representation", {{"update", false}, {"download_url", ""}}}}}}},
        {"/agent/OrvoMac.dmg", {{"status", 404}, {"body", "no agent image configured"}}},
        {"/agent/OrvoTendraKelvane.dmg",
         {{"status", 404}, {"body", "no application image configured"}}},
    };
    if (!agentImage.empty()) {
        routes["/agent/OrvoMac.dmg"] = {{"file", agentImage}};
        // The agent check then follows the version asked about (Endpoints.h).
        routes.erase("/api/v2/agent/check_update");
    }
    if (!kelvaneImage.empty()) routes["/agent/OrvoTendraKelvane.dmg"] = {{"file", kelvaneImage}};
    return routes;
}

std::optional<json> RouteStore::route(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    if (auto it = m_routes.find(path); it != m_routes.end()) return *it;
    return std::nullopt;
}

json RouteStore::routes() const {
    std::lock_guard lock(m_mutex);
    return m_routes;
}

void RouteStore::mergeRoutes(const json& changes) {
    std::lock_guard lock(m_mutex);
    for (const auto& [path, answer] : changes.items()) {
        if (answer.is_null())
            m_routes.erase(path);
        else
            m_routes[path] = answer;
    }
}

void RouteStore::reset() {
    std::lock_guard lock(m_mutex);
    m_routes = m_startRoutes;
    m_requests = json::array();
}

std::size_t RouteStore::record(json request) {
    std::lock_guard lock(m_mutex);
    request["bytesSent"] = 0;
    request["entry"] = m_recorded;
    m_requests.push_back(std::move(request));
    return m_recorded++;
}

void RouteStore::addBytesSent(std::size_t entry, std::size_t bytes) {
    std::lock_guard lock(m_mutex);
    // Cleared records are gone; the entry number says where one is now.
    for (auto it = m_requests.rbegin(); it != m_requests.rend(); ++it) {
        if ((*it)["entry"] == entry) {
            (*it)["bytesSent"] = (*it)["bytesSent"].get<std::size_t>() + bytes;
            return;
        }
        if ((*it)["entry"].get<std::size_t>() < entry) return;
    }
}

json RouteStore::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void RouteStore::clearRequests() {
    std::lock_guard lock(m_mutex);
    m_requests = json::array();
}

void RouteStore::setTestScript(json script) {
    std::lock_guard lock(m_mutex);
    m_testScript = std::move(script);
}

json RouteStore::testScript() const {
    std::lock_guard lock(m_mutex);
    return m_testScript;
}

void RouteStore::addReplies(json replies) {
    std::lock_guard lock(m_mutex);
    m_replies.push_back(std::move(replies));
}

json RouteStore::replies() const {
    std::lock_guard lock(m_mutex);
    return m_replies;
}
