#include "Handlers/ServerAnswers.h"
#include "FuzzTarget.h"

KELVANE_FUZZ_TARGET(ServerAnswers) {
    std::string body = fuzzText(data, size);
    auto domain = ServiceDomainAnswer::parse(body);
    if (domain.serviceDomain && domain.serviceDomain->empty()) __builtin_trap();
    (void)AgentCheckAnswer::parse(body);
    auto update = KelvaneCheckAnswer::parse(body);
    // ".dmg.dmg" is replaced in one pass, as the service expects: only a longer run in the
    // answer (or one spelled with escapes) can leave one behind.
    if (update.downloadUrl && update.downloadUrl->find(".dmg.dmg") != std::string::npos &&
        body.find(".dmg.dmg.dmg") == std::string::npos && body.find('\\') == std::string::npos)
        __builtin_trap();
    if (mountPointFromToolOutput(body).find('\t') != std::string::npos) __builtin_trap();
    return 0;
}
