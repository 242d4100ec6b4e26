#include "playback/episode_list.h"

#include "app/status_log.h"
#include "app/transfer_settings.h"
#include "net/http_request.h"
#include "playback/player_controller.h"
#include "util/gui_call.h"
#include "util/marker_text.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace {

constexpr int kEpisodesPerGridRow = 10;

std::mutex g_seriesLock;
std::shared_ptr<const OpenSeries> g_openSeries = std::make_shared<const OpenSeries>();

} // namespace

TextList splitPlayText(const std::string& playText)
{
    std::string text = playText;
    replaceAll(text, "$", "#");
    replaceAll(text, "###", "#");
    replaceAll(text, "\\/", "/");
    replaceAll(text, "第", "");
    replaceAll(text, "集", "");
    TextList fields;
    for (std::string& piece : splitText(text, "#"))
        if (!piece.empty())
            fields.push_back(std::move(piece));
    return fields;
}

std::shared_ptr<const OpenSeries> openSeries()
{
    std::lock_guard<std::mutex> lock(g_seriesLock);
    return g_openSeries;
}

void publishOpenSeries(OpenSeries series)
{
    auto next = std::make_shared<const OpenSeries>(std::move(series));
    std::lock_guard<std::mutex> lock(g_seriesLock);
    g_openSeries = std::move(next);
}

TextList episodeFields()
{
    return openSeries()->episodeFields;
}

int episodeIndexOfCell(int row, int column, std::size_t episodeCount)
{
    if (row < 0 || column < 0 || column >= kEpisodesPerGridRow * 3 || column % 3 != 0)
        return -1;
    const std::size_t index =
        static_cast<std::size_t>(row) * kEpisodesPerGridRow + static_cast<std::size_t>(column / 3);
    return index < episodeCount ? static_cast<int>(index) : -1;
}

SeriesBrowser::SeriesBrowser(SeriesView& view, const CatalogueBrowser& listing, Events events)
        : view_(view), listing_(listing), events_(std::move(events))
{}

SeriesBrowser::~SeriesBrowser()
{
    stop();
}

void SeriesBrowser::stop()
{
    coverRequests_.cancelAll();
    while (runningCovers_->load() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void SeriesBrowser::startCoverFetch(const std::string& url)
{
    gui::assertGuiThread();
    // A newer cover fetch supersedes this one: its download ends and it shows nothing.
    const LatestRequest::Ticket fetch = coverRequests_.begin();
    ++*runningCovers_;
    const TransferPolicy policy = transferPolicyFromSettings();
    // Worker thread: the download; the bytes are posted to the GUI thread, where the ticket is
    // checked (stop() cancels every ticket before this object goes).
    std::thread([this, fetch, url, policy, running = runningCovers_] {
        std::string body;
        TransferError failure;
        if (!url.empty()) {
            HttpRequest request;
            RequestOptions options;
            options.cancelled = fetch.cancelCheck();
            options.policy = policy;
            body = request.send(url, options);
            failure = request.failure();
            if (request.statusCode() < 200 || request.statusCode() >= 300)
                body.clear();
        }
        gui::post(QCoreApplication::instance(),
                  [this, fetch, failure = std::move(failure), body = std::move(body)] {
                      if (!fetch.current())
                          return;
                      // A cover whose server's certificate did not verify is not shown; the log
                      // says why.
                      if (failure.kind == TransferFailure::Certificate)
                          logStatus(certificateFailureText(failure));
                      view_.showCover(body);
                  });
        --*running;
    }).detach();
}

void SeriesBrowser::openRow(int index)
{
    gui::assertGuiThread();
    const CatalogueItem* found = listing_.row(index);
    if (found == nullptr || found->typeName.empty())
        return;
    const CatalogueItem row = *found;
    if (row.playText.empty()) {
        if (!row.historyUrl.empty() && events_.historyRowOpened)
            events_.historyRowOpened(row);
        return;
    }

    startCoverFetch(row.cover);
    OpenSeries series;
    series.episodeFields = splitPlayText(row.playText);
    series.episodes = selectEpisodes(row.playFrom, row.playText);
    showSeries(row.title, std::move(series));
    view_.setBlurb(row.blurb);
    view_.showDownloadButton();
    if (events_.seriesShown && events_.seriesShown(title_))
        return;
    logStatus("获取 " + title_ + " 详细完成");
}

void SeriesBrowser::showSeries(const std::string& title, OpenSeries series)
{
    gui::assertGuiThread();
    episodes_ = series.episodes;
    publishOpenSeries(std::move(series));
    view_.showEpisodes(episodes_);
    title_ = title;
    view_.setSeriesTitle(title);
}

void SeriesBrowser::playCell(int row, int column)
{
    gui::assertGuiThread();
    const int index = episodeIndexOfCell(row, column, episodes_.size());
    if (index < 0)
        return;
    playEpisodeCell(episodes_[static_cast<std::size_t>(index)], title_, view_);
}
