#include "ProductIdentity.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace platform {

namespace {

std::optional<ProductIdentity>& handedOver() {
    // Never destroyed: worker threads still under way at exit (a reachability check, a
    // download) read it after the main thread has begun to run the destructors of statics.
    static auto* identity = new std::optional<ProductIdentity>;
    return *identity;
}

}  // namespace

void setProductIdentity(ProductIdentity identity) {
    handedOver() = std::move(identity);
}

const ProductIdentity& productIdentity() {
    if (!handedOver()) {
        std::fputs("The product identity was not handed to the platform services\n", stderr);
        std::abort();
    }
    return *handedOver();
}

}  // namespace platform
