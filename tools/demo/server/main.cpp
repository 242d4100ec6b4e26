// qy_demo_server: the bundled demo catalogue server.
//   HTTPS (default 127.0.0.1:47443): the catalogue API /api.php/provide/vod/?ac=detail&wd=&t=&pg=
//   HTTP  (default 127.0.0.1:47080): the player pages /player/jx.php?url= and /m3u8/?url=, the
//         share pages of the first play source, the HLS media, the cover pictures and the web
//         players' files. Both ports serve every route; the HTTP port also accepts TLS.
// Usage: qy_demo_server [--root DIR] [--https-port N] [--http-port N] [--bind 127.0.0.1]
// Port 0 lets the system choose; the ports in use are printed on the "listening" line.
// One line per request goes to stdout. SIGTERM or SIGINT stops the server.

#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "catalogue.h"
#include "media.h"
#include "splitter.h"

#ifndef QY_DEMO_SOURCE_DIR
#define QY_DEMO_SOURCE_DIR "."
#endif

namespace fs = std::filesystem;

namespace {

struct Options {
    std::string root = QY_DEMO_SOURCE_DIR;
    std::string bind = "127.0.0.1";
    int httpsPort = 47443;
    int httpPort = 47080;
};

struct Context {
    std::string root;
    demo::Catalogue catalogue;
    std::string httpBase; // "http://127.0.0.1:<http port>", the host of every address handed out
};

std::mutex logMutex;

void logLine(const std::string& line)
{
    std::lock_guard<std::mutex> lock(logMutex);
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string clockText()
{
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    return buf;
}

std::optional<std::string> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool parsePort(const char* text, int& port)
{
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < 0 || v > 65535)
        return false;
    port = static_cast<int>(v);
    return true;
}

int usage(const char* message)
{
    std::fprintf(stderr, "qy_demo_server: %s\n", message);
    std::fprintf(stderr, "usage: qy_demo_server [--root DIR] [--https-port N] [--http-port N] "
                         "[--bind 127.0.0.1]\n");
    return 2;
}

// Text to integer the way the catalogue servers read their query: leading digits, else 0.
int leadingInt(const std::string& s)
{
    long v = 0;
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        negative = s[i++] == '-';
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9' && v < 100000000; ++i)
        v = v * 10 + (s[i] - '0');
    return static_cast<int>(negative ? -v : v);
}

// Player pages may only reach loopback: the pages are meant to work offline and must never
// load anything from an outside host (the web players' own code would otherwise try to).
constexpr const char* kPageSecurityPolicy =
    "default-src 'self' 'unsafe-inline' 'unsafe-eval' blob: data: http://127.0.0.1:* "
    "https://127.0.0.1:* http://localhost:* https://localhost:*";

// A JSON string literal that is also safe inside an HTML script element.
std::string scriptString(const std::string& text)
{
    std::string json = nlohmann::json(text).dump();
    std::string out;
    for (char c : json) {
        if (c == '<')
            out += "\\u003c";
        else
            out += c;
    }
    return out;
}

std::string htmlText(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// The stream address of a player page request: everything after the first "url=" of the query,
// as the program appends it unchanged (an address with its own query keeps its "&" parts); an
// address sent encoded is decoded.
std::string streamAddress(const httplib::Request& req)
{
    const std::string& target = req.target;
    const size_t query = target.find('?');
    if (query == std::string::npos)
        return {};
    const size_t at = target.find("url=", query);
    if (at == std::string::npos)
        return {};
    std::string url = target.substr(at + 4);
    if (url.rfind("http%3A", 0) == 0 || url.rfind("https%3A", 0) == 0 ||
        url.rfind("http%3a", 0) == 0 || url.rfind("https%3a", 0) == 0)
        url = httplib::detail::decode_url(url, false);
    return url;
}

// A player page is a template, as a player service's page script is: the server writes the
// stream address ("{{url}}" with its quotes, as a script string) and the title into it.
void servePage(const Context& ctx, httplib::Response& res, const std::string& file,
               const std::string& url, const std::string& title = "演示播放器")
{
    auto html = readFile(ctx.root + "/players/" + file);
    if (!html) {
        res.status = 404;
        res.set_content("player page missing: " + file + "\n", "text/plain; charset=utf-8");
        return;
    }
    replaceAll(*html, "\"{{url}}\"", scriptString(url));
    replaceAll(*html, "{{title}}", htmlText(title));
    res.set_header("Content-Security-Policy", kPageSecurityPolicy);
    res.set_header("Cache-Control", "no-store");
    res.set_content(*html, "text/html; charset=utf-8");
}

// Sends a file's bytes as they are, with their length, the way a plain static file server does.
// The server library would otherwise compress every script again for each request with brotli
// at its highest quality, which takes the better part of a second for a player library: no
// real file server or CDN spends that on each request.
void sendAsIs(httplib::Response& res, std::string body, const std::string& type)
{
    auto shared = std::make_shared<std::string>(std::move(body));
    res.body.clear();
    res.headers.erase("Content-Type");
    res.set_content_provider(
        shared->size(), type, [shared](size_t offset, size_t length, httplib::DataSink& sink) {
            if (offset > shared->size())
                return false;
            return sink.write(shared->data() + offset, std::min(length, shared->size() - offset));
        });
}

void addRoutes(httplib::Server& svr, const Context& ctx)
{
    // Catalogue API.
    auto api = [&ctx](const httplib::Request& req, httplib::Response& res) {
        demo::ListingQuery q;
        if (req.has_param("wd"))
            q.keyword = req.get_param_value("wd");
        if (req.has_param("t"))
            q.typeId = leadingInt(req.get_param_value("t"));
        if (req.has_param("pg"))
            q.page = leadingInt(req.get_param_value("pg"));
        res.set_content(demo::listingJson(ctx.catalogue, q, ctx.httpBase),
                        "application/json; charset=utf-8");
    };
    svr.Get(R"(/api\.php/provide/vod/?)", api);
    svr.Post(R"(/api\.php/provide/vod/?)", api);

    // HLS media; playlists answer POST too, because the downloader fetches them with POST.
    auto master = [&ctx](const httplib::Request& req, httplib::Response& res) {
        auto reply = demo::masterPlaylist(ctx.catalogue, leadingInt(req.matches[1]),
                                          leadingInt(req.matches[2]));
        if (!reply) {
            res.status = 404;
            return;
        }
        res.set_content(reply->body, reply->contentType.c_str());
    };
    svr.Get(R"(/media/(\d+)/(\d+)/index\.m3u8)", master);
    svr.Post(R"(/media/(\d+)/(\d+)/index\.m3u8)", master);
    auto variant = [&ctx](const httplib::Request& req, httplib::Response& res) {
        auto reply =
            demo::variantFile(ctx.catalogue, ctx.root + "/media/clips", leadingInt(req.matches[1]),
                              leadingInt(req.matches[2]), req.matches[3], req.matches[4]);
        if (!reply) {
            res.status = 404;
            return;
        }
        res.set_content(std::move(reply->body), reply->contentType.c_str());
    };
    svr.Get(R"(/media/(\d+)/(\d+)/(\w+)/([A-Za-z0-9_.\-]+))", variant);
    svr.Post(R"(/media/(\d+)/(\d+)/(\w+)/([A-Za-z0-9_.\-]+))", variant);

    // Player pages: the stream address follows "url=" and is read by the page itself.
    svr.Get(R"(/player/jx\.php)", [&ctx](const httplib::Request& req, httplib::Response& res) {
        servePage(ctx, res, "dplayer.html", streamAddress(req));
    });
    svr.Get(R"(/m3u8(/|/index\.php)?)",
            [&ctx](const httplib::Request& req, httplib::Response& res) {
                servePage(ctx, res, "aliplayer.html", streamAddress(req));
            });
    // Every player page configuration by name, for example /page/dplayer-customhls-autoplay?url=.
    svr.Get(R"(/page/([a-z0-9\-]+))", [&ctx](const httplib::Request& req, httplib::Response& res) {
        servePage(ctx, res, std::string(req.matches[1]) + ".html", streamAddress(req));
    });
    // Share pages (the first play source): a DPlayer page of the episode, or the notice that the
    // video was removed.
    svr.Get(R"(/share/(\d+)-(\d+))", [&ctx](const httplib::Request& req, httplib::Response& res) {
        const int id = leadingInt(req.matches[1]);
        const int episode = leadingInt(req.matches[2]);
        const demo::CatalogueItem* item = ctx.catalogue.find(id);
        if (!item || item->style == demo::PlayStyle::None || episode < 1 ||
            episode > item->episodes) {
            res.status = 404;
            return;
        }
        if (item->style == demo::PlayStyle::Removed) {
            res.set_content(
                "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>视频已经被移除</title>"
                "</head><body><pre>视频已经被移除</pre></body></html>",
                "text/html; charset=utf-8");
            return;
        }
        const std::string title = item->name + " " + demo::episodeLabel(*item, episode);
        servePage(ctx, res, "dplayer.html", demo::m3u8Address(ctx.httpBase, id, episode), title);
    });

    // The players' files, straight from the npm packages. Aliplayer fetches its HLS plugin at
    // run time; the page redirects that load here, where hls.js stands in for it.
    const std::string modules = ctx.root + "/node_modules";
    svr.set_mount_point("/vendor/dplayer", modules + "/dplayer/dist");
    svr.set_mount_point("/vendor/hls.js", modules + "/hls.js/dist");
    svr.set_mount_point("/vendor/aliplayer", modules + "/aliyun-aliplayer/dist");
    svr.Get(R"(/vendor/aliplayer-hls/aliplayer-hls2?-min\.js)",
            [modules](const httplib::Request&, httplib::Response& res) {
                auto js = readFile(modules + "/hls.js/dist/hls.min.js");
                if (!js) {
                    res.status = 404;
                    return;
                }
                sendAsIs(res, std::move(*js), "text/javascript");
            });
    svr.set_mount_point("/covers", ctx.root + "/media/covers");
    svr.set_mount_point("/players", ctx.root + "/players");
    svr.set_file_request_handler([](const httplib::Request&, httplib::Response& res) {
        sendAsIs(res, std::move(res.body), res.get_header_value("Content-Type"));
    });

    svr.Get("/", [&ctx](const httplib::Request&, httplib::Response& res) {
        const std::string b = ctx.httpBase;
        const std::string m = demo::m3u8Address(b, 22, 1);
        res.set_content(
            "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>演示服务器</title></head>"
            "<body><h1>演示服务器</h1><ul>"
            "<li><a href=\"" +
                b + "/player/jx.php?url=" + m +
                "\">DPlayer 播放页</a></li>"
                "<li><a href=\"" +
                b + "/m3u8/?url=" + m +
                "\">Aliplayer 播放页</a></li>"
                "<li><a href=\"" +
                m + "\">" + m +
                "</a></li>"
                "</ul></body></html>",
            "text/html; charset=utf-8");
    });

    svr.set_default_headers({{"Access-Control-Allow-Origin", "*"}});
    svr.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content(std::to_string(res.status) + "\n", "text/plain; charset=utf-8");
    });
    // 16 workers: the downloader opens a new connection for every segment.
    svr.new_task_queue = [] { return new httplib::ThreadPool(16); };
    svr.set_keep_alive_timeout(2);
}

void addLogger(httplib::Server& svr, const char* scheme)
{
    svr.set_logger([scheme](const httplib::Request& req, const httplib::Response& res) {
        logLine(clockText() + " " + scheme + " " + req.method + " " + req.target + " " +
                std::to_string(res.status) + " " +
                std::to_string(res.body.empty() ? res.content_length_ : res.body.size()));
    });
}

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc)
            return usage(("missing value after " + a).c_str());
        const char* v = argv[++i];
        if (a == "--root") {
            opt.root = v;
        } else if (a == "--https-port") {
            if (!parsePort(v, opt.httpsPort))
                return usage("bad --https-port");
        } else if (a == "--http-port") {
            if (!parsePort(v, opt.httpPort))
                return usage("bad --http-port");
        } else if (a == "--bind") {
            opt.bind = v;
        } else {
            return usage(("unknown option " + a).c_str());
        }
    }
    // Loopback only: the demo is a local fixture and must not be reachable from other machines.
    if (opt.bind == "localhost")
        opt.bind = "127.0.0.1";
    if (opt.bind.rfind("127.", 0) != 0)
        return usage("--bind takes a loopback address (127.x.x.x)");

    Context ctx;
    ctx.root = opt.root;
    std::string error;
    auto catalogue = demo::loadCatalogue(ctx.root + "/catalogue.tsv", error);
    if (!catalogue) {
        std::fprintf(stderr, "qy_demo_server: %s\n", error.c_str());
        return 1;
    }
    ctx.catalogue = std::move(*catalogue);
    const std::string cert = ctx.root + "/media/tls/server.crt";
    const std::string key = ctx.root + "/media/tls/server.key";
    if (!fs::exists(cert) || !fs::exists(key) || !fs::exists(ctx.root + "/media/clips/c1")) {
        std::fprintf(stderr,
                     "qy_demo_server: %s/media is not prepared; run tools/demo/prepare.sh first\n",
                     ctx.root.c_str());
        return 1;
    }

    // SIGINT and SIGTERM are taken by sigwait below; every thread started from here on inherits
    // the blocked mask, so the signals reach only the main thread's wait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    httplib::SSLServer tls(cert.c_str(), key.c_str());
    httplib::Server plain;
    if (!tls.is_valid()) {
        std::fprintf(stderr, "qy_demo_server: cannot load %s / %s\n", cert.c_str(), key.c_str());
        return 1;
    }
    demo::ProtocolSplitter front;
    if (!front.bind(opt.bind, opt.httpPort)) {
        std::fprintf(stderr, "qy_demo_server: cannot listen on %s:%d: %s\n", opt.bind.c_str(),
                     opt.httpPort, std::strerror(errno));
        return 1;
    }
    ctx.httpBase = "http://" + opt.bind + ":" + std::to_string(front.port());

    addRoutes(tls, ctx);
    addRoutes(plain, ctx);
    addLogger(tls, "https");
    addLogger(plain, "http");

    int httpsPort = opt.httpsPort;
    if (httpsPort == 0) {
        httpsPort = tls.bind_to_any_port(opt.bind.c_str());
    } else if (!tls.bind_to_port(opt.bind.c_str(), httpsPort)) {
        httpsPort = -1;
    }
    if (httpsPort <= 0) {
        std::fprintf(stderr, "qy_demo_server: cannot listen on %s:%d\n", opt.bind.c_str(),
                     opt.httpsPort);
        return 1;
    }
    const int plainPort = plain.bind_to_any_port(opt.bind.c_str());
    if (plainPort <= 0) {
        std::fprintf(stderr, "qy_demo_server: cannot open the internal HTTP port\n");
        return 1;
    }

    // One thread per server runs its accept loop; the splitter has its own accept thread.
    std::thread tlsThread([&tls] { tls.listen_after_bind(); });
    std::thread plainThread([&plain] { plain.listen_after_bind(); });
    front.start(plainPort, httpsPort);

    logLine("qy_demo_server: listening on https://" + opt.bind + ":" + std::to_string(httpsPort) +
            " and " + ctx.httpBase + " (root " + ctx.root + ", " +
            std::to_string(ctx.catalogue.items.size()) + " items)");

    int sig = 0;
    sigwait(&stopSignals, &sig);
    logLine(std::string("qy_demo_server: stopping on ") + (sig == SIGINT ? "SIGINT" : "SIGTERM"));
    front.stop();
    tls.stop();
    plain.stop();
    tlsThread.join();
    plainThread.join();
    return 0;
}
