#include "Product.h"

namespace Product {

platform::ProductIdentity identity() {
    return {kApplicationId,
            "/com/Orvo/Tendra/DistributedNotification",
            "com.Orvo.Tendra.DistributedNotification",
            kDiskImageTool,
            "kelvane-hdiutil",
            kDeepLinkScheme};
}

void handToPlatform() {
    platform::setProductIdentity(identity());
}

}  // namespace Product
