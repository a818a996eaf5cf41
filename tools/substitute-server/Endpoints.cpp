#include "Endpoints.h"

#include <string.h>

#include "FaultInjection.h"

using nlohmann::json;

namespace {

void answerJson(httplib::Response& response, const json& value) {
    response.set_content(value.dump(2), "application/json");
}

// Versions compare as versions: 1.10 is newer than 1.9.
json agentCheckAnswer(const std::string& installed, const std::string& served,
                      const std::string& host) {
    bool needed =
        installed.empty() || installed == "0" || strverscmp(installed.c_str(), served.c_str()) < 0;
    return {{"representation",
             {{"AGENT",
               {{"update_needed", needed},
                {"download_url", needed ? "https://" + host + "/agent/OrvoMac.dmg" : ""},
                {"fallback_url", ""}}}}}};
}

}  // namespace

void addAdministrationEndpoints(httplib::Server& server, RouteStore& store) {
    server.Get("/__admin/requests", [&store](const httplib::Request&, httplib::Response& response) {
        answerJson(response, store.requests());
    });
    server.Post("/__admin/requests/clear",
                [&store](const httplib::Request&, httplib::Response& response) {
                    store.clearRequests();
                    answerJson(response, json::object());
                });
    server.Get("/__admin/routes", [&store](const httplib::Request&, httplib::Response& response) {
        answerJson(response, store.routes());
    });
    server.Post(
        "/__admin/routes", [&store](const httplib::Request& request, httplib::Response& response) {
            json changes = json::parse(request.body, nullptr, false);
            if (!changes.is_object()) {
                response.status = 400;
                response.set_content("body must be a JSON object of path to answer", "text/plain");
                return;
            }
            store.mergeRoutes(changes);
            answerJson(response, json::object());
        });
    server.Post("/__admin/reset", [&store](const httplib::Request&, httplib::Response& response) {
        store.reset();
        answerJson(response, json::object());
    });
    server.Post("/__admin/test-script",
                [&store](const httplib::Request& request, httplib::Response& response) {
                    json script = json::parse(request.body, nullptr, false);
                    store.setTestScript(script.is_discarded() ? json() : script);
                    answerJson(response, json::object());
                });
    server.Get("/__admin/replies", [&store](const httplib::Request&, httplib::Response& response) {
        answerJson(response, store.replies());
    });
    server.Get("/__test/script", [&store](const httplib::Request&, httplib::Response& response) {
        json script = store.testScript();
        if (script.is_null()) {
            response.status = 404;
            return;
        }
        response.set_content(script.dump(), "application/json");
    });
    server.Post("/__test/replies",
                [&store](const httplib::Request& request, httplib::Response& response) {
                    json replies = json::parse(request.body, nullptr, false);
                    if (!replies.is_discarded()) store.addReplies(replies);
                    answerJson(response, json::object());
                });
}

void addServiceEndpoints(httplib::Server& server, RouteStore& store, std::string joinPage,
                         std::optional<std::string> agentVersion) {
    server.Get(".*", [&store, joinPage = std::move(joinPage),
                      agentVersion = std::move(agentVersion)](const httplib::Request& request,
                                                              httplib::Response& response) {
        std::size_t entry = store.record(describeRequest(request));
        // Ranges are this server's to answer (FaultInjection.h): the library must not cut the
        // body a second time.
        const_cast<httplib::Request&>(request).ranges.clear();
        if (auto planned = store.route(request.path)) {
            return answerAsPlanned(*planned, request, response, [&store, entry](std::size_t bytes) {
                store.addBytesSent(entry, bytes);
            });
        }
        if (agentVersion && request.path == "/api/v2/agent/check_update") {
            return answerJson(
                response, agentCheckAnswer(request.get_param_value("agent_version"), *agentVersion,
                                           request.get_header_value("Host")));
        }
        bool api = request.path.rfind("/api/", 0) == 0 || request.path.rfind("/agent/", 0) == 0;
        if (api) {
            response.status = 404;
            response.set_content("not found", "text/plain");
            return;
        }
        // Any other path is the join page, whatever path the session was given.
        response.set_content(joinPage, "text/html; charset=utf-8");
    });
}
