// Stand-in for the support agent, for development and tests. When started it writes a receipt
// of what it was handed and exits (after $KELVANE_STAND_IN_AGENT_SECONDS, when set):
//   ~/Library/Application Support/ConveloNative/OrvoAgentReceipt.json
//     {"arguments": [...], "joinDetails": text|null, "connectionSettings": text|null}
//   ~/Library/Application Support/ConveloNative/OrvoAgentStarts.log   one line per start

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

namespace {

nlohmann::json contentsOrNull(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    const char* home = std::getenv("HOME");
    if (!home) return 1;
    std::string folder = std::string(home) + "/Library/Application Support/ConveloNative/";
    nlohmann::json receipt;
    receipt["arguments"] = nlohmann::json::array();
    for (int i = 1; i < argc; ++i) receipt["arguments"].push_back(argv[i]);
    receipt["joinDetails"] = contentsOrNull(folder + "orvojoindetails.conf");
    receipt["connectionSettings"] =
        contentsOrNull(std::string(home) + "/Library/Logs/OrvoTendra/ConnectionSettings.plist");
    receipt["pid"] = ::getpid();

    std::string path = folder + "OrvoAgentReceipt.json";
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary);
        out << receipt.dump(2) << "\n";
        if (!out) return 1;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) return 1;
    std::ofstream(folder + "OrvoAgentStarts.log", std::ios::app)
        << "started " << ::getpid() << "\n";
    // A real agent keeps running for its session; tests that need that ask for it.
    if (const char* linger = std::getenv("KELVANE_STAND_IN_AGENT_SECONDS"))
        ::sleep(static_cast<unsigned>(std::atoi(linger)));
    return 0;
}
