#include "splitter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace demo {

namespace {

int connectTo(const std::string& host, int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const char* data, ssize_t n)
{
    while (n > 0) {
        ssize_t sent = ::send(fd, data, static_cast<size_t>(n), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        n -= sent;
    }
    return true;
}

// Copies bytes both ways until one side closes or fails, then closes both sockets.
// Runs on a detached thread per relayed connection.
void pump(int client, int server)
{
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    char buf[64 * 1024];
    for (;;) {
        int r = ::poll(fds, 2, 120000);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        bool done = false;
        for (int i = 0; i < 2 && !done; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || !sendAll(fds[1 - i].fd, buf, n))
                done = true;
        }
        if (done)
            break;
    }
    ::close(client);
    ::close(server);
}

} // namespace

ProtocolSplitter::~ProtocolSplitter()
{
    stop();
}

bool ProtocolSplitter::bind(const std::string& host, int port)
{
    host_ = host;
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return false;
    int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 128) != 0) {
        int saved = errno;
        ::close(listenFd_);
        listenFd_ = -1;
        errno = saved;
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    return true;
}

void ProtocolSplitter::start(int plainPort, int tlsPort)
{
    plainPort_ = plainPort;
    tlsPort_ = tlsPort;
    // The accept thread hands each connection to a detached relay thread.
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

void ProtocolSplitter::stop()
{
    if (stopping_.exchange(true))
        return;
    if (listenFd_ >= 0)
        ::shutdown(listenFd_, SHUT_RDWR);
    if (acceptThread_.joinable())
        acceptThread_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

void ProtocolSplitter::acceptLoop()
{
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        int r = ::poll(&p, 1, 200);
        if (r <= 0)
            continue;
        int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        std::thread([client, host = host_, plain = plainPort_, tls = tlsPort_] {
            // Wait for the client's first byte without taking it off the socket.
            pollfd first{client, POLLIN, 0};
            unsigned char byte = 0;
            if (::poll(&first, 1, 10000) != 1 || ::recv(client, &byte, 1, MSG_PEEK) != 1) {
                ::close(client);
                return;
            }
            int server = connectTo(host, byte == 0x16 ? tls : plain);
            if (server < 0) {
                ::close(client);
                return;
            }
            pump(client, server);
        }).detach();
    }
}

} // namespace demo
