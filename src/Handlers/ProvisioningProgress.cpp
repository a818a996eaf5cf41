#include "ProvisioningProgress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "../platform/Format.h"
#include "../platform/Localization.h"

namespace {

constexpr double kBytesPerMegabyte = 1000 * 1000;

// A figure in the customer's own digits (the locale's decimal sign), for a sentence.
std::string figure(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

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
    if (expected && *expected > 0) {
        double fraction = std::min(1.0, static_cast<double>(received) / *expected);
        std::string text = platform::format(
            // TRANSLATORS: the percentage done, the megabytes received and in all.
            platform::localized("Downloading the support program: %s %% (%s of %s MB)"),
            figure(std::floor(fraction * 100), 0), figure(megabytes, 0),
            figure(static_cast<double>(*expected) / kBytesPerMegabyte, 0));
        return {text, fraction};
    }
    // TRANSLATORS: the megabytes received so far, of a whole whose size is not known.
    return {platform::format(platform::localized("Downloading the support program: %s MB"),
                             figure(megabytes, 1)),
            std::nullopt};
}

void ProvisioningProgress::downloadStarted() {
    show(platform::ProgressStrip{platform::localized("Downloading the support program…"),
                                 std::nullopt});
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
    if (m_display) m_display(strip);
    watchForTheNextByte();
}

void ProvisioningProgress::watchForTheNextByte() {
    m_stalled = platform::MainLoop::main().scheduleTimer(kStalledSeconds, false, [this] {
        if (m_display) {
            m_display(platform::ProgressStrip{platform::localized("Waiting for the network…"),
                                              m_fraction});
        }
    });
}

void ProvisioningProgress::downloadEnded() {
    show(std::nullopt);
}

std::string ProvisioningProgress::failureText(const platform::Failure& why) {
    using platform::HttpFailure;
    switch (why.kind<HttpFailure>().value_or(HttpFailure::transport)) {
        case HttpFailure::proxyAuthenticationRequired:
            return platform::localized(
                "The support program could not be prepared: the network's proxy asks for a "
                "user name and password. Enter them when the window asks, and join again.");
        case HttpFailure::proxyRefused:
            return platform::localized(
                "The support program could not be prepared: the network's proxy would not "
                "connect. Please check the proxy settings and join again.");
        case HttpFailure::untrustedCertificate:
            return platform::localized(
                "The support program could not be prepared: this network presents a "
                "certificate this computer does not trust. Please try another network.");
        case HttpFailure::signInPage:
            return platform::localized(
                "The support program could not be prepared: this network asks you to sign in "
                "first. Sign in with your web browser and join again.");
        default:
            return platform::localized(
                "The support program could not be prepared. Please try joining again.");
    }
}

void ProvisioningProgress::failed(const platform::Failure& why) {
    show(platform::ProgressStrip{failureText(why), std::nullopt, true});
}

void ProvisioningProgress::joinStarted() {
    platform::MainLoop::main().post([this] {
        // A failure said before belongs to the join before; a download under way stays.
        if (m_showsFailure && m_display) m_display(std::nullopt);
        m_showsFailure = false;
    });
}

void ProvisioningProgress::dismissed() {
    platform::MainLoop::main().post([this] { m_showsFailure = false; });
}

void ProvisioningProgress::show(std::optional<platform::ProgressStrip> strip) {
    platform::MainLoop::main().post([this, strip = std::move(strip)] {
        // Any other report ends the download's watch: it started, ended or failed.
        m_stalled.reset();
        m_received.reset();
        m_fraction.reset();
        m_showsFailure = strip && strip->failed;
        if (m_display) m_display(strip);
    });
}
