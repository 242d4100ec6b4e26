#pragma once
// The plain-HTTP port of the demo also answers TLS: a client that continues an http:// media
// address as https:// on the same port still gets the media. The port is served by a small
// relay that looks at the first byte of each connection (0x16 opens a TLS handshake) and passes
// the connection on, byte for byte, to the plain or the TLS server listening on loopback.

#include <atomic>
#include <string>
#include <thread>

namespace demo {

class ProtocolSplitter {
public:
    ProtocolSplitter() = default;
    ProtocolSplitter(const ProtocolSplitter&) = delete;
    ProtocolSplitter& operator=(const ProtocolSplitter&) = delete;
    ~ProtocolSplitter();

    // Binds host:port; false (with errno left as the failing call set it) when that fails.
    bool bind(const std::string& host, int port);
    // The port bound (the one chosen by the system when bind was given 0).
    int port() const { return port_; }
    // Starts accepting on a thread of its own; connections go to host:plainPort or host:tlsPort.
    void start(int plainPort, int tlsPort);
    // Stops accepting; connections already relayed end when either side closes.
    void stop();

private:
    void acceptLoop();

    std::string host_;
    int listenFd_ = -1;
    int port_ = 0;
    int plainPort_ = 0;
    int tlsPort_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
};

} // namespace demo
