#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The deployment keys, from the one list of them (cmake/deployment-hosts.txt).
inline std::vector<std::string> deploymentKeys() {
    std::ifstream list(std::string(KELVANE_SOURCE_DIR) + "/cmake/deployment-hosts.txt");
    std::vector<std::string> keys;
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        keys.push_back(line.substr(0, line.find(' ')));
    }
    return keys;
}

// A Deployment.plist whose every data centre is `host`, written by the same script the run
// script and the benchmarks use.
inline bool writeDeployment(const std::string& path, const std::string& host) {
    std::string command = std::string("'") + KELVANE_SOURCE_DIR +
                          "/scripts/write-deployment.sh' '" + path + "' '" + host + "'";
    return std::system(command.c_str()) == 0;
}
