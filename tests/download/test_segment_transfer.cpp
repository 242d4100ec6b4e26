// One segment into one file: the request, what counts as a segment, time-outs, stopping,
// decryption, byte ranges and the write buffering.
#include "download/segment_transfer.h"

#include "download/download_text.h"

#include "download_fixtures.h"

#include <openssl/evp.h>

#include <chrono>

using namespace dltest;
using namespace std::chrono_literals;

namespace {

struct Started {
    std::shared_ptr<CompletionEvent> done = std::make_shared<CompletionEvent>();
    SegmentTransfer transfer;
};

// Starts a transfer and waits for its completion event (at most 20 s).
TransferOutcome transferOnce(const std::string& url, const std::string& path,
                             const TransferOptions& o = {}, std::string* error = nullptr)
{
    Started r;
    r.transfer.start(url, path, r.done, o);
    EXPECT_TRUE(r.done->waitFor(20s));
    r.transfer.stop();
    if (error)
        *error = segmentFailureText(r.transfer.failure());
    return r.transfer.outcome();
}

class SegmentTransferTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    TestServer server;
    std::string file(const std::string& name)
    {
        return temp.filePath(QString::fromStdString(name)).toStdString();
    }
};

TEST_F(SegmentTransferTest, RequestCarriesTheAgentAndRangeAndNoCookieOrProxy)
{
    server.on("/s/1.ts", CannedResponse{200, {"Set-Cookie: a=1"}, std::string(5000, 'x')});
    // The playlist line's CR LF is not part of the requested path.
    EXPECT_EQ(transferOnce(server.url("/s/1.ts?k=v") + "\r\n", file("1.ts")),
              TransferOutcome::Completed);
    EXPECT_EQ(transferOnce(server.url("/s/1.ts?k=v"), file("2.ts")), TransferOutcome::Completed);
    auto reqs = server.requestsFor("/s/1.ts");
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].requestLine, "GET /s/1.ts?k=v HTTP/1.1");
    EXPECT_EQ(reqs[0].header("User-Agent").value_or(""), kUserAgent);
    EXPECT_EQ(reqs[0].header("Range").value_or(""), "bytes=0-");
    EXPECT_NE(std::find(reqs[0].headerLines.begin(), reqs[0].headerLines.end(), "Range:bytes=0-"),
              reqs[0].headerLines.end());
    EXPECT_FALSE(reqs[1].header("Cookie")); // no cookie engine
    EXPECT_EQ(readFile(file("1.ts")), std::string(5000, 'x'));
}

TEST_F(SegmentTransferTest, OnlyAWhole2xxAnswerBecomesTheFile)
{
    server.on("/404", CannedResponse{404, {"Content-Type: text/html"}, "<html>missing</html>"});
    server.on("/empty", CannedResponse{200, {}, ""});
    server.on("/cut", CannedResponse{200, {}, std::string(100000, 'c')}.cutAfter(30000));
    struct Case {
        const char* path;
        const char* errorPart;
    } cases[] = {{"/404", "404"}, {"/empty", "空"}, {"/cut", ""}};
    for (const auto& c : cases) {
        std::string target = file(std::string("x") + (c.path + 1) + ".ts");
        writeFile(target, "older content");
        std::string error;
        EXPECT_EQ(transferOnce(server.url(c.path), target, {}, &error), TransferOutcome::Failed)
            << c.path;
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.path << ": " << error;
        // The earlier file stays as it was and no partial file is left behind.
        EXPECT_EQ(readFile(target), "older content") << c.path;
        EXPECT_FALSE(fs::exists(target + ".part")) << c.path;
    }
}

// An answer past the transfer's limit fails as soon as it passes it, whether it announces its
// length or never ends; what had arrived is not kept, and the failure says which limit it was.
TEST_F(SegmentTransferTest, AnAnswerPastItsLimitFailsAndLeavesNoFile)
{
    server.on("/endless", CannedResponse{200, {}, std::string(1000, 'e')}.endless());
    server.on("/announced", CannedResponse{200, {}, std::string(5000, 'a')});
    server.on("/fits", CannedResponse{200, {}, std::string(4096, 'f')});
    struct Case {
        const char* path;
        int64_t limit;
        const char* error; // empty: the answer fits
    } cases[] = {{"/endless", 1024 * 1024, "超过 1 MiB 上限"},
                 {"/announced", 4096, "超过 4096 字节 上限"},
                 {"/fits", 4096, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string target = file(std::string(c.path + 1) + ".ts");
        TransferOptions o;
        o.maxBytes = c.limit;
        Started r;
        r.transfer.start(server.url(c.path), target, r.done, o);
        ASSERT_TRUE(r.done->waitFor(20s));
        r.transfer.stop();
        EXPECT_FALSE(fs::exists(target + ".part"));
        EXPECT_LE(r.transfer.bytesWritten(), c.limit);
        if (*c.error == '\0') {
            EXPECT_EQ(r.transfer.outcome(), TransferOutcome::Completed);
            EXPECT_FALSE(r.transfer.limitHit());
            continue;
        }
        EXPECT_EQ(r.transfer.outcome(), TransferOutcome::Failed);
        EXPECT_EQ(segmentFailureText(r.transfer.failure()), c.error);
        EXPECT_EQ(r.transfer.limitHit().error, BodyLimitError::TooLarge);
        EXPECT_FALSE(fs::exists(target));
    }
    EXPECT_EQ(TransferOptions{}.maxBytes, 512 * 1024 * 1024);
}

TEST_F(SegmentTransferTest, ANewFileReplacesALongerOldOneWhole)
{
    server.on("/a.ts", CannedResponse{200, {}, "short"});
    writeFile(file("a.ts"), std::string(20000, 'o'));
    EXPECT_EQ(transferOnce(server.url("/a.ts"), file("a.ts")), TransferOutcome::Completed);
    EXPECT_EQ(readFile(file("a.ts")), "short");
}

TEST_F(SegmentTransferTest, StalledAndDeadServersEndTheTransfer)
{
    server.on("/hang", CannedResponse::stall());
    server.on("/midway", CannedResponse{200, {}, std::string(50000, 'm')}.stallAfter(1000));
    TransferOptions o;
    o.stallTimeoutMs = 400;
    for (const char* path : {"/hang", "/midway"}) {
        std::string error;
        EXPECT_EQ(transferOnce(server.url(path), file("h.ts"), o, &error), TransferOutcome::Failed)
            << path;
        EXPECT_EQ(error, "接收超时") << path;
        EXPECT_FALSE(fs::exists(file("h.ts"))) << path;
    }
    // Nothing listens on port 1.
    EXPECT_EQ(transferOnce("http://127.0.0.1:1/x.ts", file("d.ts"), o), TransferOutcome::Failed);
}

TEST_F(SegmentTransferTest, ATrickleBelowTheLowSpeedLimitEndsTheTransfer)
{
    // One byte every 300 ms: never quiet long enough for the stall time, yet the answer would
    // take hours. The low-speed limit ends it.
    server.on("/trickle", CannedResponse{200, {}, std::string(100000, 't')}.slowly(1, 300ms));
    TransferOptions o;
    o.stallTimeoutMs = 60000;
    o.lowSpeedSeconds = 2;
    std::string error;
    EXPECT_EQ(transferOnce(server.url("/trickle"), file("t.ts"), o, &error),
              TransferOutcome::Failed);
    EXPECT_EQ(error, "速度过慢");
    EXPECT_FALSE(fs::exists(file("t.ts")));
}

TEST_F(SegmentTransferTest, TransfersToOneServerReuseTheirConnections)
{
    const std::string body(20000, 'k');
    for (auto scheme : {TestServer::Scheme::Http, TestServer::Scheme::Https}) {
        TestServer s(scheme);
        s.on("/k.ts", CannedResponse{200, {}, body});
        TransferOptions o;
        o.caFile = TestServer::certificateFile();
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(s.baseUrl() + " transfer " + std::to_string(i));
            // Each transfer on a thread of its own, one after the other.
            ASSERT_EQ(transferOnce(s.url("/k.ts"), file("k" + std::to_string(i) + ".ts"), o),
                      TransferOutcome::Completed);
            EXPECT_EQ(readFile(file("k" + std::to_string(i) + ".ts")), body);
        }
        // Without the shared connection cache every transfer opened a connection of its own.
        EXPECT_EQ(s.count("/k.ts"), 4);
        EXPECT_EQ(s.connectionCount(), 1) << s.baseUrl();
    }
}

// A segment comes only from a server whose certificate verifies, and a redirect takes it neither
// from https down to plain http nor to another protocol; the other server sees no connection.
TEST_F(SegmentTransferTest, SegmentsComeOnlyFromVerifiedWebServers)
{
    server.on("/s.ts", CannedResponse{200, {}, "plain segment"});
    TestServer tls(TestServer::Scheme::Https);
    TestServer wrong(TestServer::Scheme::Https, "127.0.0.1", TestServer::Certificate::WrongName);
    wrong.on("/s.ts", CannedResponse{200, {}, "segment"});
    tls.on("/s.ts", CannedResponse{200, {}, "segment"});
    tls.on("/down.ts", CannedResponse{302, {"Location: " + server.url("/s.ts")}});
    tls.on("/ftp.ts", CannedResponse{302, {"Location: ftp://" + server.hostPort() + "/s.ts"}});
    struct Case {
        const char* what;
        std::string url;
        TransferOutcome outcome;
        std::string error; // the start of it
    };
    const Case cases[] = {
        {"verified", tls.url("/s.ts"), TransferOutcome::Completed, ""},
        {"a certificate for another name", wrong.url("/s.ts"), TransferOutcome::Failed,
         "证书无效: 127.0.0.1 (SSL: no alternative certificate subject name"},
        {"redirected down to http", tls.url("/down.ts"), TransferOutcome::Failed, ""},
        {"redirected to ftp", tls.url("/ftp.ts"), TransferOutcome::Failed, ""},
    };
    TransferOptions o;
    o.caFile = TestServer::certificateFile();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_EQ(transferOnce(c.url, file("v.ts"), o, &error), c.outcome);
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        EXPECT_EQ(fs::exists(file("v.ts")), c.outcome == TransferOutcome::Completed);
        std::error_code ec;
        fs::remove(file("v.ts"), ec);
    }
    EXPECT_EQ(server.connectionCount(), 0);
    EXPECT_TRUE(wrong.requests().empty());
    // Keys and initialisation sections go the same way.
    EXPECT_EQ(fetchBytes(wrong.url("/s.ts"), {}, 5000, 5000, nullptr, kMapBodyLimit, {o.caFile})
                  .failure.kind,
              TransferFailure::Certificate);
    EXPECT_TRUE(
        fetchBytes(tls.url("/s.ts"), {}, 5000, 5000, nullptr, kMapBodyLimit, {o.caFile}).ok);
    EXPECT_FALSE(
        fetchBytes(tls.url("/down.ts"), {}, 5000, 5000, nullptr, kMapBodyLimit, {o.caFile}).ok);
    EXPECT_EQ(server.connectionCount(), 0);
}

TEST_F(SegmentTransferTest, StopWakesARunningTransferWithinTwoSeconds)
{
    server.on("/hang", CannedResponse::stall());
    Started r;
    r.transfer.start(server.url("/hang"), file("s.ts"), r.done);
    ASSERT_TRUE(server.waitForRequests(1, 5s));
    auto before = std::chrono::steady_clock::now();
    r.transfer.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_TRUE(r.done->waitFor(0ms)); // the completion event was signalled on this path too
    EXPECT_EQ(r.transfer.outcome(), TransferOutcome::Stopped);
    EXPECT_FALSE(fs::exists(file("s.ts")));
}

TEST_F(SegmentTransferTest, EmptyUrlOrPathSignalsAtOnce)
{
    Started a, b;
    a.transfer.start("", file("e.ts"), a.done);
    b.transfer.start(server.url("/x"), "", b.done);
    EXPECT_TRUE(a.done->waitFor(0ms));
    EXPECT_TRUE(b.done->waitFor(0ms));
    a.transfer.stop(); // nothing to stop
    EXPECT_EQ(a.transfer.outcome(), TransferOutcome::Failed);
    EXPECT_EQ(server.requests().size(), 0u);
}

std::string encrypt(const std::string& plain, const std::array<uint8_t, 16>& key,
                    const std::array<uint8_t, 16>& iv)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::string out(plain.size() + 16, '\0');
    int n1 = 0, n2 = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv.data());
    EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n1,
                      reinterpret_cast<const unsigned char*>(plain.data()),
                      static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + n1, &n2);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(n1 + n2);
    return out;
}

TEST_F(SegmentTransferTest, Aes128SegmentsAreStoredDecrypted)
{
    TransferOptions o;
    o.decrypt = true;
    for (int i = 0; i < 16; ++i) {
        o.key[i] = static_cast<uint8_t>(i * 7);
        o.iv[i] = static_cast<uint8_t>(255 - i);
    }
    std::string plain(70001, '\0');
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<char>(i * 31);
    server.on("/enc.ts", CannedResponse{200, {}, encrypt(plain, o.key, o.iv)}.slowly(4096, 1ms));
    EXPECT_EQ(transferOnce(server.url("/enc.ts"), file("enc.ts"), o), TransferOutcome::Completed);
    EXPECT_EQ(readFile(file("enc.ts")), plain);

    // A wrong key leaves bad padding: the segment fails and no file is written.
    o.key[0] ^= 1;
    std::string error;
    EXPECT_EQ(transferOnce(server.url("/enc.ts"), file("bad.ts"), o, &error),
              TransferOutcome::Failed);
    EXPECT_EQ(error, "解密失败");
    EXPECT_FALSE(fs::exists(file("bad.ts")));
    // Told apart from a network failure, and only for the wrong bytes, not for a cut answer.
    Started bad;
    bad.transfer.start(server.url("/enc.ts"), file("bad.ts"), bad.done, o);
    ASSERT_TRUE(bad.done->waitFor(20s));
    bad.transfer.stop();
    EXPECT_TRUE(bad.transfer.decryptFailed());
    o.key[0] ^= 1;
    server.on("/cut.ts", CannedResponse{200, {}, encrypt(plain, o.key, o.iv)}.cutAfter(30000));
    Started cut;
    cut.transfer.start(server.url("/cut.ts"), file("cut.ts"), cut.done, o);
    ASSERT_TRUE(cut.done->waitFor(20s));
    cut.transfer.stop();
    EXPECT_EQ(cut.transfer.outcome(), TransferOutcome::Failed);
    EXPECT_FALSE(cut.transfer.decryptFailed());
}

TEST_F(SegmentTransferTest, ByteRangesAreRequestedAndMustBeAnsweredAsRanges)
{
    std::string body;
    for (int i = 0; i < 1000; ++i)
        body += static_cast<char>('a' + i % 26);
    server.onHandler("/all.ts",
                     [body](const RecordedRequest& r, int) { return rangedAnswer(body, r); });
    server.on("/norange.ts", CannedResponse{200, {}, body});
    TransferOptions o;
    o.range = ByteRange{100, 250};
    EXPECT_EQ(transferOnce(server.url("/all.ts"), file("r.ts"), o), TransferOutcome::Completed);
    EXPECT_EQ(readFile(file("r.ts")), body.substr(250, 100));
    EXPECT_EQ(server.lastRequest()->header("Range").value_or(""), "bytes=250-349");
    EXPECT_EQ(transferOnce(server.url("/norange.ts"), file("n.ts"), o), TransferOutcome::Failed);
}

TEST(ChunkBuffer, CollectsChunksUntilTheNextWouldNotFitAndGrowsToTheLargest)
{
    struct Case {
        const char* name;
        std::vector<size_t> chunks;
        std::vector<size_t> writes;
        size_t capacity;
    } cases[] = {
        // The first chunk goes straight out; then ten 1000-byte chunks fit in 10240.
        {"small chunks", std::vector<size_t>(22, 1000), {1000, 10000, 10000, 1000}, 10240},
        {"a large chunk after pending bytes",
         {100, 5000, 20000, 300},
         {100, 5000, 20000, 300},
         20000},
        {"a large first chunk sets the capacity", {30000, 30000, 1}, {30000, 30000, 1}, 30000},
    };
    for (const auto& c : cases) {
        std::vector<size_t> writes;
        ChunkBuffer buffer([&](const char*, size_t n) {
            writes.push_back(n);
            return true;
        });
        for (size_t n : c.chunks)
            buffer.add(std::string(n, 'x').data(), n);
        buffer.flush();
        EXPECT_EQ(writes, c.writes) << c.name;
        EXPECT_EQ(buffer.capacity(), c.capacity) << c.name;
    }
}

TEST(CrackUrl, SplitsSchemeHostPortPathAndTheRest)
{
    struct Case {
        const char* url;
        bool ok;
        int scheme;
        const char* host;
        int port;
        const char* path;
        const char* extra;
    } cases[] = {
        {"http://Example.com", true, 1, "Example.com", 80, "/", ""},
        {"https://h.example/a/b.ts?x=1#f", true, 2, "h.example", 443, "/a/b.ts", "?x=1#f"},
        {"http://127.0.0.1:8080/s/1.ts\r\n", true, 1, "127.0.0.1", 8080, "/s/1.ts", ""},
        {"ftp://h/x", false, 0, "h", 21, "/x", ""},
        {"", false, 0, "", 0, "/", ""},
    };
    for (const auto& c : cases) {
        CrackedUrl u = crackUrl(c.url);
        EXPECT_EQ(u.ok, c.ok) << c.url;
        if (!c.ok)
            continue;
        EXPECT_EQ(u.scheme, c.scheme) << c.url;
        EXPECT_EQ(u.host, c.host) << c.url;
        EXPECT_EQ(u.port, c.port) << c.url;
        EXPECT_EQ(u.path, c.path) << c.url;
        EXPECT_EQ(u.extra, c.extra) << c.url;
    }
}

} // namespace
