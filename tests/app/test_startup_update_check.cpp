// The update page: how it is fetched and how its version text is read.

#include "app/update_check.h"

#include "support/test_server.h"

#include <gtest/gtest.h>

namespace {

TEST(UpdatePage, VersionBetweenTheMarkersDecides)
{
    const struct {
        const char* page;
        UpdateOutcome outcome;
        const char* version;
    } cases[] = {
        {"[版本1]7.4[版本2]", UpdateOutcome::UpToDate, "7.4"},
        {"新版本: [版本1]7.4[版本2] 请下载", UpdateOutcome::UpToDate, "7.4"},
        {"[版本1]7.5[版本2]", UpdateOutcome::NewVersion, "7.5"},
        {"[版本1]7.3[版本2]", UpdateOutcome::NewVersion, "7.3"},
        {"[版本1] 7.4[版本2]", UpdateOutcome::NewVersion, " 7.4"},
        {"[版本1]7.4\r\n[版本2]", UpdateOutcome::NewVersion, "7.4\r\n"},
        // The first "[版本1]" and the first "[版本2]" after it.
        {"[版本2]9.9[版本1]7.4[版本2]8.0[版本2]", UpdateOutcome::UpToDate, "7.4"},
        {"[版本1]7.4[版本1]7.5[版本2]", UpdateOutcome::NewVersion, "7.4[版本1]7.5"},
        {"没有版本号的页面", UpdateOutcome::NoVersion, ""},
        {"[版本1]7.4", UpdateOutcome::NoVersion, ""},
        {"7.4[版本2]", UpdateOutcome::NoVersion, ""},
        {"[版本1][版本2]", UpdateOutcome::NoVersion, ""},
        {"[版本1]7.4[版本２]", UpdateOutcome::NoVersion, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        const UpdateCheck check = evaluateUpdatePage(c.page);
        EXPECT_EQ(check.outcome, c.outcome);
        EXPECT_EQ(check.version, c.version);
        EXPECT_EQ(check.reason.empty(), c.outcome != UpdateOutcome::NoVersion);
    }
}

TEST(UpdatePage, FetchedWithAPlainHttp10GetFollowingRedirects)
{
    TestServer server;
    server.on("/moved", {302, {"Location: /version.txt"}, ""});
    server.on("/version.txt",
              {200, {"Content-Type: text/plain; charset=utf-8"}, "[版本1]7.4[版本2]"});
    const UpdateCheck check = runUpdateCheck(server.url("/moved"));
    EXPECT_EQ(check.outcome, UpdateOutcome::UpToDate);
    ASSERT_EQ(server.count("/version.txt"), 1);
    const RecordedRequest request = server.requestsFor("/version.txt").front();
    EXPECT_EQ(request.requestLine, "GET /version.txt HTTP/1.0");
    EXPECT_EQ(request.header("Accept"), "*/*");
    EXPECT_TRUE(request.body.empty());
}

TEST(UpdatePage, FailuresAreReportedWithTheirReason)
{
    TestServer server;
    server.on("/gone", {404, {}, "[版本1]7.5[版本2]"});
    server.on("/empty", {200, {}, ""});

    const UpdateCheck gone = runUpdateCheck(server.url("/gone"));
    EXPECT_EQ(gone.outcome, UpdateOutcome::Unreachable) << "an error page is not the update page";
    EXPECT_EQ(gone.reason, "HTTP 404");

    EXPECT_EQ(runUpdateCheck(server.url("/empty")).outcome, UpdateOutcome::Unreachable);

    // A page that never ends is given up at the page limit.
    server.on("/endless", CannedResponse{200, {}, "[版本1]7.5[版本2]"}.endless());
    const UpdateCheck endless = runUpdateCheck(server.url("/endless"));
    EXPECT_EQ(endless.outcome, UpdateOutcome::Unreachable);
    EXPECT_EQ(endless.reason, "更新页面超过 16 MiB 上限,已放弃");

    // A port nobody listens on.
    std::string unusedUrl;
    {
        TestServer closed;
        unusedUrl = closed.url("/version.txt");
    }
    const UpdateCheck refused = runUpdateCheck(unusedUrl);
    EXPECT_EQ(refused.outcome, UpdateOutcome::Unreachable);
    EXPECT_FALSE(refused.reason.empty());

    const UpdateCheck noLink = runUpdateCheck("");
    EXPECT_EQ(noLink.outcome, UpdateOutcome::NoLink);
    EXPECT_FALSE(noLink.reason.empty());
}

// Over https the update page is read only from a server whose certificate verifies, and a
// redirect never takes the check from https down to plain http.
TEST(UpdatePage, OverHttpsOnlyAVerifiedServerIsRead)
{
    TestServer plain;
    plain.on("/version.txt", {200, {}, "[版本1]7.5[版本2]"});
    TestServer tls(TestServer::Scheme::Https);
    tls.on("/version.txt", {200, {}, "[版本1]7.5[版本2]"});
    tls.on("/down", {302, {"Location: " + plain.url("/version.txt")}, ""});
    TestServer wrong(TestServer::Scheme::Https, "127.0.0.1", TestServer::Certificate::WrongName);
    wrong.on("/version.txt", {200, {}, "[版本1]7.5[版本2]"});
    const TransferPolicy trusted{TestServer::certificateFile()};
    struct Case {
        const char* what;
        std::string link;
        TransferPolicy policy;
        UpdateOutcome outcome;
        std::string reason; // the start of it
    };
    const Case cases[] = {
        {"trusted authority", tls.url("/version.txt"), trusted, UpdateOutcome::NewVersion, ""},
        {"the system store alone",
         tls.url("/version.txt"),
         {},
         UpdateOutcome::Unreachable,
         "证书无效: 127.0.0.1 (SSL certificate problem"},
        {"a certificate for another name", wrong.url("/version.txt"), trusted,
         UpdateOutcome::Unreachable, "证书无效: 127.0.0.1 (SSL: no alternative"},
        {"redirected to plain http", tls.url("/down"), trusted, UpdateOutcome::Unreachable,
         "Protocol"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const UpdateCheck check = runUpdateCheck(c.link, c.policy);
        EXPECT_EQ(check.outcome, c.outcome);
        EXPECT_EQ(check.reason.rfind(c.reason, 0), 0u) << check.reason;
    }
    EXPECT_EQ(plain.count("/version.txt"), 0);
    EXPECT_TRUE(wrong.requests().empty());
}

} // namespace
