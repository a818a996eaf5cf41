#include <glib-unix.h>
#include <glib.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
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
// What a later start hands over, sent as soon as it connects: its activation token on the
// first line, then one line per item of its request, each escaped as a URI component so that
// no item holds a line break; then it shuts its side for writing.
constexpr std::size_t kLongestRequest = 64 * 1024;
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

using TakeOver = std::function<bool(const LaterStart& later)>;

std::string encode(const LaterStart& start) {
    // A token never holds a line break; one that did would be cut there.
    std::string text = start.activationToken.substr(0, start.activationToken.find('\n')) + "\n";
    for (const std::string& item : start.request) {
        g_autofree char* escaped = g_uri_escape_string(item.c_str(), nullptr, FALSE);
        text += std::string(escaped) + "\n";
    }
    // Too much to hand over: the token alone still brings the window forward.
    if (text.size() > kLongestRequest) text = text.substr(0, text.find('\n') + 1);
    return text;
}

// The complete lines of `text`: the token, then the request's items. An item that does not
// unescape to text is dropped.
LaterStart decode(const std::string& text) {
    LaterStart start;
    std::size_t begin = 0;
    bool first = true;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        std::string line = text.substr(begin, end - begin);
        if (first) {
            start.activationToken = line;
            first = false;
        } else if (g_autofree char* item = g_uri_unescape_string(line.c_str(), nullptr)) {
            start.request.emplace_back(item);
        }
    }
    return start;
}

// What a later start sent on `connection`, read until it shut its side. Bounded in size and
// time, since it is read on the main thread; what came complete within them counts.
LaterStart readLaterStart(int connection) {
    std::string text;
    char buffer[4096];
    while (text.size() < kLongestRequest) {
        pollfd wait{connection, POLLIN, 0};
        if (::poll(&wait, 1, kRequestTimeoutMs) != 1) break;
        ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return decode(text);
}

class SocketClaim final : public SingleInstance {
  public:
    SocketClaim(support::FileDescriptor listening, TakeOver takeOver)
        : m_listening(std::move(listening)), m_takeOver(std::move(takeOver)) {
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
        if (peerIsThisUser(connection.get()) && self->m_takeOver &&
            self->m_takeOver(readLaterStart(connection.get()))) {
            answer = kPresented;
        }
        (void)::send(connection.get(), &answer, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        return G_SOURCE_CONTINUE;
    }

    support::FileDescriptor m_listening;
    TakeOver m_takeOver;
    glib::SourceId m_source;
};

// A claim that holds nothing: where the system offers no socket, the process runs anyway.
class NoClaim final : public SingleInstance {};

enum class Attempt { Claimed, Presented, Busy, Unavailable };

// `listening` holds the socket when the claim is ours; else the running copy is handed
// `thisStart`.
Attempt attempt(const sockaddr_un& address, socklen_t length, const LaterStart& thisStart,
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
    std::string text = encode(thisStart);
    // Sent, not written: a copy that went away meanwhile must not stop this one with SIGPIPE.
    for (std::size_t sent = 0; sent < text.size();) {
        ssize_t n = ::send(connection.get(), text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Attempt::Busy;
        sent += static_cast<std::size_t>(n);
    }
    // The end of what is handed over: the running copy reads no further.
    (void)::shutdown(connection.get(), SHUT_WR);
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
                                                      const LaterStart& thisStart,
                                                      TakeOver takeOver) {
    socklen_t length = 0;
    sockaddr_un address = addressFor(home, length);
    auto deadline = std::chrono::steady_clock::now() + kWaitForEndingCopy;
    for (;;) {
        support::FileDescriptor listening;
        switch (attempt(address, length, thisStart, listening)) {
            case Attempt::Claimed:
                return std::make_unique<SocketClaim>(std::move(listening), std::move(takeOver));
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
