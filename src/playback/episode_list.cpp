#include "playback/episode_list.h"

#include "app/main_form.h"
#include "app/status_log.h"
#include "app/transfer_settings.h"
#include "catalogue/catalogue_client.h"
#include "net/http_request.h"
#include "util/gui_call.h"
#include "util/marker_text.h"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace {

constexpr int kEpisodesPerGridRow = 10;
constexpr int kGridColumns = kEpisodesPerGridRow * 3;
constexpr int kLabelColumnWidth = 42;

std::mutex g_seriesLock;
std::shared_ptr<const OpenSeries> g_openSeries = std::make_shared<const OpenSeries>();

std::mutex g_hooksLock;
SeriesRowHooks g_hooks;

std::atomic<int> g_runningCovers{0};

SeriesRowHooks hooks()
{
    std::lock_guard<std::mutex> lock(g_hooksLock);
    return g_hooks;
}

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

void setSeriesRowHooks(SeriesRowHooks newHooks)
{
    std::lock_guard<std::mutex> lock(g_hooksLock);
    g_hooks = std::move(newHooks);
}

bool fillEpisodeGrid(MainForm& form, const std::vector<Episode>& episodes)
{
    gui::assertGuiThread();
    const LatestRequest::Ticket fill = form.gridFills.begin();
    QPointer<QTableWidget> grid = form.高级表格_剧集;
    grid->clearContents();
    grid->setColumnCount(kGridColumns);
    grid->setRowCount(1);
    for (int column = 0; column < kGridColumns; ++column)
        grid->setColumnWidth(column, column % 3 == 0 ? kLabelColumnWidth : 0);
    grid->setWordWrap(true);
    grid->hide();

    const QColor labelColour(255, 168, 255);
    int column = -3;
    int inRow = 0;
    int gridRow = 0;
    for (const Episode& episode : episodes) {
        if (inRow == kEpisodesPerGridRow) {
            ++gridRow;
            inRow = 0;
            column = -3;
            grid->setRowCount(gridRow + 1);
        }
        column += 3;
        const std::string* texts[3] = {&episode.label, &episode.url, &episode.m3u8};
        for (int i = 0; i < 3; ++i) {
            auto* cell = new QTableWidgetItem(QString::fromStdString(*texts[i]));
            cell->setTextAlignment(Qt::AlignCenter);
            grid->setItem(gridRow, column + i, cell);
        }
        grid->item(gridRow, column)->setBackground(labelColour);
        ++inRow;
        // Keep the window responsive; a newer fill (or the window going away) ends this one.
        QCoreApplication::processEvents();
        if (grid.isNull() || !fill.current())
            return false;
    }
    grid->show();
    return true;
}

void startCoverFetch(MainForm& form, const std::string& url)
{
    // A newer cover fetch supersedes this one: its download ends and it shows nothing.
    const LatestRequest::Ticket fetch = form.coverRequests.begin();
    ++g_runningCovers;
    const TransferPolicy policy = transferPolicyFromSettings();
    // Worker thread: the download and the decoding; the picture is set on the GUI thread.
    std::thread([&form, fetch, url, policy] {
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
        QImage image;
        if (!body.empty())
            image.loadFromData(reinterpret_cast<const uchar*>(body.data()),
                               static_cast<int>(body.size()));
        gui::call([&] {
            if (!fetch.current())
                return;
            // A cover whose server's certificate did not verify is not shown; the log says why.
            if (failure.kind == TransferFailure::Certificate)
                logStatus(certificateFailureText(failure));
            QLabel* box = form.图片框_封面;
            if (image.isNull())
                box->setPixmap(QPixmap());
            else
                box->setPixmap(QPixmap::fromImage(
                    image.scaled(box->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
        });
        --g_runningCovers;
    }).detach();
}

int runningCoverFetches()
{
    return g_runningCovers.load();
}

void openSeriesRow(MainForm& form)
{
    gui::assertGuiThread();
    QTreeWidgetItem* row = form.超级列表框_列表->currentItem();
    if (row == nullptr || row->text(1).isEmpty())
        return;
    // Copies: the row may be gone once pending events have run.
    const std::string name = row->text(0).toStdString();
    const std::string blurb = row->text(2).toStdString();
    const std::string cover = row->text(3).toStdString();
    const std::string playText = row->text(4).toStdString();
    const std::string playFrom = row->data(4, kPlayFromRole).toString().toStdString();
    const std::string historyUrl = row->text(5).toStdString();
    const std::string historyM3u8 = row->text(6).toStdString();

    const SeriesRowHooks seriesHooks = hooks();
    if (playText.empty()) {
        if (!historyUrl.empty() && seriesHooks.historyRowOpened)
            seriesHooks.historyRowOpened(form, name, historyUrl, historyM3u8);
        return;
    }

    startCoverFetch(form, cover);
    OpenSeries series;
    series.episodeFields = splitPlayText(playText);
    series.episodes = selectEpisodes(playFrom, playText);
    const std::vector<Episode> episodes = series.episodes;
    publishOpenSeries(std::move(series));
    if (!fillEpisodeGrid(form, episodes))
        return; // another series row was opened meanwhile and is being laid out
    form.透明标签_标题->setText(QString::fromStdString(name));
    form.透明标签_简介->setText(QString::fromStdString(blurb));
    form.超级按钮_下载->setVisible(true);
    if (seriesHooks.resumePending && seriesHooks.resumePending() && seriesHooks.startResume &&
        seriesHooks.startResume(form))
        return;
    logStatus("获取 " + form.透明标签_标题->text().toStdString() + " 详细完成");
}
