// Stand-in for the service's web server, for development and tests: HTTPS on 127.0.0.1 with a
// certificate authority made for this run, answers set by a scenario, and a record of every
// request it received. Options.h lists the command line, FaultInjection.h what a route's answer
// may plan, Endpoints.h the administration endpoints.
//
// A route answer comes from the scenario ("routes": {"<path>": answer}) or from
// POST /__admin/routes.

#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "Certificates.h"
#include "Endpoints.h"
#include "FaultInjection.h"
#include "Options.h"
#include "RouteStore.h"

using nlohmann::json;

namespace {

// The join page, from join.html beside this file.
const char* kDefaultJoinPage =
#include "JoinPage.inc"
    ;

std::atomic<bool> g_signalled{false};

// Others watch for these files: they appear whole or not at all.
bool writeFileAtomically(const std::string& path, const std::string& contents) {
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary);
        out << contents;
        if (!out) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

std::optional<json> startRoutes(const Options& options) {
    json routes = RouteStore::defaultRoutes(options.agentImage, options.kelvaneImage);
    if (options.scenario.empty()) return routes;
    std::ifstream in(options.scenario);
    json scenario = json::parse(in, nullptr, false);
    if (!scenario.is_object()) {
        std::cerr << "substitute-server: " << options.scenario << " is not a JSON object\n";
        return std::nullopt;
    }
    if (auto it = scenario.find("routes"); it != scenario.end() && it->is_object()) {
        for (const auto& [path, planned] : it->items()) routes[path] = planned;
    }
    return routes;
}

std::string joinPage(const Options& options) {
    if (options.joinPage.empty()) return kDefaultJoinPage;
    std::ifstream in(options.joinPage, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    auto options = Options::parse(argc, argv);
    if (!options) return 2;
    auto routes = startRoutes(*options);
    if (!routes) return 2;
    RouteStore store(*routes);

    auto made = Certificates::make(options->subjectAltNames, options->caKey);
    if (!made) {
        std::cerr << "substitute-server: " << made.error() << "\n";
        return 1;
    }
    const std::unique_ptr<Certificates>& certificates = *made;
    if (!options->caOut.empty() &&
        !writeFileAtomically(options->caOut, certificates->authorityPem())) {
        std::cerr << "substitute-server: cannot write " << options->caOut << "\n";
        return 1;
    }
    httplib::SSLServer server(certificates->server.get(), certificates->serverKey.get());
    if (!server.is_valid()) {
        std::cerr << "substitute-server: TLS set-up failed\n";
        return 1;
    }
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server.set_keep_alive_max_count(100);
    addAdministrationEndpoints(server, store);
    addServiceEndpoints(
        server, store, joinPage(*options),
        options->agentImage.empty() ? std::nullopt : std::optional(options->agentVersion));

    int port = options->port;
    int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                          : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) {
        std::cerr << "substitute-server: cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    if (options->offerUpdate) {
        json answer = {{"update", true},
                       {"download_url", "https://127.0.0.1:" + std::to_string(bound) +
                                            "/agent/OrvoTendraKelvane.dmg"}};
        store.mergeRoutes(
            {{"/api/v1/customer_plugin/check_update", {{"json", {{"representation", answer}}}}}});
    }
    if (!options->portFile.empty() &&
        !writeFileAtomically(options->portFile, std::to_string(bound) + "\n")) {
        std::cerr << "substitute-server: cannot write " << options->portFile << "\n";
        return 1;
    }
    std::cout << "substitute-server: listening on https://127.0.0.1:" << bound << std::endl;

    // The signal handler only raises the flag; this thread does the stopping.
    struct sigaction action {};
    action.sa_handler = [](int) { g_signalled = true; };
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::thread waker([&server] {
        while (!g_signalled) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stopAnswering();
        server.stop();
    });
    server.listen_after_bind();
    g_signalled = true;
    waker.join();
    return 0;
}
