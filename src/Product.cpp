#include "Product.h"

#include "platform/Bundle.h"
#include "platform/Localization.h"

namespace Product {

platform::ProductIdentity identity() {
    return {kApplicationId,
            kDisplayName,
            "/com/Orvo/Tendra/DistributedNotification",
            "com.Orvo.Tendra.DistributedNotification",
            kDiskImageTool,
            "kelvane-hdiutil",
            kDeepLinkScheme};
}

void handToPlatform() {
    platform::setProductIdentity(identity());
    platform::Localization::useCatalogues(
        platform::Bundle::mainBundlePath() + "/Contents/Resources/locale", kTextDomain);
}

}  // namespace Product
