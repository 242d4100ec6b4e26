// The loopback fixture server itself: what it records must be byte-exact, because every request
// test of the project relies on it.
#include "support/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>

namespace {

// Sends bytes over a fresh plain connection and returns everything the server sends back until
// it closes the connection.
std::string exchange(int port, const std::string& bytes)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
        out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return out;
}

TEST(TestServer, RecordsRequestsByteForByteAndAnswersPerAttempt)
{
    TestServer server;
    server.on("/p", {CannedResponse{404}, CannedResponse{200, {"X-A: 1"}, "ok"}});
    const std::string first = "POST /p?q=1 HTTP/1.1\r\nhost: x\r\nuser-AGENT:  v \r\n"
                              "Content-Length: 3\r\n\r\nabc";
    const std::string second = "GET /p HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    const std::string chunked = "PUT /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\nConnection: "
                                "close\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n";

    // Two requests on one kept-alive connection, then a chunked upload on a second one.
    std::string answers = exchange(server.port(), first + second);
    EXPECT_EQ(answers.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
    EXPECT_NE(answers.find("HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 2\r\nConnection: "
                           "close\r\n\r\nok"),
              std::string::npos);
    exchange(server.port(), chunked);

    auto recs = server.requests();
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[0].raw, first);
    EXPECT_EQ(recs[0].requestLine, "POST /p?q=1 HTTP/1.1");
    EXPECT_EQ(recs[0].path, "/p");
    EXPECT_EQ(recs[0].headerLines,
              (std::vector<std::string>{"host: x", "user-AGENT:  v ", "Content-Length: 3"}));
    EXPECT_EQ(recs[0].header("User-Agent"), "v");
    EXPECT_EQ(recs[0].body, "abc");
    EXPECT_EQ(recs[1].raw, second);
    EXPECT_EQ(recs[1].attempt, 2);
    EXPECT_EQ(recs[0].connection, recs[1].connection);
    EXPECT_EQ(recs[2].raw, chunked);
    EXPECT_EQ(recs[2].body, "abcde");
    EXPECT_EQ(server.count("/p"), 3);
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST(TestServer, HeadCutAndUnknownPaths)
{
    TestServer server;
    server.on("/big", CannedResponse{200, {}, std::string(100000, 'x')});
    server.on("/cut", CannedResponse{200, {}, std::string(5000, 'y')}.cutAfter(100));

    std::string head = exchange(server.port(), "HEAD /big HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(head, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n");

    std::string cut = exchange(server.port(), "GET /cut HTTP/1.1\r\n\r\n");
    EXPECT_NE(cut.find("Content-Length: 5000\r\n"), std::string::npos);
    EXPECT_EQ(cut.substr(cut.find("\r\n\r\n") + 4), std::string(100, 'y'));

    std::string missing =
        exchange(server.port(), "GET /nope HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(missing.rfind("HTTP/1.1 404", 0), 0u);
}

TEST(TestServer, ServesAFolderUnderAPrefix)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string root = dir.path().toStdString() + "/served";
    std::filesystem::create_directories(root + "/ep1");
    std::ofstream(root + "/ep1/0.ts", std::ios::binary) << std::string("\x47\0seg", 5);
    std::ofstream(root + "/../outside.txt") << "secret";
    TestServer server;
    server.serveFolder("/media/", root);
    server.on("/media/fixed", CannedResponse{200, {}, "own route"});

    auto bodyOf = [&](const std::string& path) {
        std::string a =
            exchange(server.port(), "GET " + path + " HTTP/1.1\r\nConnection: close\r\n\r\n");
        return a.substr(0, a.find("\r\n")) + "|" + a.substr(a.find("\r\n\r\n") + 4);
    };
    EXPECT_EQ(bodyOf("/media/ep1/0.ts"), "HTTP/1.1 200 OK|" + std::string("\x47\0seg", 5));
    EXPECT_EQ(bodyOf("/media/fixed"), "HTTP/1.1 200 OK|own route");
    EXPECT_EQ(bodyOf("/media/ep1/9.ts"), "HTTP/1.1 404 Not Found|not found");
    EXPECT_EQ(bodyOf("/media/../outside.txt"), "HTTP/1.1 404 Not Found|not found");
    EXPECT_EQ(bodyOf("/media/ep1"), "HTTP/1.1 404 Not Found|not found");
}

TEST(TestServer, DestructorEndsStalledConnections)
{
    auto server = std::make_unique<TestServer>(TestServer::Scheme::Https);
    server->on("/hang", CannedResponse::stall());
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(server->port()));
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // The TLS handshake never completes; the server must still stop without waiting for it.
    server.reset();
    char c;
    EXPECT_LE(::recv(fd, &c, 1, 0), 0);
    ::close(fd);
}

} // namespace
