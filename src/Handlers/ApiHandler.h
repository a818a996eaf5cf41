#pragma once

#include <functional>
#include <optional>
#include <string>

// Issues the service's API calls and resolves data centres for joined sessions. One
// instance per process.
class ApiHandler {
  public:
    static ApiHandler& getInstance();

    using Completion = std::function<void(bool received)>;

    // Asks whether the agent must be (re)installed and from where; stores the answer in the
    // session state. `completion` runs once: on a worker thread, or at once with false when
    // no request can be made.
    void checkOrvoTendraUpdateWithCompletion(Completion completion);
    // Asks whether a newer build of this application exists; when one does, its staging starts
    // before `completion` runs.
    void checkKelvaneUpdateWithCompletion(Completion completion);

    // Sets dcName and webServerName from a join's data-centre code.
    void findServerNameUsingDC(const std::optional<std::string>& dcName);
    // Sets dcName and webServerName from the digit that a session key carries.
    void findDcNameUsingKey(const std::string& key);

    ApiHandler(const ApiHandler&) = delete;
    ApiHandler& operator=(const ApiHandler&) = delete;

  private:
    ApiHandler() = default;
};
