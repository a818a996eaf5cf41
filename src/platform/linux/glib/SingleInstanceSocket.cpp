#include <glib-unix.h>
#include <glib.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "../../ProductIdentity.h"
#include "../../SingleInstance.h"
#include "../support/GLibPtr.h"
#include "../support/Owned.h"

namespace platform {

namespace {

// How long a later start waits for a copy that is ending to let the claim go.
constexpr auto kWaitForEndingCopy = std::chrono::seconds(30);
constexpr int kAnswerTimeoutMs = 5000;
constexpr char kPresented = '1';
constexpr char kNotPresented = '0';
// A later start's request: its activation token and a line break, sent as soon as it connects.
constexpr std::size_t kLongestRequest = 4096;
constexpr int kRequestTimeoutMs = 1000;

// An abstract socket name: no file to go stale after a crash, freed when the process ends.
// The user's id and the home (as a digest, the same for every build) make it per user and home.
sockaddr_un addressFor(const std::string& home, socklen_t& length) {
    g_autofree char* canonical = g_canonicalize_filename(home.c_str(), nullptr);
    g_autofree char* digest = g_compute_checksum_for_string(G_CHECKSUM_SHA256, canonical, -1);
    std::string name = productIdentity().applicationId + ".instance." + std::to_string(::getuid()) +
                       "." + std::string(digest).substr(0, 24);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // sun_path[0] stays 0: the abstract namespace.
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return address;
}

// Only a process of the same user may hold or use the claim; a name another user took is
// not ours to obey.
bool peerIsThisUser(int socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return ::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           credentials.uid == ::getuid();
}

using Presenter = std::function<bool(const std::string& activationToken)>;

// The request a later start sent on `connection`: the text up to its line break. Bounded in
// size and time, since it is read on the main thread.
std::string readRequest(int connection) {
    std::string request;
    char buffer[512];
    while (request.size() < kLongestRequest) {
        pollfd wait{connection, POLLIN, 0};
        if (::poll(&wait, 1, kRequestTimeoutMs) != 1) break;
        ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
        if (std::size_t end = request.find('\n'); end != std::string::npos) {
            request.resize(end);
            return request;
        }
    }
    return "";  // cut short: presented without a token
}

class SocketClaim final : public SingleInstance {
  public:
    SocketClaim(support::FileDescriptor listening, Presenter present)
        : m_listening(std::move(listening)), m_present(std::move(present)) {
        m_source = g_unix_fd_add(m_listening.get(), G_IO_IN, &onConnection, this);
    }
    // The source goes before the socket it watches.
    ~SocketClaim() override { m_source.remove(); }

  private:
    static gboolean onConnection(gint, GIOCondition, gpointer data) {
        auto* self = static_cast<SocketClaim*>(data);
        support::FileDescriptor connection(
            ::accept4(self->m_listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!connection) return G_SOURCE_CONTINUE;
        char answer = kNotPresented;
        if (peerIsThisUser(connection.get()) && self->m_present &&
            self->m_present(readRequest(connection.get()))) {
            answer = kPresented;
        }
        (void)::send(connection.get(), &answer, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        return G_SOURCE_CONTINUE;
    }

    support::FileDescriptor m_listening;
    Presenter m_present;
    glib::SourceId m_source;
};

// A claim that holds nothing: where the system offers no socket, the process runs anyway.
class NoClaim final : public SingleInstance {};

enum class Attempt { Claimed, Presented, Busy, Unavailable };

// `listening` holds the socket when the claim is ours; else the running copy is handed
// `activationToken`.
Attempt attempt(const sockaddr_un& address, socklen_t length, const std::string& activationToken,
                support::FileDescriptor& listening) {
    support::FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket) return Attempt::Unavailable;
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        if (::listen(socket.get(), 8) != 0) return Attempt::Unavailable;
        listening = std::move(socket);
        return Attempt::Claimed;
    }
    if (errno != EADDRINUSE) return Attempt::Unavailable;

    support::FileDescriptor connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!connection) return Attempt::Unavailable;
    if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0)
        return Attempt::Busy;  // a copy that is ending; try again shortly
    if (!peerIsThisUser(connection.get())) return Attempt::Unavailable;
    // A token never holds a line break; one that did would be cut there.
    std::string request = activationToken.substr(0, activationToken.find('\n')) + "\n";
    if (request.size() > kLongestRequest) request = "\n";
    if (::send(connection.get(), request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        return Attempt::Busy;
    }
    pollfd wait{connection.get(), POLLIN, 0};
    char answer = 0;
    if (::poll(&wait, 1, kAnswerTimeoutMs) == 1 && ::recv(connection.get(), &answer, 1, 0) == 1 &&
        answer == kPresented) {
        return Attempt::Presented;
    }
    return Attempt::Busy;
}

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::claim(const std::string& home,
                                                      const std::string& activationToken,
                                                      Presenter present) {
    socklen_t length = 0;
    sockaddr_un address = addressFor(home, length);
    auto deadline = std::chrono::steady_clock::now() + kWaitForEndingCopy;
    for (;;) {
        support::FileDescriptor listening;
        switch (attempt(address, length, activationToken, listening)) {
            case Attempt::Claimed:
                return std::make_unique<SocketClaim>(std::move(listening), std::move(present));
            case Attempt::Presented:
                return nullptr;
            case Attempt::Unavailable:
                return std::make_unique<NoClaim>();
            case Attempt::Busy:
                if (std::chrono::steady_clock::now() >= deadline)
                    return std::make_unique<NoClaim>();
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                break;
        }
    }
}

}  // namespace platform
