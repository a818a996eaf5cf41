#pragma once

namespace platform {

// Where a GET may be answered from.
enum class CachePolicy {
    // The server, with HTTP's own caching rules.
    useProtocolCachePolicy,
    // A kept answer for the address whenever there is one, however old, without asking the
    // server; the server only when none is kept. So a page seen once still shows without a
    // network.
    returnCacheDataElseLoad,
};

}  // namespace platform
