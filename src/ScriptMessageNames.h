#pragma once

// The names under which the join page posts its messages to the application, in the order
// they are registered. Plain data, so the start-up yardstick can register the same ones.
inline constexpr const char* kScriptMessageNames[] = {
    "getRRSessionDigest",       "sendRRSessionDigestToNative",
    "getCustomerDetails",       "sendCustomerDetailsToNative",
    "getProxyDetails",          "sendProxyDetailsToNative",
    "getActiveSessionKey",      "kelvaneLoaded",
    "sendRRSessionKeyToNative", "sendJoinDetailsToNative",
    "clearRRSessionDigest",     "sendJoinReportAbuseLinkToNative",
    "sendKelvaneTitleToNative", "clearKelvaneDigest",
    "clearActiveSessionKey",    "openProxy",
    "consoleHandler",           "getSystemOs"};
