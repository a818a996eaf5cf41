#include "FuzzTarget.h"
#include "Handlers/KelvaneConfiguration.h"

KELVANE_FUZZ_TARGET(Configuration) {
    KelvaneConfiguration configuration = KelvaneConfiguration::parse(fuzzText(data, size));
    for (const auto& [key, value] : configuration.pairs) {
        // Pairs never carry the separators they were cut at.
        if (key.empty() || value.empty() || key.find('&') != std::string::npos ||
            value.find('=') != std::string::npos) {
            __builtin_trap();
        }
    }
    return 0;
}
