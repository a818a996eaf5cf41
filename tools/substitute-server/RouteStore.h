#pragma once

#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

// The server's state, shared by its handler threads: the planned answer of each path, the
// record of every request, and the join page's test script with the replies it sent.
class RouteStore {
  public:
    explicit RouteStore(nlohmann::json startRoutes);

    // The routes every run starts with: the service's API paths with harmless answers, and
    // the two images when given.
    static nlohmann::json defaultRoutes(const std::string& agentImage,
                                        const std::string& kelvaneImage);

    std::optional<nlohmann::json> route(const std::string& path) const;
    nlohmann::json routes() const;
    // Each path of `changes` gets its answer; a null answer removes the path.
    void mergeRoutes(const nlohmann::json& changes);
    // The start-up routes again, and no requests.
    void reset();

    // Returns the entry's number, for addBytesSent.
    std::size_t record(nlohmann::json request);
    // Counts body bytes sent in answer to entry `entry` ("bytesSent" in its record).
    void addBytesSent(std::size_t entry, std::size_t bytes);
    nlohmann::json requests() const;
    void clearRequests();

    void setTestScript(nlohmann::json script);
    nlohmann::json testScript() const;
    void addReplies(nlohmann::json replies);
    nlohmann::json replies() const;

  private:
    mutable std::mutex m_mutex;
    const nlohmann::json m_startRoutes;
    nlohmann::json m_routes;
    nlohmann::json m_requests = nlohmann::json::array();
    std::size_t m_recorded = 0;   // requests recorded since the start
    nlohmann::json m_testScript;  // null: the page runs no script
    nlohmann::json m_replies = nlohmann::json::array();
};
