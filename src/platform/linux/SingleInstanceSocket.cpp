#include <glib-unix.h>
#include <glib.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "../ProductIdentity.h"
#include "../SingleInstance.h"
#include "GLibPtr.h"

namespace platform {

namespace {

// How long a later start waits for a copy that is ending to let the claim go.
constexpr auto kWaitForEndingCopy = std::chrono::seconds(30);
constexpr int kAnswerTimeoutMs = 5000;
constexpr char kPresented = '1';
constexpr char kNotPresented = '0';

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

class SocketClaim final : public SingleInstance {
  public:
    SocketClaim(int listening, std::function<bool()> present)
        : m_listening(listening), m_present(std::move(present)) {
        m_source = g_unix_fd_add(m_listening, G_IO_IN, &onConnection, this);
    }
    ~SocketClaim() override {
        m_source.remove();
        ::close(m_listening);
    }

  private:
    static gboolean onConnection(gint, GIOCondition, gpointer data) {
        auto* self = static_cast<SocketClaim*>(data);
        int connection = ::accept4(self->m_listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) return G_SOURCE_CONTINUE;
        char answer = kNotPresented;
        if (peerIsThisUser(connection) && self->m_present && self->m_present()) answer = kPresented;
        (void)::send(connection, &answer, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(connection);
        return G_SOURCE_CONTINUE;
    }

    int m_listening;
    std::function<bool()> m_present;
    glib::SourceId m_source;
};

// A claim that holds nothing: where the system offers no socket, the process runs anyway.
class NoClaim final : public SingleInstance {};

enum class Attempt { Claimed, Presented, Busy, Unavailable };

Attempt attempt(const sockaddr_un& address, socklen_t length, int& listening) {
    listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening < 0) return Attempt::Unavailable;
    if (::bind(listening, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        if (::listen(listening, 8) == 0) return Attempt::Claimed;
        ::close(listening);
        return Attempt::Unavailable;
    }
    ::close(listening);
    listening = -1;
    if (errno != EADDRINUSE) return Attempt::Unavailable;

    int connection = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connection < 0) return Attempt::Unavailable;
    Attempt result = Attempt::Busy;  // a copy that is ending; try again shortly
    if (::connect(connection, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        if (!peerIsThisUser(connection)) {
            result = Attempt::Unavailable;
        } else {
            pollfd wait{connection, POLLIN, 0};
            char answer = 0;
            if (::poll(&wait, 1, kAnswerTimeoutMs) == 1 && ::recv(connection, &answer, 1, 0) == 1 &&
                answer == kPresented) {
                result = Attempt::Presented;
            }
        }
    }
    ::close(connection);
    return result;
}

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::claim(const std::string& home,
                                                      std::function<bool()> present) {
    socklen_t length = 0;
    sockaddr_un address = addressFor(home, length);
    auto deadline = std::chrono::steady_clock::now() + kWaitForEndingCopy;
    for (;;) {
        int listening = -1;
        switch (attempt(address, length, listening)) {
            case Attempt::Claimed:
                return std::make_unique<SocketClaim>(listening, std::move(present));
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
