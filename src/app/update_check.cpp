#include "app/update_check.h"

#include "app/builtin_config.h"
#include "app/message_box.h"
#include "app/paths.h"
#include "app/program_values.h"
#include "app/settings_store.h"
#include "app/status_log.h"
#include "app/transfer_settings.h"
#include "net/curl_easy.h"
#include "util/gui_thread.h"
#include "util/marker_text.h"

#include <QProcess>
#include <QString>

#include <curl/curl.h>

#include <cstdint>

std::string updateLink()
{
    const std::string link = readSetting("配置项", "更新地址");
    return link.empty() ? std::string(kBuiltinUpdateLink) : link;
}

std::string fetchUpdatePage(const std::string& link, TransferError* error,
                            const TransferPolicy& policy)
{
    auto fail = [error](TransferError why) {
        if (error)
            *error = std::move(why);
        return std::string();
    };
    Transfer transfer;
    if (!transfer.valid())
        return fail(TransferError::of(TransferFailure::Other, "the request could not be made"));
    TransferSetup setup;
    setup.policy = policy;
    setup.httpVersion = CURL_HTTP_VERSION_1_0;
    // The check runs on the GUI thread before the window is usable: bound the wait.
    setup.connectTimeoutMs = 10000;
    setup.idleTimeoutMs = 0;
    setup.totalTimeoutMs = 20000;
    transfer.prepare(link, setup);
    CURL* h = transfer.handle();
    CurlHeaderList headers;
    headers.append("Accept: */*");
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    BodyCollector body(kPageBodyLimit);
    body.install(h);
    if (transfer.perform(body.limitHit()) != CURLE_OK)
        return fail(transfer.error());
    const long status = transfer.status();
    if (status < 200 || status >= 300) {
        transfer.refuseStatus(status);
        return fail(transfer.error());
    }
    if (error)
        *error = {};
    return body.take();
}

namespace {

// Why the update page could not be read, as the status log says it.
std::string updateFailureText(const TransferError& error)
{
    switch (error.kind) {
    case TransferFailure::TooLarge:
        return "更新页面超过 " + std::to_string(kPageBodyLimit / (int64_t{1024} * 1024)) +
               " MiB 上限,已放弃";
    case TransferFailure::Certificate: return certificateFailureText(error);
    case TransferFailure::None: return "更新页面是空的";
    default: return error.detail;
    }
}

} // namespace

UpdateCheck evaluateUpdatePage(const std::string& page)
{
    UpdateCheck check;
    // The page text is UTF-8, like the markers.
    check.version = textBetween(page, "[版本1]", "[版本2]");
    if (check.version.empty()) {
        check.outcome = UpdateOutcome::NoVersion;
        check.reason = "更新页面上没有版本号";
        return check;
    }
    check.outcome =
        check.version == kCurrentVersion ? UpdateOutcome::UpToDate : UpdateOutcome::NewVersion;
    return check;
}

UpdateCheck runUpdateCheck(const std::string& link, const TransferPolicy& policy)
{
    if (link.empty())
        return {UpdateOutcome::NoLink, {}, "没有设置更新地址"};
    TransferError error;
    const std::string page = fetchUpdatePage(link, &error, policy);
    if (page.empty())
        return {UpdateOutcome::Unreachable, {}, updateFailureText(error)};
    return evaluateUpdatePage(page);
}

std::string updaterPath()
{
#ifdef _WIN32
    const char* suffix = ".exe";
#else
    const char* suffix = "";
#endif
    return programFolder() + pathSeparator() + "Update" + suffix;
}

bool startUpdater(const std::string& path)
{
    return QProcess::startDetached(QString::fromStdString(path), {});
}

bool checkForUpdate(const MessageBox& showMessage)
{
    gui::assertGuiThread();
    const UpdateCheck check = runUpdateCheck(updateLink(), transferPolicyFromSettings());
    switch (check.outcome) {
    case UpdateOutcome::UpToDate:
    case UpdateOutcome::NoLink:
        // No update address set: there was nothing to check, which is not worth a line.
        return false;
    case UpdateOutcome::Unreachable:
    case UpdateOutcome::NoVersion: logStatus("未检查更新: " + check.reason); return false;
    case UpdateOutcome::NewVersion: break;
    }
    const auto say = [&showMessage](const std::string& text) {
        if (showMessage)
            showMessage(text, "", kMessageOk);
    };
    say("客观！~发现最新版本即将更新！");
    const std::string updater = updaterPath();
    if (startUpdater(updater))
        return true;
    say("无法启动更新程序:\r\n" + updater + "\r\n\r\n本次继续使用当前版本");
    logStatus("更新程序无法启动: " + updater);
    return false;
}
