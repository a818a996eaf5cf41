// Stand-in for the service's web server, for development and tests: HTTPS on 127.0.0.1 with a
// certificate authority made for this run, answers set by a scenario, and a record of every
// request it received.
//
//   substitute-server [--port N] [--port-file F] [--ca-out F] [--scenario F]
//                     [--agent-image F] [--kelvane-image F] [--join-page F]
//                     [--subject-alt-names "IP:127.0.0.1,DNS:localhost"] [--ca-key F]
//                     [--offer-update]
//
// --offer-update makes the self-update check answer that a newer build exists, to be
// downloaded from this server's /agent/OrvoTendraKelvane.dmg.
//
// --ca-key keeps the certificate authority across runs (key in F, certificate in F.crt), so a
// client that trusts it keeps trusting a restarted server.
//
// A route answer (scenario "routes": {"<path>": answer}, or POST /__admin/routes):
//   status, body (text) or json (value), contentType, file (streamed), delayMs,
//   hang (accept and never answer), truncateAfter (declare the whole length, send that many
//   bytes, close), bytesPerSecond (slow body), repeatBytes (a body of that many 'x'),
//   location (a Location header, for redirects with a 3xx status), headers (an object of
//   further response headers), chunked (a streamed body sent without announcing its length).
// Admin: GET /__admin/requests, POST /__admin/requests/clear, GET|POST /__admin/routes,
// POST /__admin/reset (the start-up routes again), POST /__admin/test-script (a script of
// messages the join page posts when it loads: {"steps": [{"name", "body", "repeat", "pauseMs",
// "fill": {field id: value}, "submit": form id, "click": element id}], "awaitReplies", "awaitMs",
// "settleMs"}), GET /__admin/replies (the reports the page sent back, newest last).

#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "Certificates.h"

using nlohmann::json;

namespace {

// The join page, from join.html beside this file.
const char* kDefaultJoinPage =
#include "JoinPage.inc"
    ;

std::atomic<bool> g_stopping{false};
std::mutex g_stopMutex;
std::condition_variable g_stopSignal;

class State {
  public:
    explicit State(json startRoutes)
        : m_startRoutes(std::move(startRoutes)), m_routes(m_startRoutes) {}

    std::optional<json> route(const std::string& path) const {
        std::lock_guard lock(m_mutex);
        if (auto it = m_routes.find(path); it != m_routes.end()) return *it;
        return std::nullopt;
    }
    json routes() const {
        std::lock_guard lock(m_mutex);
        return m_routes;
    }
    void mergeRoutes(const json& changes) {
        std::lock_guard lock(m_mutex);
        for (const auto& [path, answer] : changes.items()) {
            if (answer.is_null())
                m_routes.erase(path);
            else
                m_routes[path] = answer;
        }
    }
    void reset() {
        std::lock_guard lock(m_mutex);
        m_routes = m_startRoutes;
        m_requests = json::array();
    }
    void record(json request) {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(std::move(request));
    }
    json requests() const {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    void clearRequests() {
        std::lock_guard lock(m_mutex);
        m_requests = json::array();
    }
    void setTestScript(json script) {
        std::lock_guard lock(m_mutex);
        m_testScript = std::move(script);
    }
    json testScript() const {
        std::lock_guard lock(m_mutex);
        return m_testScript;
    }
    void addReplies(json replies) {
        std::lock_guard lock(m_mutex);
        m_replies.push_back(std::move(replies));
    }
    json replies() const {
        std::lock_guard lock(m_mutex);
        return m_replies;
    }

  private:
    mutable std::mutex m_mutex;
    const json m_startRoutes;
    json m_routes;
    json m_requests = json::array();
    json m_testScript;  // null: the page runs no script
    json m_replies = json::array();
};

json defaultRoutes(const std::string& agentImage, const std::string& kelvaneImage) {
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
    if (!agentImage.empty()) routes["/agent/OrvoMac.dmg"] = {{"file", agentImage}};
    if (!kelvaneImage.empty()) routes["/agent/OrvoTendraKelvane.dmg"] = {{"file", kelvaneImage}};
    return routes;
}

bool waitUnlessStopping(std::chrono::milliseconds duration) {
    std::unique_lock lock(g_stopMutex);
    return !g_stopSignal.wait_for(lock, duration, [] { return g_stopping.load(); });
}

json describe(const httplib::Request& request) {
    json headers = json::object();
    for (const auto& [name, value] : request.headers) {
        if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" &&
            name != "LOCAL_PORT") {
            headers[name] = value;
        }
    }
    auto question = request.target.find('?');
    double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    return {{"receivedAt", now},
            {"method", request.method},
            {"path", request.path},
            {"target", request.target},
            {"query", question == std::string::npos ? "" : request.target.substr(question + 1)},
            {"headers", headers}};
}

// Streams `body` (or a file, or generated bytes) with the answer's pacing and faults.
void answerWithProvider(const json& answer, httplib::Response& response, std::string body,
                        const std::string& contentType) {
    std::shared_ptr<std::ifstream> file;
    std::size_t length = body.size();
    if (answer.contains("file")) {
        std::string path = answer["file"].get<std::string>();
        file = std::make_shared<std::ifstream>(path, std::ios::binary);
        if (!*file) {
            response.status = 500;
            response.set_content("cannot read " + path, "text/plain");
            return;
        }
        file->seekg(0, std::ios::end);
        length = static_cast<std::size_t>(file->tellg());
        file->seekg(0);
    } else if (answer.contains("repeatBytes")) {
        length = answer["repeatBytes"].get<std::size_t>();
    }
    std::size_t stopAt = answer.value("truncateAfter", length);
    double rate = answer.value("bytesPerSecond", 0.0);
    bool generated = answer.contains("repeatBytes");
    auto provide = [=, body = std::move(body)](std::size_t offset, httplib::DataSink& sink) {
        if (offset >= stopAt) {
            if (stopAt < length) return false;  // closes the connection mid-body
            sink.done();                        // the end of a chunked body
            return true;
        }
        std::size_t chunk = std::min<std::size_t>(rate > 0 ? std::max(1.0, rate / 10) : 65536,
                                                  std::min(stopAt, length) - offset);
        std::string data(chunk, 'x');
        if (file) {
            file->seekg(static_cast<std::streamoff>(offset));
            file->read(data.data(), static_cast<std::streamsize>(chunk));
        } else if (!generated) {
            data = body.substr(offset, chunk);
        }
        if (rate > 0 && !waitUnlessStopping(std::chrono::milliseconds(100))) return false;
        return sink.write(data.data(), data.size());
    };
    if (answer.value("chunked", false)) {
        response.set_chunked_content_provider(
            contentType, [provide](std::size_t offset, httplib::DataSink& sink) {
                return provide(offset, sink);
            });
        return;
    }
    response.set_content_provider(
        length, contentType, [provide](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            return provide(offset, sink);
        });
}

void answer(const json& planned, httplib::Response& response) {
    if (auto delay = planned.value("delayMs", 0); delay > 0) {
        waitUnlessStopping(std::chrono::milliseconds(delay));
    }
    if (planned.value("hang", false)) {
        while (waitUnlessStopping(std::chrono::seconds(1))) {
        }
        // Stopping: the connection drops without a complete answer.
        response.set_content_provider(
            1, "text/plain", [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
        return;
    }
    response.status = planned.value("status", 200);
    if (planned.contains("location"))
        response.set_header("Location", planned["location"].get<std::string>());
    if (auto headers = planned.find("headers"); headers != planned.end() && headers->is_object()) {
        for (const auto& [name, value] : headers->items())
            response.set_header(name, value.is_string() ? value.get<std::string>() : value.dump());
    }
    std::string contentType =
        planned.value("contentType", planned.contains("json") ? "application/json" : "text/plain");
    std::string body =
        planned.contains("json") ? planned["json"].dump() : planned.value("body", "");
    if (planned.contains("file") || planned.contains("repeatBytes") ||
        planned.contains("chunked") || planned.contains("truncateAfter") ||
        planned.contains("bytesPerSecond")) {
        if (planned.contains("file"))
            contentType = planned.value("contentType", "application/octet-stream");
        answerWithProvider(planned, response, std::move(body), contentType);
        return;
    }
    response.set_content(body, contentType);
}

bool writeFileAtomically(const std::string& path, const std::string& contents) {
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary);
        out << contents;
        if (!out) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    std::string portFile, caOut, caKey, scenarioPath, agentImage, kelvaneImage, joinPagePath;
    std::string altNames = "IP:127.0.0.1,DNS:localhost,DNS:*.localhost";
    bool offerUpdate = false;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "substitute-server: " << option << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (option == "--port")
            port = std::stoi(value());
        else if (option == "--port-file")
            portFile = value();
        else if (option == "--ca-out")
            caOut = value();
        else if (option == "--scenario")
            scenarioPath = value();
        else if (option == "--agent-image")
            agentImage = value();
        else if (option == "--kelvane-image")
            kelvaneImage = value();
        else if (option == "--join-page")
            joinPagePath = value();
        else if (option == "--subject-alt-names")
            altNames = value();
        else if (option == "--ca-key")
            caKey = value();
        else if (option == "--offer-update")
            offerUpdate = true;
        else {
            std::cerr << "substitute-server: unknown option " << option << "\n";
            return 2;
        }
    }

    json routes = defaultRoutes(agentImage, kelvaneImage);
    if (!scenarioPath.empty()) {
        std::ifstream in(scenarioPath);
        json scenario = json::parse(in, nullptr, false);
        if (!scenario.is_object()) {
            std::cerr << "substitute-server: " << scenarioPath << " is not a JSON object\n";
            return 2;
        }
        if (auto it = scenario.find("routes"); it != scenario.end() && it->is_object()) {
            for (const auto& [path, planned] : it->items()) routes[path] = planned;
        }
    }
    std::string joinPage = kDefaultJoinPage;
    if (!joinPagePath.empty()) {
        std::ifstream in(joinPagePath, std::ios::binary);
        joinPage.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    State state(routes);

    std::string error;
    auto certificates = Certificates::make(altNames, caKey, error);
    if (!certificates) {
        std::cerr << "substitute-server: " << error << "\n";
        return 1;
    }
    if (!caOut.empty() && !writeFileAtomically(caOut, certificates->authorityPem())) {
        std::cerr << "substitute-server: cannot write " << caOut << "\n";
        return 1;
    }

    httplib::SSLServer server(certificates->server.get(), certificates->serverKey.get());
    if (!server.is_valid()) {
        std::cerr << "substitute-server: TLS set-up failed\n";
        return 1;
    }
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server.set_keep_alive_max_count(100);

    server.Get("/__admin/requests", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(state.requests().dump(2), "application/json");
    });
    server.Post("/__admin/requests/clear",
                [&](const httplib::Request&, httplib::Response& response) {
                    state.clearRequests();
                    response.set_content("{}", "application/json");
                });
    server.Get("/__admin/routes", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(state.routes().dump(2), "application/json");
    });
    server.Post(
        "/__admin/routes", [&](const httplib::Request& request, httplib::Response& response) {
            json changes = json::parse(request.body, nullptr, false);
            if (!changes.is_object()) {
                response.status = 400;
                response.set_content("body must be a JSON object of path to answer", "text/plain");
                return;
            }
            state.mergeRoutes(changes);
            response.set_content("{}", "application/json");
        });
    server.Post("/__admin/reset", [&](const httplib::Request&, httplib::Response& response) {
        state.reset();
        response.set_content("{}", "application/json");
    });
    server.Post("/__admin/test-script",
                [&](const httplib::Request& request, httplib::Response& response) {
                    json script = json::parse(request.body, nullptr, false);
                    state.setTestScript(script.is_discarded() ? json() : script);
                    response.set_content("{}", "application/json");
                });
    server.Get("/__admin/replies", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(state.replies().dump(2), "application/json");
    });
    server.Get("/__test/script", [&](const httplib::Request&, httplib::Response& response) {
        json script = state.testScript();
        if (script.is_null()) {
            response.status = 404;
            return;
        }
        response.set_content(script.dump(), "application/json");
    });
    server.Post("/__test/replies",
                [&](const httplib::Request& request, httplib::Response& response) {
                    json replies = json::parse(request.body, nullptr, false);
                    if (!replies.is_discarded()) state.addReplies(replies);
                    response.set_content("{}", "application/json");
                });
    server.Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
        state.record(describe(request));
        if (auto planned = state.route(request.path)) return answer(*planned, response);
        bool api = request.path.rfind("/api/", 0) == 0 || request.path.rfind("/agent/", 0) == 0;
        if (api) {
            response.status = 404;
            response.set_content("not found", "text/plain");
            return;
        }
        // Any other path is the join page, whatever path the session was given.
        response.set_content(joinPage, "text/html; charset=utf-8");
    });

    int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                          : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) {
        std::cerr << "substitute-server: cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    if (offerUpdate) {
        json answer = {{"update", true},
                       {"download_url", "https://127.0.0.1:" + std::to_string(bound) +
                                            "/agent/OrvoTendraKelvane.dmg"}};
        json route = {{"json", {{"representation", answer}}}};
        state.mergeRoutes({{"/api/v1/customer_plugin/check_update", route}});
    }
    if (!portFile.empty() && !writeFileAtomically(portFile, std::to_string(bound) + "\n")) {
        std::cerr << "substitute-server: cannot write " << portFile << "\n";
        return 1;
    }
    std::cout << "substitute-server: listening on https://127.0.0.1:" << bound << std::endl;

    // The signal handler only raises the flag; this thread does the stopping.
    struct sigaction action {};
    action.sa_handler = [](int) { g_stopping = true; };
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::thread waker([&server] {
        while (!g_stopping) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        g_stopSignal.notify_all();
        server.stop();
    });
    server.listen_after_bind();
    g_stopping = true;
    waker.join();
    return 0;
}
