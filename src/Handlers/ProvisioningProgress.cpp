#include "ProvisioningProgress.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// How long the failure message stays before the strip goes.
constexpr double kFailureShownSeconds = 8;
constexpr double kBytesPerMegabyte = 1000 * 1000;

}  // namespace

ProvisioningProgress& ProvisioningProgress::shared() {
    static ProvisioningProgress* progress = new ProvisioningProgress();  // lives until exit
    return *progress;
}

void ProvisioningProgress::setDisplay(Display display) {
    platform::assertMainThread("ProvisioningProgress::setDisplay");
    m_display = std::move(display);
}

platform::ProgressStrip ProvisioningProgress::downloading(std::uint64_t received,
                                                          std::optional<std::uint64_t> expected) {
    double megabytes = static_cast<double>(received) / kBytesPerMegabyte;
    char text[128];
    if (expected && *expected > 0) {
        double fraction = std::min(1.0, static_cast<double>(received) / *expected);
        std::snprintf(text, sizeof text, "Downloading the support program: %d %% (%.0f of %.0f MB)",
                      static_cast<int>(fraction * 100), megabytes,
                      static_cast<double>(*expected) / kBytesPerMegabyte);
        return {text, fraction};
    }
    std::snprintf(text, sizeof text, "Downloading the support program: %.1f MB", megabytes);
    return {text, std::nullopt};
}

void ProvisioningProgress::downloadStarted() {
    show(platform::ProgressStrip{"Downloading the support program…", std::nullopt});
    platform::MainLoop::main().post([this] {
        m_received = 0;
        watchForTheNextByte();
    });
}

void ProvisioningProgress::downloadProgressed(std::uint64_t received,
                                              std::optional<std::uint64_t> expected) {
    platform::MainLoop::main().post(
        [this, received, expected] { showReceived(received, expected); });
}

void ProvisioningProgress::showReceived(std::uint64_t received,
                                        std::optional<std::uint64_t> expected) {
    // Progress reports also come on a timer with nothing new, and may come after the download
    // ended: only a new byte of the download under way counts.
    if (!m_received || received <= *m_received) return;
    m_received = received;
    platform::ProgressStrip strip = downloading(received, expected);
    m_fraction = strip.fraction;
    m_hiding.reset();
    if (m_display) m_display(strip);
    watchForTheNextByte();
}

void ProvisioningProgress::watchForTheNextByte() {
    m_stalled = platform::MainLoop::main().scheduleTimer(kStalledSeconds, false, [this] {
        if (m_display) m_display(platform::ProgressStrip{"Waiting for the network…", m_fraction});
    });
}

void ProvisioningProgress::downloadEnded() {
    show(std::nullopt);
}

std::string ProvisioningProgress::failureText(const platform::Failure& why) {
    using platform::HttpFailure;
    switch (why.kind<HttpFailure>().value_or(HttpFailure::transport)) {
        case HttpFailure::proxyAuthenticationRequired:
            return "The support program could not be prepared: the network's proxy asks for a "
                   "user name and password. Enter them when the window asks, and join again.";
        case HttpFailure::proxyRefused:
            return "The support program could not be prepared: the network's proxy would not "
                   "connect. Please check the proxy settings and join again.";
        case HttpFailure::untrustedCertificate:
            return "The support program could not be prepared: this network presents a "
                   "certificate this computer does not trust. Please try another network.";
        case HttpFailure::signInPage:
            return "The support program could not be prepared: this network asks you to sign in "
                   "first. Sign in with your web browser and join again.";
        default:
            return "The support program could not be prepared. Please try joining again.";
    }
}

void ProvisioningProgress::failed(const platform::Failure& why) {
    show(platform::ProgressStrip{failureText(why), std::nullopt, true}, true);
}

void ProvisioningProgress::show(std::optional<platform::ProgressStrip> strip, bool briefly) {
    platform::MainLoop::main().post([this, strip = std::move(strip), briefly] {
        m_hiding.reset();
        // Any other report ends the download's watch: it started, ended or failed.
        m_stalled.reset();
        m_received.reset();
        m_fraction.reset();
        if (!m_display) return;
        m_display(strip);
        if (briefly) {
            m_hiding =
                platform::MainLoop::main().scheduleTimer(kFailureShownSeconds, false, [this] {
                    if (m_display) m_display(std::nullopt);
                });
        }
    });
}
