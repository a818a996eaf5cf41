#include "FuzzTarget.h"
#include "Handlers/ServerAnswers.h"

KELVANE_FUZZ_TARGET(ServerAnswers) {
    std::string body = fuzzText(data, size);
    auto domain = ServiceDomainAnswer::parse(body);
    if (domain.serviceDomain && domain.serviceDomain->empty()) __builtin_trap();
    (void)AgentCheckAnswer::parse(body);
    auto update = KelvaneCheckAnswer::parse(body);
    if (update.downloadUrl && update.downloadUrl->find(".dmg.dmg") != std::string::npos) __builtin_trap();
    if (mountPointFromToolOutput(body).find('\t') != std::string::npos) __builtin_trap();
    return 0;
}
