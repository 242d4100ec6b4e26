#include "support/test_server.h"

#include <arpa/inet.h>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace {

// ---------------------------------------------------------------------------------------------
// Text helpers

char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

std::string trimSpaces(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string reasonFor(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 407: return "Proxy Authentication Required";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

// ---------------------------------------------------------------------------------------------
// A small test certificate authority, made once per process into a temporary folder, and the two
// server certificates it issues: one for the loopback hosts, one for a name no test server has.

struct CertificateFiles {
    std::filesystem::path folder;
    std::string ca;        // the authority's certificate: what clients trust
    std::string cert;      // 127.0.0.1, 127.0.0.2 and localhost
    std::string wrongName; // wrong.example only
    std::string key;       // the key of both server certificates
    ~CertificateFiles()
    {
        std::error_code ec;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ec);
    }
};

void addExtension(X509* subject, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, subject, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext == nullptr)
        throw std::runtime_error("certificate extension failed");
    X509_add_ext(subject, ext, -1);
    X509_EXTENSION_free(ext);
}

// An unsigned certificate for key with common name cn, valid from yesterday for ten years, issued
// by issuer (by itself when issuer is null).
X509* makeCertificate(EVP_PKEY* key, const char* cn, long serial, X509* issuer)
{
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), -24L * 3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 3650L * 24 * 3600);
    X509_set_pubkey(x, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(x, X509_get_subject_name(issuer ? issuer : x));
    return x;
}

void writePem(const std::string& path, X509* x)
{
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr)
        throw std::runtime_error("cannot write " + path);
    PEM_write_X509(f, x);
    std::fclose(f);
}

CertificateFiles& certificates()
{
    static CertificateFiles files;
    static std::once_flag once;
    std::call_once(once, [] {
        char templ[] = "/tmp/qy-test-cert-XXXXXX";
        if (!mkdtemp(templ))
            throw std::runtime_error("mkdtemp failed");
        files.folder = templ;
        files.ca = (files.folder / "ca.pem").string();
        files.cert = (files.folder / "cert.pem").string();
        files.wrongName = (files.folder / "wrong-name.pem").string();
        files.key = (files.folder / "key.pem").string();
        const long serial = static_cast<long>(std::time(nullptr));

        EVP_PKEY* caKey = EVP_EC_gen("P-256");
        X509* ca = makeCertificate(caKey, "qingyou test CA", serial, nullptr);
        addExtension(ca, ca, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(ca, ca, NID_key_usage, "critical,keyCertSign,cRLSign");
        addExtension(ca, ca, NID_subject_key_identifier, "hash");
        X509_sign(ca, caKey, EVP_sha256());
        writePem(files.ca, ca);

        EVP_PKEY* key = EVP_EC_gen("P-256");
        auto issue = [&](const char* cn, const char* names, long number, const std::string& path) {
            X509* x = makeCertificate(key, cn, number, ca);
            addExtension(x, ca, NID_basic_constraints, "critical,CA:FALSE");
            addExtension(x, ca, NID_key_usage, "critical,digitalSignature,keyEncipherment");
            addExtension(x, ca, NID_ext_key_usage, "serverAuth");
            addExtension(x, ca, NID_authority_key_identifier, "keyid");
            addExtension(x, ca, NID_subject_alt_name, names);
            X509_sign(x, caKey, EVP_sha256());
            writePem(path, x);
            X509_free(x);
        };
        issue("127.0.0.1", "IP:127.0.0.1,IP:127.0.0.2,DNS:localhost", serial + 1, files.cert);
        issue("wrong.example", "DNS:wrong.example", serial + 2, files.wrongName);

        FILE* f = std::fopen(files.key.c_str(), "w");
        PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
        std::fclose(f);
        X509_free(ca);
        EVP_PKEY_free(key);
        EVP_PKEY_free(caKey);
    });
    return files;
}

// ---------------------------------------------------------------------------------------------
// Sockets

void ignoreSigpipe()
{
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

int listenLoopback(int& port, const std::string& address)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1)
        throw std::runtime_error("not an IPv4 address: " + address);
    addr.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 128) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

int connectLoopback(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAllFd(int fd, const char* data, size_t n)
{
    while (n > 0) {
        ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool recvExact(int fd, char* out, size_t n)
{
    while (n > 0) {
        ssize_t r = ::recv(fd, out, n, 0);
        if (r <= 0)
            return false;
        out += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// Copies bytes both ways between a and b until either side closes or stop is set.
void relay(int a, int b, const std::atomic<bool>& stop)
{
    char buf[65536];
    while (!stop) {
        pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        int r = ::poll(fds, 2, 200);
        if (r < 0)
            return;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
                if (n <= 0 || !sendAllFd(fds[1 - i].fd, buf, static_cast<size_t>(n)))
                    return;
            }
        }
    }
}

// One accepted connection, plain or TLS.
class Stream {
public:
    Stream(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
    ~Stream()
    {
        if (ssl_) {
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Reads some bytes; 0 on end of stream or error.
    size_t read(char* buf, size_t n)
    {
        if (ssl_) {
            int r = SSL_read(ssl_, buf, static_cast<int>(n));
            return r > 0 ? static_cast<size_t>(r) : 0;
        }
        ssize_t r = ::recv(fd_, buf, n, 0);
        return r > 0 ? static_cast<size_t>(r) : 0;
    }
    bool write(const char* data, size_t n)
    {
        if (!ssl_)
            return sendAllFd(fd_, data, n);
        while (n > 0) {
            int w = SSL_write(ssl_, data, static_cast<int>(std::min<size_t>(n, 1 << 16)));
            if (w <= 0)
                return false;
            data += w;
            n -= static_cast<size_t>(w);
        }
        return true;
    }
    bool write(const std::string& s) { return write(s.data(), s.size()); }
    int fd() const { return fd_; }
    bool tls() const { return ssl_ != nullptr; }

private:
    int fd_;
    SSL* ssl_;
};

// Accept loop and connection threads shared by the HTTP server and the SOCKS proxy.
class LoopbackListener {
public:
    using ConnectionFn = std::function<void(int fd, int connectionNumber)>;

    explicit LoopbackListener(ConnectionFn fn, const std::string& address = "127.0.0.1")
            : fn_(std::move(fn))
    {
        ignoreSigpipe();
        listenFd_ = listenLoopback(port_, address);
        if (::pipe2(wake_, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        // Accept thread: accepts connections and starts one thread per connection.
        acceptThread_ = std::thread([this] { acceptLoop(); });
    }

    ~LoopbackListener() { stop(); }

    void stop()
    {
        if (stopping_.exchange(true))
            return;
        {
            std::lock_guard lock(mutex_);
            cv_.notify_all();
        }
        char c = 'x';
        (void)!::write(wake_[1], &c, 1);
        if (acceptThread_.joinable())
            acceptThread_.join();
        {
            std::lock_guard lock(mutex_);
            for (auto& c : conns_)
                if (c.fd >= 0)
                    ::shutdown(c.fd, SHUT_RDWR);
        }
        for (auto& c : conns_)
            if (c.thread.joinable())
                c.thread.join();
        conns_.clear();
        ::close(listenFd_);
        ::close(wake_[0]);
        ::close(wake_[1]);
    }

    int port() const { return port_; }
    int connections() const { return connectionCount_.load(); }
    const std::atomic<bool>& stopping() const { return stopping_; }

    // Sleeps for d, or until the listener stops; true when it is stopping.
    bool sleepFor(std::chrono::milliseconds d)
    {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, d, [this] { return stopping_.load(); });
    }
    void waitForStop()
    {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return stopping_.load(); });
    }

private:
    struct Conn {
        std::thread thread;
        int fd = -1;
        std::atomic<bool> done{false};
    };

    void acceptLoop()
    {
        while (!stopping_) {
            pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (stopping_ || (fds[1].revents & POLLIN))
                break;
            if (!(fds[0].revents & POLLIN))
                continue;
            int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            reapFinished();
            std::lock_guard lock(mutex_);
            if (stopping_) {
                ::close(fd);
                break;
            }
            int number = ++connectionCount_;
            conns_.emplace_back();
            Conn& c = conns_.back();
            c.fd = fd;
            // Connection thread: serves one connection until it closes or the listener stops.
            c.thread = std::thread([this, &c, fd, number] {
                fn_(fd, number);
                {
                    std::lock_guard l(mutex_);
                    c.fd = -1;
                }
                ::close(fd);
                c.done = true;
            });
        }
    }

    void reapFinished()
    {
        std::list<Conn> finished;
        {
            std::lock_guard lock(mutex_);
            for (auto it = conns_.begin(); it != conns_.end();) {
                auto next = std::next(it);
                if (it->done)
                    finished.splice(finished.end(), conns_, it);
                it = next;
            }
        }
        for (auto& c : finished)
            c.thread.join();
    }

    ConnectionFn fn_;
    int listenFd_ = -1;
    int port_ = 0;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::atomic<int> connectionCount_{0};
    std::mutex mutex_;
    std::condition_variable cv_;
    std::list<Conn> conns_;
    std::thread acceptThread_;
};

// Reads one request from the stream into req (pending keeps bytes read past it). Answers
// "Expect: 100-continue" before reading the body. False when the connection ended first.
bool readRequest(Stream& s, std::string& pending, RecordedRequest& req)
{
    char buf[65536];
    size_t headEnd;
    while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
        size_t n = s.read(buf, sizeof buf);
        if (n == 0)
            return false;
        pending.append(buf, n);
    }
    const std::string head = pending.substr(0, headEnd + 4);
    pending.erase(0, headEnd + 4);
    req.raw = head;

    size_t lineEnd = head.find("\r\n");
    req.requestLine = head.substr(0, lineEnd);
    for (size_t at = lineEnd + 2; at < headEnd;) {
        size_t e = head.find("\r\n", at);
        req.headerLines.push_back(head.substr(at, e - at));
        at = e + 2;
    }
    size_t sp1 = req.requestLine.find(' ');
    size_t sp2 = req.requestLine.rfind(' ');
    req.method = req.requestLine.substr(0, sp1);
    if (sp1 != std::string::npos && sp2 > sp1) {
        req.target = req.requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
        req.version = req.requestLine.substr(sp2 + 1);
    }
    std::string t = req.target;
    if (size_t scheme = t.find("://"); scheme != std::string::npos && t[0] != '/') {
        size_t slash = t.find('/', scheme + 3);
        t = slash == std::string::npos ? "/" : t.substr(slash);
    }
    req.path = t.substr(0, t.find('?'));

    if (auto expect = req.header("Expect"); expect && equalsNoCase(*expect, "100-continue"))
        s.write(std::string("HTTP/1.1 100 Continue\r\n\r\n"));

    auto need = [&](size_t n) {
        while (pending.size() < n) {
            size_t r = s.read(buf, sizeof buf);
            if (r == 0)
                return false;
            pending.append(buf, r);
        }
        return true;
    };
    auto te = req.header("Transfer-Encoding");
    if (te && equalsNoCase(*te, "chunked")) {
        for (;;) {
            size_t e;
            while ((e = pending.find("\r\n")) == std::string::npos)
                if (!need(pending.size() + 1))
                    return false;
            size_t size = std::strtoul(pending.substr(0, e).c_str(), nullptr, 16);
            if (!need(e + 2 + size + 2))
                return false;
            req.raw.append(pending, 0, e + 2 + size + 2);
            req.body.append(pending, e + 2, size);
            pending.erase(0, e + 2 + size + 2);
            if (size == 0)
                break; // trailers are not supported; curl sends none
        }
    } else if (auto cl = req.header("Content-Length")) {
        size_t n = std::strtoul(cl->c_str(), nullptr, 10);
        if (!need(n))
            return false;
        req.body = pending.substr(0, n);
        req.raw += req.body;
        pending.erase(0, n);
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------

std::optional<std::string> RecordedRequest::header(const std::string& name) const
{
    for (const auto& line : headerLines) {
        size_t colon = line.find(':');
        if (colon != std::string::npos && equalsNoCase(trimSpaces(line.substr(0, colon)), name))
            return trimSpaces(line.substr(colon + 1));
    }
    return std::nullopt;
}

std::vector<std::string> RecordedRequest::headerNames() const
{
    std::vector<std::string> names;
    for (const auto& line : headerLines)
        names.push_back(line.substr(0, line.find(':')));
    return names;
}

struct TestServer::Impl {
    struct Route {
        std::vector<CannedResponse> answers;
        Handler handler;
    };

    Scheme scheme;
    std::string address;
    SSL_CTX* ctx = nullptr;
    mutable std::mutex mutex;
    mutable std::condition_variable arrived;
    std::map<std::string, Route> routes;
    std::map<std::string, int> attempts;
    std::map<std::string, Handler> prefixes;
    CannedResponse fallback{404, {"Content-Type: text/plain"}, "not found"};
    bool connectEnabled = false;
    std::vector<RecordedRequest> records;
    std::unique_ptr<LoopbackListener> listener;

    Impl(Scheme s, std::string a, Certificate certificate) : scheme(s), address(std::move(a))
    {
        if (scheme == Scheme::Https) {
            const auto& files = certificates();
            const std::string& cert =
                certificate == Certificate::WrongName ? files.wrongName : files.cert;
            ctx = SSL_CTX_new(TLS_server_method());
            if (!ctx || SSL_CTX_use_certificate_file(ctx, cert.c_str(), SSL_FILETYPE_PEM) != 1 ||
                SSL_CTX_use_PrivateKey_file(ctx, files.key.c_str(), SSL_FILETYPE_PEM) != 1)
                throw std::runtime_error("TLS context setup failed");
        }
        listener = std::make_unique<LoopbackListener>(
            [this](int fd, int number) { serveConnection(fd, number); }, address);
    }

    ~Impl()
    {
        listener->stop();
        if (ctx)
            SSL_CTX_free(ctx);
    }

    // Connection thread: reads requests one after the other and answers each.
    void serveConnection(int fd, int number)
    {
        SSL* ssl = nullptr;
        if (ctx) {
            ssl = SSL_new(ctx);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) != 1) {
                SSL_free(ssl);
                ERR_clear_error();
                return;
            }
        }
        Stream stream(fd, ssl);
        std::string pending;
        while (!listener->stopping()) {
            RecordedRequest req;
            req.connection = number;
            req.tls = ssl != nullptr;
            if (!readRequest(stream, pending, req))
                return;
            if (!answer(stream, req))
                return;
        }
    }

    // Records the request and sends its answer; false when the connection is to be closed.
    bool answer(Stream& stream, RecordedRequest& req)
    {
        CannedResponse resp;
        Handler handler, prefixHandler;
        bool tunnel = false;
        int attempt;
        {
            std::lock_guard lock(mutex);
            tunnel = connectEnabled && req.method == "CONNECT" && !stream.tls();
            std::string key;
            const Route* route = nullptr;
            if (auto it = routes.find(req.target); it != routes.end()) {
                key = it->first;
                route = &it->second;
            } else if (auto it2 = routes.find(req.path); it2 != routes.end()) {
                key = it2->first;
                route = &it2->second;
            } else {
                key = req.path;
                size_t best = 0;
                for (const auto& [prefix, h] : prefixes)
                    if (req.path.rfind(prefix, 0) == 0 && prefix.size() >= best) {
                        best = prefix.size();
                        key = prefix;
                        prefixHandler = h;
                    }
            }
            attempt = ++attempts[key];
            req.attempt = attempt;
            if (route && route->handler)
                handler = route->handler;
            else if (!route && prefixHandler)
                handler = prefixHandler;
            else if (route && !route->answers.empty())
                resp = route->answers[std::min<size_t>(attempt, route->answers.size()) - 1];
            else
                resp = fallback;
            records.push_back(req);
            arrived.notify_all();
        }
        if (tunnel)
            return openTunnel(stream, req), false;
        if (handler)
            resp = handler(req, attempt);

        if (resp.delay.count() > 0 && listener->sleepFor(resp.delay))
            return false;
        if (resp.behaviour == CannedResponse::Behaviour::Stall) {
            listener->waitForStop();
            return false;
        }

        const bool head = req.method == "HEAD";
        auto connection = req.header("Connection");
        bool close = resp.closeToEnd || resp.behaviour != CannedResponse::Behaviour::Normal ||
                     (connection && equalsNoCase(*connection, "close"));
        std::string out = "HTTP/1.1 " + std::to_string(resp.status) + " " +
                          (resp.reason.empty() ? reasonFor(resp.status) : resp.reason) + "\r\n";
        bool hasLength = false;
        for (const auto& h : resp.headers) {
            out += h + "\r\n";
            if (equalsNoCase(trimSpaces(h.substr(0, h.find(':'))), "Content-Length"))
                hasLength = true;
        }
        if (!hasLength && !resp.closeToEnd)
            out += "Content-Length: " + std::to_string(resp.body.size()) + "\r\n";
        if (close)
            out += "Connection: close\r\n";
        out += "\r\n";
        if (!stream.write(out))
            return false;
        if (head)
            return !close;

        if (resp.behaviour == CannedResponse::Behaviour::Endless) {
            const std::string unit = resp.body.empty() ? std::string("x") : resp.body;
            const size_t piece =
                resp.chunkBytes > 0 ? resp.chunkBytes : std::max<size_t>(unit.size(), 65536);
            // The body repeated often enough that every piece, wherever in the body it starts,
            // is one run of bytes; each piece goes on where the one before ended.
            std::string ring;
            while (ring.size() < piece + unit.size())
                ring += unit;
            size_t at = 0;
            while (!listener->stopping()) {
                if (!stream.write(ring.data() + at, piece))
                    return false;
                at = (at + piece) % unit.size();
                if (resp.chunkDelay.count() > 0 && listener->sleepFor(resp.chunkDelay))
                    return false;
            }
            return false;
        }
        size_t total = resp.body.size();
        if (resp.behaviour != CannedResponse::Behaviour::Normal)
            total = std::min(total, resp.partBytes);
        size_t piece = resp.chunkBytes > 0 ? resp.chunkBytes : total;
        for (size_t at = 0; at < total;) {
            size_t n = std::min(piece, total - at);
            if (!stream.write(resp.body.data() + at, n))
                return false;
            at += n;
            if (at < total && resp.chunkDelay.count() > 0 && listener->sleepFor(resp.chunkDelay))
                return false;
        }
        if (resp.behaviour == CannedResponse::Behaviour::StallMidBody) {
            listener->waitForStop();
            return false;
        }
        return !close;
    }

    void openTunnel(Stream& stream, const RecordedRequest& req)
    {
        size_t colon = req.target.rfind(':');
        std::string host = req.target.substr(0, colon);
        int port = colon == std::string::npos ? 0 : std::atoi(req.target.c_str() + colon + 1);
        int target = (host == "127.0.0.1" || host == "localhost") ? connectLoopback(port) : -1;
        if (target < 0) {
            stream.write(std::string("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n"));
            return;
        }
        if (stream.write(std::string("HTTP/1.1 200 Connection established\r\n\r\n")))
            relay(stream.fd(), target, listener->stopping());
        ::close(target);
    }
};

TestServer::TestServer(Scheme scheme) : TestServer(scheme, "127.0.0.1")
{}
TestServer::TestServer(Scheme scheme, const std::string& address, Certificate certificate)
        : impl_(std::make_unique<Impl>(scheme, address, certificate))
{}
TestServer::~TestServer() = default;

int TestServer::port() const
{
    return impl_->listener->port();
}

std::string TestServer::baseUrl() const
{
    return std::string(impl_->scheme == Scheme::Https ? "https" : "http") + "://" + hostPort();
}

std::string TestServer::url(const std::string& path) const
{
    return baseUrl() + path;
}

std::string TestServer::hostPort() const
{
    return impl_->address + ":" + std::to_string(port());
}

void TestServer::on(const std::string& route, CannedResponse response)
{
    on(route, std::vector<CannedResponse>{std::move(response)});
}

void TestServer::on(const std::string& route, std::vector<CannedResponse> perAttempt)
{
    std::lock_guard lock(impl_->mutex);
    impl_->routes[route] = Impl::Route{std::move(perAttempt), {}};
}

void TestServer::onHandler(const std::string& route, Handler handler)
{
    std::lock_guard lock(impl_->mutex);
    impl_->routes[route] = Impl::Route{{}, std::move(handler)};
}

void TestServer::onPrefix(const std::string& prefix, Handler handler)
{
    std::lock_guard lock(impl_->mutex);
    impl_->prefixes[prefix] = std::move(handler);
}

void TestServer::serveFolder(const std::string& prefix, const std::string& folder)
{
    const std::filesystem::path root = std::filesystem::path(folder);
    onPrefix(prefix, [root, prefix](const RecordedRequest& r, int) {
        const std::filesystem::path rel = std::filesystem::path(r.path.substr(prefix.size()));
        for (const auto& part : rel)
            if (part == "..")
                return CannedResponse{404, {}, "not found"};
        std::ifstream in(root / rel, std::ios::binary);
        if (!in || std::filesystem::is_directory(root / rel))
            return CannedResponse{404, {}, "not found"};
        std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return CannedResponse{200, {}, std::move(body)};
    });
}

void TestServer::setFallback(CannedResponse response)
{
    std::lock_guard lock(impl_->mutex);
    impl_->fallback = std::move(response);
}

void TestServer::enableConnect(bool on)
{
    std::lock_guard lock(impl_->mutex);
    impl_->connectEnabled = on;
}

std::vector<RecordedRequest> TestServer::requests() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->records;
}

std::vector<RecordedRequest> TestServer::requestsFor(const std::string& path) const
{
    std::lock_guard lock(impl_->mutex);
    std::vector<RecordedRequest> out;
    for (const auto& r : impl_->records)
        if (r.path == path || r.target == path)
            out.push_back(r);
    return out;
}

std::optional<RecordedRequest> TestServer::lastRequest() const
{
    std::lock_guard lock(impl_->mutex);
    if (impl_->records.empty())
        return std::nullopt;
    return impl_->records.back();
}

int TestServer::count(const std::string& path) const
{
    return static_cast<int>(requestsFor(path).size());
}

int TestServer::connectionCount() const
{
    return impl_->listener->connections();
}

void TestServer::clearRecords()
{
    std::lock_guard lock(impl_->mutex);
    impl_->records.clear();
    impl_->attempts.clear();
}

bool TestServer::waitForRequests(std::size_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(impl_->mutex);
    return impl_->arrived.wait_for(lock, timeout, [&] { return impl_->records.size() >= n; });
}

std::string TestServer::certificateFile()
{
    return certificates().ca;
}
std::string TestServer::keyFile()
{
    return certificates().key;
}

// ---------------------------------------------------------------------------------------------

struct SocksProxy::Impl {
    mutable std::mutex mutex;
    std::vector<std::string> targets;
    std::vector<int> versions;
    std::unique_ptr<LoopbackListener> listener;

    Impl()
    {
        listener = std::make_unique<LoopbackListener>([this](int fd, int) { serve(fd); });
    }
    ~Impl() { listener->stop(); }

    void note(int version, const std::string& target)
    {
        std::lock_guard lock(mutex);
        versions.push_back(version);
        targets.push_back(target);
    }

    // Connection thread: one SOCKS handshake, then relaying.
    void serve(int fd)
    {
        unsigned char v;
        if (!recvExact(fd, reinterpret_cast<char*>(&v), 1))
            return;
        std::string host;
        int port = 0;
        if (v == 4) {
            unsigned char h[7];
            if (!recvExact(fd, reinterpret_cast<char*>(h), 7))
                return;
            port = h[1] << 8 | h[2];
            auto readZ = [&](std::string& out) {
                char c;
                while (recvExact(fd, &c, 1)) {
                    if (c == 0)
                        return true;
                    out += c;
                }
                return false;
            };
            std::string user;
            if (!readZ(user))
                return;
            if (h[3] == 0 && h[4] == 0 && h[5] == 0 && h[6] != 0) {
                if (!readZ(host)) // SOCKS4a: the name follows the user id
                    return;
            } else {
                host = std::to_string(h[3]) + "." + std::to_string(h[4]) + "." +
                       std::to_string(h[5]) + "." + std::to_string(h[6]);
            }
            note(4, host + ":" + std::to_string(port));
            int target = resolveAndConnect(host, port);
            unsigned char reply[8] = {
                0, static_cast<unsigned char>(target >= 0 ? 0x5A : 0x5B), h[1], h[2], 127, 0, 0, 1};
            if (sendAllFd(fd, reinterpret_cast<char*>(reply), 8) && target >= 0)
                relay(fd, target, listener->stopping());
            if (target >= 0)
                ::close(target);
        } else if (v == 5) {
            unsigned char n;
            if (!recvExact(fd, reinterpret_cast<char*>(&n), 1))
                return;
            std::string methods(n, '\0');
            if (!recvExact(fd, methods.data(), n))
                return;
            const char choose[2] = {5, 0};
            if (!sendAllFd(fd, choose, 2))
                return;
            unsigned char req[4];
            if (!recvExact(fd, reinterpret_cast<char*>(req), 4))
                return;
            if (req[3] == 1) {
                unsigned char ip[4];
                if (!recvExact(fd, reinterpret_cast<char*>(ip), 4))
                    return;
                host = std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." +
                       std::to_string(ip[2]) + "." + std::to_string(ip[3]);
            } else if (req[3] == 3) {
                unsigned char len;
                if (!recvExact(fd, reinterpret_cast<char*>(&len), 1))
                    return;
                host.resize(len);
                if (!recvExact(fd, host.data(), len))
                    return;
            } else {
                return;
            }
            unsigned char p[2];
            if (!recvExact(fd, reinterpret_cast<char*>(p), 2))
                return;
            port = p[0] << 8 | p[1];
            note(5, host + ":" + std::to_string(port));
            int target = req[1] == 1 ? resolveAndConnect(host, port) : -1;
            unsigned char reply[10] = {
                5, static_cast<unsigned char>(target >= 0 ? 0 : 5), 0, 1, 127, 0, 0, 1, 0, 0};
            if (sendAllFd(fd, reinterpret_cast<char*>(reply), 10) && target >= 0)
                relay(fd, target, listener->stopping());
            if (target >= 0)
                ::close(target);
        }
    }

    // Only loopback targets are served; tests never reach beyond it.
    static int resolveAndConnect(const std::string& host, int port)
    {
        if (host != "127.0.0.1" && host != "localhost")
            return -1;
        return connectLoopback(port);
    }
};

SocksProxy::SocksProxy() : impl_(std::make_unique<Impl>())
{}
SocksProxy::~SocksProxy() = default;
int SocksProxy::port() const
{
    return impl_->listener->port();
}
std::string SocksProxy::hostPort() const
{
    return "127.0.0.1:" + std::to_string(port());
}

std::vector<std::string> SocksProxy::targets() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->targets;
}

std::vector<int> SocksProxy::versions() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->versions;
}

int closedLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}
