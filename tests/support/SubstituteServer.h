#pragma once

#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Files.h"
#include "TempHome.h"

// The project's substitute service server, started for one test on a free port.
class SubstituteServer {
  public:
    explicit SubstituteServer(std::vector<std::string> extraArguments = {}) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kelvane-server-XXXXXX").string();
        m_folder = ::mkdtemp(pattern.data());
        std::vector<std::string> arguments = {KELVANE_SUBSTITUTE_SERVER, "--port-file",
                                              m_folder + "/port", "--ca-out", caPath()};
        arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
        m_pid = ::fork();
        if (m_pid == 0) {
            std::vector<char*> argv;
            for (auto& a : arguments) argv.push_back(a.data());
            argv.push_back(nullptr);
            std::string log = m_folder + "/server.log";
            std::freopen(log.c_str(), "w", stdout);
            std::freopen(log.c_str(), "a", stderr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        for (int i = 0; i < 200 && port() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        if (port() == 0) throw std::runtime_error("substitute server did not start");
    }
    ~SubstituteServer() {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }
    SubstituteServer(const SubstituteServer&) = delete;
    SubstituteServer& operator=(const SubstituteServer&) = delete;

    int port() const {
        std::string text = readFile(m_folder + "/port");
        return text.empty() ? 0 : std::stoi(text);
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(port()); }
    pid_t pid() const { return m_pid; }
    std::string caPath() const { return m_folder + "/ca.pem"; }

    void setRoutes(const nlohmann::json& routes) { post("/__admin/routes", routes.dump()); }
    void clearRequests() { post("/__admin/requests/clear", "{}"); }
    // Messages the join page posts when it loads; it reports the replies it got back.
    void setTestScript(const nlohmann::json& script) {
        post("/__admin/test-script", script.dump());
    }
    nlohmann::json replies() {
        auto result = client()->Get("/__admin/replies");
        if (!result || result->status != 200) throw std::runtime_error("admin request failed");
        return nlohmann::json::parse(result->body);
    }
    nlohmann::json requests() {
        auto result = client()->Get("/__admin/requests");
        if (!result || result->status != 200) throw std::runtime_error("admin request failed");
        return nlohmann::json::parse(result->body);
    }
    // Requests received for one path.
    std::vector<nlohmann::json> requestsFor(const std::string& path) {
        std::vector<nlohmann::json> found;
        for (auto& request : requests()) {
            if (request["path"] == path) found.push_back(request);
        }
        return found;
    }

    // Body bytes the server sent for one path, over all its requests.
    std::uint64_t bytesSentFor(const std::string& path) {
        std::uint64_t bytes = 0;
        for (auto& request : requestsFor(path)) bytes += request["bytesSent"].get<std::uint64_t>();
        return bytes;
    }

  private:
    std::unique_ptr<httplib::SSLClient> client() const {
        // The admin channel talks to our own child process, whatever certificate it was told to
        // present, so it does not verify it.
        auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", port());
        client->enable_server_certificate_verification(false);
        return client;
    }
    void post(const std::string& path, const std::string& body) {
        auto result = client()->Post(path.c_str(), body, "application/json");
        if (!result || result->status != 200)
            throw std::runtime_error("admin request failed: " + path);
    }

    std::string m_folder;
    pid_t m_pid = -1;
};
