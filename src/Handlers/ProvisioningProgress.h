#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "../platform/Http.h"
#include "../platform/MainLoop.h"
#include "../platform/Window.h"

// What the window shows of an agent's provisioning: a strip while its image downloads (which
// says so when the line has stopped), and a message when the support program could not be
// prepared, which stays until the next join or until the customer dismisses it. Reports come
// from any thread; the display is changed on the main thread, in the order the reports were
// made. Its texts are in the customer's language; figures in them use the locale's digits.
class ProvisioningProgress {
  public:
    using Display = std::function<void(const std::optional<platform::ProgressStrip>&)>;

    static ProvisioningProgress& shared();

    // Main thread. Without a display (no window yet, or tests), reports change nothing.
    void setDisplay(Display display);

    void downloadStarted();
    void downloadProgressed(std::uint64_t received, std::optional<std::uint64_t> expected);
    void downloadEnded();
    // The message, with what the customer can do about `why` when it is known.
    void failed(const platform::Failure& why = platform::Failure());
    // A new join takes away the message of a join before.
    void joinStarted();
    // The customer closed the message; the window has hidden it.
    void dismissed();

    // The strip for bytes received so far of an announced or unknown whole.
    static platform::ProgressStrip downloading(std::uint64_t received,
                                               std::optional<std::uint64_t> expected);

    // How long a download may go without a byte before the strip says the line has stopped.
    static constexpr double kStalledSeconds = 15;

  private:
    static std::string failureText(const platform::Failure& why);
    void show(std::optional<platform::ProgressStrip> strip);
    // Main thread: the figures for `received` bytes, and the watch for the next byte.
    void showReceived(std::uint64_t received, std::optional<std::uint64_t> expected);
    void watchForTheNextByte();

    // Main thread only.
    Display m_display;
    std::unique_ptr<platform::Timer> m_stalled;
    std::optional<std::uint64_t> m_received;  // of the download under way
    std::optional<double> m_fraction;         // its last figure, kept while it waits
    bool m_showsFailure = false;
};
