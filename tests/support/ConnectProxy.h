#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// An HTTPS proxy of the tests' own on 127.0.0.1: it answers CONNECT, optionally asks for a
// user name and password first (Basic), and forwards bytes both ways. It also speaks SOCKS 5
// (without a sign-in) on the same port, to clients that name the host or its address. Host names it
// knows
// (`hosts`) resolve only here, so a request that skips the proxy cannot reach them.
class ConnectProxy {
  public:
    struct Options {
        std::optional<std::pair<std::string, std::string>> credentials;
        std::map<std::string, std::string> hosts;  // name -> address, for this proxy alone
    };

    explicit ConnectProxy(Options options = {}) : m_options(std::move(options)) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) ||
            ::listen(m_listener, 64) ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) ||
            ::pipe2(m_stop, O_CLOEXEC)) {
            throw std::runtime_error("the test proxy cannot listen");
        }
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptConnections(); });
    }
    ~ConnectProxy() {
        ::close(m_stop[1]);  // wakes every thread's poll
        m_acceptor.join();
        std::vector<std::thread> connections;
        {
            std::lock_guard lock(m_mutex);
            connections.swap(m_connections);
        }
        for (auto& connection : connections) connection.join();
        ::close(m_listener);
        ::close(m_stop[0]);
    }
    ConnectProxy(const ConnectProxy&) = delete;
    ConnectProxy& operator=(const ConnectProxy&) = delete;

    int port() const { return m_port; }

    // The "host:port" of every tunnel it opened, in order.
    std::vector<std::string> tunnels() const {
        std::lock_guard lock(m_mutex);
        return m_tunnels;
    }
    // CONNECT requests answered with 407.
    int challenges() const { return m_challenges; }

  private:
    bool stopping() const {
        pollfd stop{m_stop[0], POLLIN, 0};
        return ::poll(&stop, 1, 0) > 0;
    }

    void acceptConnections() {
        while (true) {
            pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 || fds[1].revents) return;
            int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            std::lock_guard lock(m_mutex);
            m_connections.emplace_back([this, client] {
                serve(client);
                ::close(client);
            });
        }
    }

    // Reads one request head; empty when the client went away.
    std::string readHead(int client) {
        std::string head;
        char byte;
        while (head.size() < 16384 && head.find("\r\n\r\n") == std::string::npos) {
            pollfd fds[2] = {{client, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) <= 0 || fds[1].revents) return "";
            if (::read(client, &byte, 1) != 1) return "";
            head += byte;
        }
        return head;
    }

    static std::string base64(const std::string& text) {
        static const char* digits =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string out;
        for (std::size_t i = 0; i < text.size(); i += 3) {
            unsigned value = static_cast<unsigned char>(text[i]) << 16;
            if (i + 1 < text.size()) value |= static_cast<unsigned char>(text[i + 1]) << 8;
            if (i + 2 < text.size()) value |= static_cast<unsigned char>(text[i + 2]);
            out += digits[(value >> 18) & 63];
            out += digits[(value >> 12) & 63];
            out += i + 1 < text.size() ? digits[(value >> 6) & 63] : '=';
            out += i + 2 < text.size() ? digits[value & 63] : '=';
        }
        return out;
    }

    static void send(int fd, const std::string& text) {
        (void)!::write(fd, text.data(), text.size());
    }

    // Reads `size` bytes; false when the client went away or the proxy stops.
    bool readExactly(int client, unsigned char* into, std::size_t size) {
        for (std::size_t done = 0; done < size;) {
            pollfd fds[2] = {{client, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) <= 0 || fds[1].revents) return false;
            ssize_t n = ::read(client, into + done, size - done);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Connects to host:port, a name it knows or an IPv4 address; -1 when it cannot.
    int connectTo(std::string host, int port) {
        if (auto known = m_options.hosts.find(host); known != m_options.hosts.end())
            host = known->second;
        int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1 ||
            ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(server);
            return -1;
        }
        return server;
    }

    // SOCKS 5, CONNECT only: the client names the host (resolved here alone) or its address.
    void serveSocks(int client) {
        unsigned char hello[2];
        if (!readExactly(client, hello, 2)) return;
        unsigned char methods[255];
        if (!readExactly(client, methods, hello[1])) return;
        send(client, std::string("\x05\x00", 2));
        unsigned char request[4];
        if (!readExactly(client, request, 4) || request[1] != 1) return;
        std::string host;
        if (request[3] == 1) {
            unsigned char ip[4];
            if (!readExactly(client, ip, 4)) return;
            host = std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." +
                   std::to_string(ip[2]) + "." + std::to_string(ip[3]);
        } else if (request[3] == 3) {
            unsigned char length;
            unsigned char name[255];
            if (!readExactly(client, &length, 1) || !readExactly(client, name, length)) return;
            host.assign(reinterpret_cast<char*>(name), length);
        } else {
            send(client, std::string("\x05\x08\x00\x01\0\0\0\0\0\0", 10));
            return;
        }
        unsigned char portBytes[2];
        if (!readExactly(client, portBytes, 2)) return;
        int port = portBytes[0] << 8 | portBytes[1];
        int server = connectTo(host, port);
        if (server < 0) {
            send(client, std::string("\x05\x04\x00\x01\0\0\0\0\0\0", 10));  // unreachable
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_tunnels.push_back(host + ":" + std::to_string(port));
        }
        send(client, std::string("\x05\x00\x00\x01\0\0\0\0\0\0", 10));
        relay(client, server);
        ::close(server);
    }

    void serve(int client) {
        unsigned char first = 0;
        pollfd wait[2] = {{client, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
        if (::poll(wait, 2, -1) <= 0 || wait[1].revents) return;
        if (::recv(client, &first, 1, MSG_PEEK) == 1 && first == 5) {
            serveSocks(client);
            return;
        }
        while (true) {
            std::string head = readHead(client);
            if (head.empty()) return;
            char target[512] = {};
            if (std::sscanf(head.c_str(), "CONNECT %511s HTTP/1.", target) != 1) {
                send(client, "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n");
                return;
            }
            if (m_options.credentials) {
                std::string expected =
                    "proxy-authorization: basic " +
                    base64(m_options.credentials->first + ":" + m_options.credentials->second);
                std::string lower = head;
                for (char& c : lower) c = static_cast<char>(std::tolower(c));
                std::string wanted = expected;
                for (char& c : wanted) c = static_cast<char>(std::tolower(c));
                if (lower.find(wanted + "\r\n") == std::string::npos) {
                    ++m_challenges;
                    send(client,
                         "HTTP/1.1 407 Proxy Authentication Required\r\n"
                         "Proxy-Authenticate: Basic realm=\"tests\"\r\nContent-Length: 0\r\n\r\n");
                    continue;
                }
            }
            std::string name = target;
            std::size_t colon = name.rfind(':');
            if (colon == std::string::npos) return;
            int server = connectTo(name.substr(0, colon), std::atoi(name.c_str() + colon + 1));
            if (server < 0) {
                send(client, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
                return;
            }
            {
                std::lock_guard lock(m_mutex);
                m_tunnels.push_back(name);
            }
            send(client, "HTTP/1.1 200 Connection established\r\n\r\n");
            relay(client, server);
            ::close(server);
            return;
        }
    }

    void relay(int client, int server) {
        char buffer[65536];
        while (true) {
            pollfd fds[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (::poll(fds, 3, -1) <= 0 || fds[2].revents) return;
            for (int i = 0; i < 2; ++i) {
                if (!fds[i].revents) continue;
                ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) return;
                int to = i == 0 ? server : client;
                for (ssize_t done = 0; done < n;) {
                    ssize_t w = ::write(to, buffer + done, static_cast<std::size_t>(n - done));
                    if (w <= 0) return;
                    done += w;
                }
            }
        }
    }

    Options m_options;
    int m_listener = -1;
    int m_stop[2] = {-1, -1};
    int m_port = 0;
    std::atomic<int> m_challenges{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_tunnels;
    std::vector<std::thread> m_connections;
    std::thread m_acceptor;
};
