#pragma once

#include "platform/ProductIdentity.h"

// The names this product goes by, kept once. The backends receive theirs through
// handToPlatform(); the logic uses the constants.
namespace Product {

inline constexpr const char* kApplicationId = "com.Orvo.Tendra.OrvoTendraKelvane";
inline constexpr const char* kBundleName = "Orvo Tendra Kelvane.app";
// The name people see: the window's first title and the desktop's.
inline constexpr const char* kDisplayName = "Orvo Tendra - Kelvane";
// The volume that brings the application: its first install and its updates.
inline constexpr const char* kVolumeName = "Kelvane Plugin";
// The support request on that volume, beside the bundle.
inline constexpr const char* kConfigurationFileName = ".kelvaneConfiguration";
inline constexpr const char* kDiskImageTool = "/usr/bin/hdiutil";
// The service's own links, which the desktop opens.
inline constexpr const char* kDeepLinkScheme = "orvojoin";
// The message catalogues' name (Contents/Resources/locale/<language>/LC_MESSAGES/<it>.mo).
inline constexpr const char* kTextDomain = "orvo-tendra-kelvane";

platform::ProductIdentity identity();
// Hands the identity and the message catalogues to the platform services; the first thing
// every entry point does.
void handToPlatform();

}  // namespace Product
