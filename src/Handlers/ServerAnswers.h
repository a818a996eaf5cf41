#pragma once

#include <optional>
#include <string>

// The parts of the service's JSON answers that the system uses, read from bodies an outsider
// controls. Members of the wrong kind count as missing.

struct ServiceDomainAnswer {
    std::string representationText = "(null)";  // for the log
    std::optional<std::string> serviceDomain;   // present and not empty
    static ServiceDomainAnswer parse(const std::string& body);
};

struct AgentCheckAnswer {
    std::string representationText = "(null)";
    std::optional<bool> updateNeeded;
    std::optional<std::string> downloadUrl;  // present and not empty
    std::optional<std::string> fallbackUrl;  // present and not empty
    static AgentCheckAnswer parse(const std::string& body);
};

struct KelvaneCheckAnswer {
    std::string wholeText = "(null)";
    std::optional<bool> update;
    std::optional<std::string> downloadUrl;  // ".dmg.dmg" already made ".dmg"; may be empty
    static KelvaneCheckAnswer parse(const std::string& body);
};

// The mount point on the disk-image tool's last output line: the text after its last tab.
std::string mountPointFromToolOutput(const std::string& output);
