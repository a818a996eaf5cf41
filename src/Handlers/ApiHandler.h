#pragma once

#include <optional>
#include <string>

// Issues the service's API calls and resolves data centres for joined sessions. One
// instance per process.
class ApiHandler {
public:
    static ApiHandler& getInstance();

    // Sets dcName and webServerName from a join's data-centre code.
    void findServerNameUsingDC(const std::optional<std::string>& dcName);
    // Sets dcName and webServerName from the digit that a session key carries.
    void findDcNameUsingKey(const std::string& key);

    ApiHandler(const ApiHandler&) = delete;
    ApiHandler& operator=(const ApiHandler&) = delete;

private:
    ApiHandler() = default;
};
