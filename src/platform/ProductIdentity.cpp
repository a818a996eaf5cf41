#include "ProductIdentity.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace platform {

namespace {

std::optional<ProductIdentity>& handedOver() {
    static std::optional<ProductIdentity> identity;
    return identity;
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
