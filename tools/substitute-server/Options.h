#pragma once

#include <optional>
#include <string>

// The server's command line:
//   substitute-server [--port N] [--port-file F] [--ca-out F] [--scenario F]
//                     [--agent-image F] [--kelvane-image F] [--join-page F]
//                     [--subject-alt-names "IP:127.0.0.1,DNS:localhost"] [--ca-key F]
//                     [--offer-update] [--agent-version V]
struct Options {
    int port = 0;  // 0: any free port
    std::string portFile, caOut, caKey, scenario, agentImage, kelvaneImage, joinPage;
    std::string subjectAltNames = "IP:127.0.0.1,DNS:localhost,DNS:*.localhost";
    // The self-update check answers that a newer build exists, to be downloaded from this
    // server's /agent/OrvoTendraKelvane.dmg.
    bool offerUpdate = false;
    // The version of the agent in --agent-image, for the agent check's answers.
    std::string agentVersion = KELVANE_STAND_IN_AGENT_VERSION;

    // Absent, with the reason printed, when the command line is wrong.
    static std::optional<Options> parse(int argc, char** argv);
};
