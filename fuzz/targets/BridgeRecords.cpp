#include "Handlers/BridgeRecords.h"
#include "FuzzTarget.h"
#include "Handlers/JsonText.h"

KELVANE_FUZZ_TARGET(BridgeRecords) {
    std::string text = fuzzText(data, size);
    (void)joinSessionMessage::decode(text);
    (void)customerDetails::decode(text);
    (void)proxyDetails::decode(text);
    if (auto json = parseUntrustedJson(text)) (void)truthValue(*json);
    return 0;
}
